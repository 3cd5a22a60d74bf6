// An NTFS boot sector, then an MFT record: fix-ups, header, attributes, file
// names, attribute lists, run lists, the stream gathered from them (every
// record number answers with the same record, so lists that point at
// themselves or each other are exercised) and the stream read through the
// shared reader, including LZNT1 units.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/ntfs/ntfs_attributes.h"
#include "fs/ntfs/ntfs_boot.h"
#include "fs/ntfs/ntfs_stream_reader.h"
#include "fs/ntfs/ntfs_lznt1.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_runlist.h"

using namespace kestrel;

namespace {

constexpr size_t kRecordBytes = 1024;
constexpr uint32_t kClusterBytes = 4096;

class Volume : public INtfsRecordSource, public INtfsClusterReader {
 public:
  Volume(std::vector<uint8_t> record, uint64_t clusters) : record_(std::move(record)), clusters_(clusters) {}
  bool ReadRecord(uint64_t, std::vector<uint8_t>& record) override {
    record = record_;
    return ApplyFixups(record) == NtfsRecordStatus::kOk;
  }
  bool ReadRunBytes(const std::vector<NtfsRun>& runs, uint64_t byteCount, std::vector<uint8_t>& out) override {
    if (byteCount > TotalClusters(runs) * kClusterBytes) return false;
    out.assign(size_t(byteCount), 0);
    std::copy_n(record_.begin(), std::min(out.size(), record_.size()), out.begin());
    return true;
  }
  uint64_t ClusterCount() const override { return clusters_; }
  int ReadClusters(uint64_t lcn, uint32_t count, uint8_t* out) override {
    if (lcn >= clusters_ || count > clusters_ - lcn) __builtin_trap();  // runs were bounded by the volume
    std::fill_n(out, size_t(count) * kClusterBytes, uint8_t(lcn));
    return 0;
  }

 private:
  std::vector<uint8_t> record_;
  uint64_t clusters_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint64_t clusters = uint64_t(data[0]) * 64 + 1;
  ByteView input(data + 1, size - 1);

  NtfsGeometry geometry;
  (void)ParseNtfsBoot(input.Sub(0, 512), geometry);

  std::vector<uint8_t> raw(kRecordBytes, 0);
  std::copy_n(input.data(), std::min(input.size(), kRecordBytes), raw.begin());
  std::vector<uint8_t> record = raw;
  NtfsRecordHeader header;
  if (ApplyFixups(record, &header) != NtfsRecordStatus::kOk) return 0;
  ByteView view(record.data(), record.size());

  std::vector<NtfsAttribute> attributes;
  ParseAttributes(view, header, attributes);
  for (const NtfsAttribute& a : attributes) {
    if (a.nonResident) {
      std::vector<NtfsRun> runs;
      DecodeRunList(a.bytes, a.runListOffset, runs, clusters);
      for (const NtfsRun& run : runs) {
        if (!run.sparse && (run.lcn >= clusters || run.length > clusters - run.lcn)) __builtin_trap();
      }
    } else if (a.type == kNtfsAttrFileName) {
      NtfsFileName name;
      (void)ParseFileName(a.value, name);
    } else if (a.type == kNtfsAttrAttributeList) {
      std::vector<NtfsAttributeListEntry> entries;
      ParseAttributeList(a.value, entries);
    }
  }

  Volume volume(raw, clusters);
  NtfsStream stream;
  FindStream(volume, header.number, view, header, kNtfsAttrData, u"", stream);
  if (!stream.found) return 0;
  uint64_t holes = 0;
  for (const NtfsRun& run : stream.runs) holes += run.sparse ? run.length : 0;
  if (holes > clusters) __builtin_trap();  // a recovery would write zeros without end

  NtfsStreamReader reader(stream, kClusterBytes, volume);
  std::vector<uint8_t> piece;
  for (int i = 0; i < 64; ++i) {
    if (reader.Next(piece) != 0 || piece.empty()) break;
  }

  // The record's bytes as one compressed unit.
  std::vector<uint8_t> out(65536);
  size_t produced = 0;
  DecompressLznt1(std::span<const uint8_t>(input.data(), input.size()), out, produced);
  if (produced > out.size()) __builtin_trap();
  return 0;
}
