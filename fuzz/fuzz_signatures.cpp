// The input as a source of 512-byte sectors: the type that starts it and its
// carved size, the structure-sector test, and the content check of each
// extension of the table.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "carve/signatures.h"
#include "storage/sector_device.h"

using namespace kestrel;

namespace {

const uint8_t* gData = nullptr;
size_t gSize = 0;

ssize_t ReadInput(int, void* buffer, size_t count, off_t offset) {
  if (offset < 0 || size_t(offset) >= gSize) return 0;
  size_t n = std::min(count, gSize - size_t(offset));
  std::memcpy(buffer, gData + offset, n);
  if (n < count) std::memset(static_cast<uint8_t*>(buffer) + n, 0, count - n);
  return ssize_t(count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  gData = data;
  gSize = size;
  SectorDevice device;
  device.Adopt(UniqueFd(open("/dev/null", O_RDONLY | O_CLOEXEC)));
  device.read = ReadInput;
  device.totalSectors = (size + kImageSectorBytes - 1) / kImageSectorBytes;

  std::vector<uint8_t> first(kImageSectorBytes, 0);
  std::memcpy(first.data(), data, std::min<size_t>(size, first.size()));
  SignatureSource source{&device, kImageSectorBytes, size};
  CarveContext context;
  IdentifyResult result;
  int answer = IdentifyAndSize(context, source, ByteView(first), 0, CarveProgress{}, result);
  // A size never runs past the end of the source.
  if (answer == 0 && result.size > size) __builtin_trap();
  (void)IsStructureSector(ByteView(first));

  SignatureScratch scratch;
  for (const SignatureRow& row : SignatureTable()) {
    (void)CheckFirstSector(ByteView(first), row.extension, source, 0, scratch);
  }
  return 0;
}
