// Identification with sizing for the carver, the content check for the other
// engines, and the small helpers the recognisers and size rules share.
#include "carve/signatures.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "carve/signature_internal.h"
#include "platform/error_codes.h"

namespace kestrel {

uint64_t SignatureSource::EffectiveEndByte() const {
  if (endByte != 0) return endByte;
  if (device != nullptr && sectorBytes > 0) return device->totalSectors * static_cast<uint64_t>(sectorBytes);
  return UINT64_MAX;
}

CarveContext::CarveContext(SignatureScratch* scratch) {
  if (scratch == nullptr) {
    owned_ = std::make_unique<SignatureScratch>();
    scratch = owned_.get();
  }
  scratch_ = scratch;
}

uint8_t* CarveContext::walkBuffer() {
  if (!walk_) walk_ = std::make_unique<SignatureScratch>();
  return walk_->data();
}

namespace sig {

uint32_t ReadIntoBuffer(CarveContext& c, uint64_t first, uint32_t count) {
  const SignatureSource& source = c.source;
  if (source.device == nullptr || source.sectorBytes <= 0 || count == 0) return 0;
  uint64_t sectorBytes = static_cast<uint64_t>(source.sectorBytes);
  count = std::min<uint32_t>(count, static_cast<uint32_t>(kSignatureScratchBytes / sectorBytes));
  uint64_t end = source.EffectiveEndByte();
  if (end != UINT64_MAX) {
    uint64_t endSector = (end + sectorBytes - 1) / sectorBytes;
    if (first >= endSector) return 0;
    count = static_cast<uint32_t>(std::min<uint64_t>(count, endSector - first));
  }
  int32_t sectorsRead = 0;
  int error = ReadSectors(static_cast<int32_t>(count), *source.device, c.buffer(), first, source.sectorBytes,
                          &sectorsRead);
  if (error == kSuccess) return count * source.sectorBytes;
  if (error == kErrReadFault) return static_cast<uint32_t>(sectorsRead) * source.sectorBytes;
  return 0;
}

size_t FindBytes(ByteView hay, std::string_view needle, size_t from) {
  if (needle.empty() || hay.size() < needle.size() || from > hay.size() - needle.size()) return std::string_view::npos;
  const uint8_t* begin = hay.data();
  const uint8_t* last = begin + (hay.size() - needle.size());
  const uint8_t first = static_cast<uint8_t>(needle[0]);
  for (const uint8_t* p = begin + from; p <= last;) {
    p = static_cast<const uint8_t*>(std::memchr(p, first, static_cast<size_t>(last - p) + 1));
    if (p == nullptr) break;
    if (std::memcmp(p, needle.data(), needle.size()) == 0) return static_cast<size_t>(p - begin);
    ++p;
  }
  return std::string_view::npos;
}

bool IsTailClean(ByteView buffer, size_t end, int32_t sectorBytes) {
  if (sectorBytes <= 0) return false;
  size_t sector = static_cast<size_t>(sectorBytes);
  if (end % sector == 0) return true;
  size_t sectorEnd = std::min(buffer.size(), (end / sector + 1) * sector);
  for (size_t i = end; i < sectorEnd; ++i) {
    if (buffer.data()[i] != 0) return false;
  }
  return true;
}

}  // namespace sig

int IdentifyAndSize(CarveContext& context, const SignatureSource& source, ByteView data, uint64_t hitSector,
                    const CarveProgress& progress, IdentifyResult& result) {
  result = IdentifyResult{};
  context.source = source;
  context.hitSector = hitSector;
  context.currentSector = hitSector;
  context.values = progress;

  int32_t code = kTypeUnrecognised;
  const SignatureRow* hit = Identify(data, context, code);
  context.carvingInProgress = true;
  context.lastWasMts = false;
  if (hit == nullptr) return kErrInvalidParameter;

  // The reported type is the first row with the code the recogniser gave
  // (the OLE recogniser, met at the doc row, may say Excel).
  const SignatureRow* reported = hit;
  for (const SignatureRow& row : SignatureTable()) {
    if (row.code == code) {
      reported = &row;
      break;
    }
  }
  result.code = code;
  result.extension = reported->extension;
  char name[64];
  std::snprintf(name, sizeof name, "%llu.%s", static_cast<unsigned long long>(hitSector), reported->extension);
  result.name = name;
  if (hit->size == nullptr) return kErrInvalidParameter;
  result.hasSizeRule = true;

  if (code != kTypeTransportStream) context.carvingInProgress = false;
  if (code == kTypeMts) context.lastWasMts = true;

  context.cancelResult = 0;
  context.structureBroken = false;
  uint64_t size = hit->size(data, context);
  result.damaged = context.structureBroken;
  // Never claim bytes the source does not have.
  uint64_t end = source.EffectiveEndByte();
  if (end != UINT64_MAX && source.sectorBytes > 0) {
    uint64_t start = hitSector * static_cast<uint64_t>(source.sectorBytes);
    size = std::min(size, end > start ? end - start : 0);
  }
  result.size = size;
  return context.cancelResult != 0 ? context.cancelResult : kSuccess;
}

namespace {

const SignatureRow* RowForExtension(std::string_view extension) {
  if (extension.empty() || extension.size() > 8) return nullptr;
  char lower[9] = {};
  for (size_t i = 0; i < extension.size(); ++i)
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(extension[i])));
  std::string_view wanted(lower, extension.size());
  for (const SignatureRow& row : SignatureTable()) {
    if (wanted == row.extension) return &row;
  }
  return nullptr;
}

}  // namespace

int CheckFirstSector(ByteView data, std::string_view extension, const SignatureSource& source, uint64_t sector,
                     SignatureScratch& scratch) {
  const SignatureRow* row = RowForExtension(extension);
  if (row == nullptr) return 1;
  CarveContext context(&scratch);
  context.source = source;
  context.hitSector = sector;
  context.currentSector = sector;
  return row->recognise(data, context) != kTypeUnrecognised ? 1 : 0;
}

bool SameContentType(std::string_view a, std::string_view b) {
  const SignatureRow* first = RowForExtension(a);
  const SignatureRow* second = RowForExtension(b);
  return first != nullptr && second != nullptr && first->recognise == second->recognise;
}

int CheckFirstSector(ByteView data, std::string_view extension, const SignatureSource& source, uint64_t sector) {
  if (RowForExtension(extension) == nullptr) return 1;
  SignatureScratch scratch;
  return CheckFirstSector(data, extension, source, sector, scratch);
}

}  // namespace kestrel
