#include "engines/fast/fast_ntfs_recovery.h"

#include <algorithm>
#include <cstring>

#include "engines/common/no_throw.h"
#include "engines/common/boot_copy.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

constexpr uint32_t kBootBytes = 4096;

}  // namespace

CFastNtfsRecovery::CFastNtfsRecovery() = default;
CFastNtfsRecovery::~CFastNtfsRecovery() = default;

int CFastNtfsRecovery::FinishOpen() {
  return NoThrow([&] { return OpenGeometry(); });
}

int CFastNtfsRecovery::OpenGeometry() {
  volumeBytes_ = sectorCount_ * deviceSectorBytes_;
  std::vector<uint8_t> boot(kBootBytes);
  if (int error = ReadVolume(0, kBootBytes, boot.data()); error != kSuccess) return error;
  auto readCopy = [&](uint64_t offset, size_t count, uint8_t* out) {
    return ReadVolume(offset, count, out) == kSuccess;
  };
  bootChoice_ = ChooseBootSector(boot.data(), volumeBytes_, deviceSectorBytes_, readCopy);
  if (!ParseNtfsBoot(ByteView(boot.data(), boot.size()), geometry_)) return kErrInvalidParameter;
  bytesPerSector_ = geometry_.bytesPerSector;
  // The boot sector may claim more than the partition holds; reads stop at what exists.
  uint64_t stated = (geometry_.totalSectors + 1) * bytesPerSector_;
  if (stated < volumeBytes_) volumeBytes_ = stated;
  chunk_.assign(size_t(geometry_.recordBytes) * kNtfsRecordsPerChunk, 0);
  opened_ = true;
  LoadMftRuns();
  return kSuccess;
}

// Record 0 describes the MFT itself. Its first extent is enough to reach any
// extension records it names; the mirror copy stands in when it is damaged.
void CFastNtfsRecovery::LoadMftRuns() {
  mftRuns_.clear();
  mftRecords_ = 0;
  for (uint64_t cluster : {geometry_.mftCluster, geometry_.mftMirrorCluster}) {
    if (cluster == 0) continue;
    std::vector<uint8_t> record(geometry_.recordBytes);
    NtfsRecordHeader header;
    if (LoadRecord(cluster * geometry_.clusterBytes, record, header) != NtfsRecordStatus::kOk) continue;
    ByteView view(record.data(), record.size());
    std::vector<NtfsAttribute> attributes;
    ParseAttributes(view, header, attributes);
    std::vector<NtfsRun> first;
    for (const auto& a : attributes) {
      if (a.type == kNtfsAttrData && a.nameBytes.empty() && a.nonResident && a.startVcn == 0) {
        DecodeRunList(a.bytes, a.runListOffset, first, ClusterCount());
        break;
      }
    }
    if (first.empty()) continue;
    mftRuns_ = first;
    NtfsStream stream;
    FindStream(*this, 0, view, header, kNtfsAttrData, u"", stream);
    if (!stream.found || !stream.nonResident) continue;
    if (TotalClusters(stream.runs) > TotalClusters(mftRuns_)) mftRuns_ = stream.runs;
    uint64_t bytes = std::min(stream.initializedSize, stream.realSize);
    bytes = std::min(bytes, TotalClusters(mftRuns_) * geometry_.clusterBytes);
    mftRecords_ = bytes / geometry_.recordBytes;
    return;
  }
}

int CFastNtfsRecovery::ReadVolume(uint64_t offset, size_t count, uint8_t* out) {
  if (!device_.IsOpen()) return kErrInvalidParameter;
  if (offset > volumeBytes_ || count > volumeBytes_ - offset) return kErrReadFault;
  uint64_t absolute = partitionStart_ * deviceSectorBytes_ + offset;
  uint32_t unit = deviceSectorBytes_;
  if (absolute % unit == 0 && count % unit == 0) {
    int32_t got = 0;
    int error = ReadSectors(int32_t(count / unit), device_, out, absolute / unit, int32_t(unit), &got);
    return error == kSuccess && size_t(got) * unit == count ? kSuccess : (error ? error : kErrReadFault);
  }
  // Records smaller than a device sector: read the covering sectors.
  uint64_t first = absolute / unit;
  uint64_t last = (absolute + count + unit - 1) / unit;
  std::vector<uint8_t> span(size_t(last - first) * unit);
  int32_t got = 0;
  int error = ReadSectors(int32_t(last - first), device_, span.data(), first, int32_t(unit), &got);
  if (error != kSuccess) return error;
  std::memcpy(out, span.data() + (absolute - first * unit), count);
  return kSuccess;
}

bool CFastNtfsRecovery::RecordOffset(uint64_t number, uint64_t& offset) const {
  uint64_t byte = number * geometry_.recordBytes;
  uint64_t vcn = byte / geometry_.clusterBytes;
  NtfsVcnPlace place;
  if (!LocateVcn(mftRuns_, vcn, place) || place.sparse) return false;
  offset = place.lcn * geometry_.clusterBytes + byte % geometry_.clusterBytes;
  return true;
}

uint64_t CFastNtfsRecovery::SectorOf(uint64_t volumeOffset) const {
  return partitionStart_ + volumeOffset / bytesPerSector_;
}

uint64_t CFastNtfsRecovery::VolumeOffsetOf(const FoundFileRecord& record) const {
  uint64_t offset = (record.entrySector - record.partitionStart) * bytesPerSector_;
  // Several records share a sector when records are smaller than sectors.
  if (geometry_.recordBytes < bytesPerSector_) {
    offset += (uint64_t(record.itemKey) * geometry_.recordBytes) % bytesPerSector_;
  }
  return offset;
}

NtfsRecordStatus CFastNtfsRecovery::LoadRecord(uint64_t volumeOffset, std::vector<uint8_t>& record,
                                               NtfsRecordHeader& header) {
  record.resize(geometry_.recordBytes);
  if (ReadVolume(volumeOffset, record.size(), record.data()) != kSuccess) return NtfsRecordStatus::kNoSignature;
  return ApplyFixups(record, &header);
}

bool CFastNtfsRecovery::ReadRecord(uint64_t number, std::vector<uint8_t>& record) {
  uint64_t offset = 0;
  if (!RecordOffset(number, offset)) return false;
  NtfsRecordHeader header;
  return LoadRecord(offset, record, header) == NtfsRecordStatus::kOk;
}

bool CFastNtfsRecovery::ReadRunBytes(const std::vector<NtfsRun>& runs, uint64_t byteCount,
                                     std::vector<uint8_t>& out) {
  NtfsStream stream;
  stream.found = stream.nonResident = true;
  stream.runs = runs;
  stream.realSize = stream.initializedSize = byteCount;
  NtfsStreamReader reader(stream, geometry_.clusterBytes, *this);
  out.clear();
  std::vector<uint8_t> piece;
  while (true) {
    if (reader.Next(piece) != kSuccess) return false;
    if (piece.empty()) return true;
    out.insert(out.end(), piece.begin(), piece.end());
  }
}

uint64_t CFastNtfsRecovery::ClusterCount() const {
  return geometry_.clusterBytes ? volumeBytes_ / geometry_.clusterBytes : 0;
}

int CFastNtfsRecovery::ReadClusters(uint64_t lcn, uint32_t count, uint8_t* out) {
  uint64_t bytes = uint64_t(count) * geometry_.clusterBytes;
  if (bytes > SIZE_MAX) return kErrInvalidParameter;
  return ReadVolume(lcn * geometry_.clusterBytes, size_t(bytes), out);
}

int CFastNtfsRecovery::Scan(const std::optional<std::string>& storeName) {
  return NoThrow([&] { return ScanUnguarded(storeName); });
}

int CFastNtfsRecovery::ScanUnguarded(const std::optional<std::string>& storeName) {
  // Reopening a saved scan reads nothing from the source, so needs no open one.
  if (!storeName && !opened_) {
    store_.Drop();
    return kErrInvalidParameter;
  }
  if (int error = store_.Start(storeName, partitionStart_); error != kSuccess || storeName) return error;
  return ScanMft();
}

}  // namespace kestrel
