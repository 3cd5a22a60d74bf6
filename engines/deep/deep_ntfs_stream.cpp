// The deep NTFS member's file content: a found record's $DATA gathered across
// its extension records and read through the stream reader the fast engine
// uses (compressed units decompressed, sparse runs and bytes past the
// initialised size as zeros), for the data check, recovery and preview.
#include <span>

#include "catalogue/categories.h"
#include "fs/ntfs/ntfs_stream_reader.h"
#include "fs/ntfs/ntfs_record.h"
#include "engines/deep/deep_ntfs_recovery.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {
constexpr uint64_t kLargestCluster = 104857600;
// Attribute lists are a few KiB; one claiming more is not read whole.
constexpr uint64_t kLargestListBytes = 4u << 20;
}  // namespace

class CProfessionalNtfsRecovery::VolumeReader final : public INtfsRecordSource, public INtfsClusterReader {
 public:
  VolumeReader(CProfessionalNtfsRecovery& engine, Placement placement, uint64_t origin, uint32_t clusterBytes)
      : engine_(engine), placement_(std::move(placement)), origin_(origin), clusterBytes_(clusterBytes) {}

  void SetClusterBytes(uint32_t clusterBytes) { clusterBytes_ = clusterBytes; }

  bool ReadRecord(uint64_t number, std::vector<uint8_t>& record) override {
    uint64_t sector = 0;
    if (!engine_.LocateRecord(placement_, number, sector)) return false;
    if (engine_.ReadRecordAt(sector, record) != kSuccess) return false;
    return ApplyFixups(std::span<uint8_t>(record)) == NtfsRecordStatus::kOk;
  }

  bool ReadRunBytes(const std::vector<NtfsRun>& runs, uint64_t byteCount, std::vector<uint8_t>& out) override {
    out.clear();
    if (byteCount > kLargestListBytes) return false;
    NtfsStream stream;
    stream.found = stream.nonResident = true;
    stream.runs = runs;
    stream.realSize = stream.initializedSize = byteCount;
    NtfsStreamReader reader(stream, clusterBytes_, *this);
    std::vector<uint8_t> piece;
    while (true) {
      if (reader.Next(piece) != kSuccess) return false;
      if (piece.empty()) return true;
      out.insert(out.end(), piece.begin(), piece.end());
    }
  }

  uint64_t ClusterCount() const override {
    uint64_t total = engine_.device_.totalSectors;
    if (clusterBytes_ == 0 || total <= origin_) return 1;
    return (total - origin_) * engine_.sectorBytes_ / clusterBytes_;
  }

  int ReadClusters(uint64_t lcn, uint32_t count, uint8_t* out) override {
    uint32_t sectorBytes = engine_.sectorBytes_;
    if (clusterBytes_ == 0 || clusterBytes_ % sectorBytes != 0) return kErrInvalidParameter;
    uint64_t perCluster = clusterBytes_ / sectorBytes;
    uint64_t sectors = uint64_t(count) * perCluster;
    if (lcn > (UINT64_MAX - origin_) / perCluster || sectors > INT32_MAX) return kErrInvalidParameter;
    int32_t got = 0;
    int error = ReadSectors(int32_t(sectors), engine_.device_, out, origin_ + lcn * perCluster, int32_t(sectorBytes),
                            &got);
    if (uint64_t(got) == sectors && error == kSuccess) return kSuccess;
    return error != kSuccess ? error : kErrReadFault;
  }

 private:
  CProfessionalNtfsRecovery& engine_;
  Placement placement_;
  uint64_t origin_;
  uint32_t clusterBytes_;
};

int CProfessionalNtfsRecovery::StreamAt(uint64_t sector, uint32_t clusterBytes, NtfsStream& stream) {
  stream = NtfsStream{};
  std::vector<uint8_t> bytes;
  int error = ReadRecordAt(sector, bytes);
  if (error != kSuccess) return error;
  NtfsRecordHeader header;
  NtfsRecordStatus status = ApplyFixups(std::span<uint8_t>(bytes), &header);
  if (status == NtfsRecordStatus::kNoSignature || status == NtfsRecordStatus::kBadHeader) return kErrInvalidParameter;
  // Older (NTFS 3.0) headers carry no number: only an $ATTRIBUTE_LIST needs it.
  uint64_t number = header.hasNumber ? header.number : 0;
  Placement placement = PlacementAt(sector, number);
  if (clusterBytes == 0) {
    clusterBytes = (placement.contiguous ? sectorsPerCluster_ : placement.sectorsPerCluster) * sectorBytes_;
  }
  VolumeReader volume(*this, placement, placement.origin, clusterBytes);
  FindStream(volume, number, ByteView(bytes.data(), bytes.size()), header, kNtfsAttrData, u"", stream);
  return kSuccess;
}

int CProfessionalNtfsRecovery::RunListAt(uint64_t sector, std::vector<NtfsRun>& runs) {
  runs.clear();
  NtfsStream stream;
  int error = StreamAt(sector, 0, stream);
  if (error != kSuccess) return error;
  if (!stream.found) return kErrInvalidParameter;
  runs = std::move(stream.runs);
  return kSuccess;
}

void CProfessionalNtfsRecovery::LearnClusterSize(const NtfsStream& stream) {
  if (!stream.found || !stream.nonResident || !stream.complete) return;
  uint64_t clusters = TotalClusters(stream.runs);
  if (clusters == 0) return;
  uint64_t spc = stream.allocatedSize / sectorBytes_ / clusters;
  // Garbage sizes must not poison every later record.
  if (spc == 0 || spc > 256 || (spc & (spc - 1)) != 0) return;
  sectorsPerCluster_ = uint32_t(spc);
}

void CProfessionalNtfsRecovery::ExamineData(FoundFileRecord& record, ByteView bytes, const NtfsRecordHeader& header,
                                            uint32_t placement) {
  const Placement& p = placements_[placement];
  VolumeReader volume(*this, p, record.partitionStart,
                      (p.contiguous ? sectorsPerCluster_ : p.sectorsPerCluster) * sectorBytes_);
  NtfsStream stream;
  FindStream(volume, header.number, bytes, header, kNtfsAttrData, u"", stream);
  LearnClusterSize(stream);
  uint32_t spc = p.contiguous ? sectorsPerCluster_ : p.sectorsPerCluster;
  record.clusterBytes = int32_t(spc * sectorBytes_);
  volume.SetClusterBytes(spc * sectorBytes_);
  if (stream.found) record.size = stream.realSize;
  CheckData(record, stream, volume);
}

void CProfessionalNtfsRecovery::CheckData(FoundFileRecord& record, const NtfsStream& stream, VolumeReader& volume) {
  std::string extension = ExtensionOf(record.Name());
  if (extension.empty() || !stream.found) return;
  // Extents that could not all be found: the file cannot come back whole.
  if (!stream.complete) {
    record.contentValid = 0;
    return;
  }
  if (!stream.nonResident) {
    if (stream.residentValue.empty()) {
      record.contentValid = 0;
      return;
    }
    SignatureSource none;
    none.sectorBytes = int32_t(sectorBytes_);
    record.contentValid = uint32_t(CheckFirstSector(
        ByteView(stream.residentValue.data(), stream.residentValue.size()), extension, none, 0, scratch_));
    return;
  }
  // Encrypted bytes look like nothing; the check would only hide the file.
  if (stream.Encrypted() || stream.realSize == 0) return;
  NtfsVcnPlace place;
  if (!LocateVcn(stream.runs, 0, place)) return;
  if (stream.Compressed() || place.sparse) {
    // The first unit as read back is what the file starts with.
    std::vector<uint8_t> first;
    NtfsStreamReader reader(stream, uint32_t(record.clusterBytes), volume);
    if (reader.Next(first) != kSuccess || first.empty()) return;
    first.resize(std::min<size_t>(first.size(), sectorBytes_));
    SignatureSource none;
    none.sectorBytes = int32_t(sectorBytes_);
    record.contentValid =
        uint32_t(CheckFirstSector(ByteView(first.data(), first.size()), extension, none, 0, scratch_));
    return;
  }
  uint64_t sector = record.partitionStart + place.lcn * uint64_t(record.clusterBytes) / sectorBytes_;
  std::vector<uint8_t> first(sectorBytes_);
  int32_t got = 0;
  ReadSectors(1, device_, first.data(), sector, int32_t(sectorBytes_), &got);
  if (got != 1) return;
  record.contentValid =
      uint32_t(CheckFirstSector(ByteView(first.data(), first.size()), extension, Source(), sector, scratch_));
}

int CProfessionalNtfsRecovery::WriteData(const FoundFileRecord& record, DataSink& sink,
                                         const std::function<int(uint64_t)>& report) {
  uint64_t clusterBytes = uint64_t(record.clusterBytes);
  if (record.clusterBytes <= 0 || clusterBytes > kLargestCluster || clusterBytes % sectorBytes_) {
    return kErrWriteFault;
  }
  NtfsStream stream;
  int error = StreamAt(record.entrySector, uint32_t(clusterBytes), stream);
  if (error != kSuccess) return error;
  if (!stream.found) return kErrInvalidParameter;
  // The content is read from the volume the listing names.
  VolumeReader volume(*this, Placement{}, record.partitionStart, uint32_t(clusterBytes));
  NtfsStreamReader reader(stream, uint32_t(clusterBytes), volume);
  std::vector<uint8_t> piece;
  uint64_t done = 0;
  while (!sink.full()) {
    error = reader.Next(piece);
    if (error != kSuccess) return error;
    if (piece.empty()) break;
    error = sink.Write(piece.data(), piece.size());
    if (error != kSuccess) return error;
    done += piece.size();
    int answer = report(done);
    if (answer != 0) return answer;
  }
  return kSuccess;
}

}  // namespace kestrel
