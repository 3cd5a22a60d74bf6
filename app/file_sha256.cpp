#include "app/file_sha256.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include <openssl/evp.h>

#include "platform/error_codes.h"
#include "platform/file_io.h"

namespace kestrel {

namespace {

std::string Hex(const unsigned char* sum, unsigned int length) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string digest;
  for (unsigned int i = 0; i < length; ++i) {
    digest += kHex[sum[i] >> 4];
    digest += kHex[sum[i] & 15];
  }
  return digest;
}

}  // namespace

std::string Sha256OfBytes(const void* data, size_t size) {
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data, size, sum, &length, EVP_sha256(), nullptr) != 1) return {};
  return Hex(sum, length);
}

int Sha256OfFile(const std::filesystem::path& path, std::string& digest) {
  digest.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LastError(IoDirection::kRead);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    ::close(fd);
    return kErrNotEnoughMemory;
  }
  std::vector<uint8_t> buffer(1 << 20);
  int error = kSuccess;
  for (uint64_t offset = 0;; ) {
    size_t got = 0;
    error = PreadAll(fd, buffer.data(), buffer.size(), offset, got);
    if (error != kSuccess || got == 0) break;
    EVP_DigestUpdate(context.get(), buffer.data(), got);
    offset += got;
  }
  ::close(fd);
  if (error != kSuccess) return error;
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context.get(), sum, &length);
  digest = Hex(sum, length);
  return kSuccess;
}

}  // namespace kestrel
