// NTFS structures built byte by byte: boot geometry, record fix-ups, run
// lists, attribute walks and lists, LZNT1 and the stream reader.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "fs/ntfs/ntfs_attributes.h"
#include "fs/ntfs/ntfs_boot.h"
#include "fs/ntfs/ntfs_stream_reader.h"
#include "fs/ntfs/ntfs_lznt1.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_runlist.h"
#include "platform/error_codes.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint16_t v) { PutLe16(b.data() + at, v); }
void Put32(Bytes& b, size_t at, uint32_t v) { PutLe32(b.data() + at, v); }
void Put64(Bytes& b, size_t at, uint64_t v) { PutLe64(b.data() + at, v); }

Bytes Boot(uint16_t bytesPerSector, uint8_t sectorsPerCluster, uint8_t recordField) {
  Bytes b(512);
  std::memcpy(&b[3], "NTFS    ", 8);
  Put16(b, 0x0B, bytesPerSector);
  b[0x0D] = sectorsPerCluster;
  Put64(b, 0x28, 100000);
  Put64(b, 0x30, 4);
  Put64(b, 0x38, 5000);
  b[0x40] = recordField;
  b[0x44] = 1;
  b[0x1FE] = 0x55;
  b[0x1FF] = 0xAA;
  return b;
}

TEST(NtfsBoot, RecordSizeComesFromTheClustersPerRecordByte) {
  NtfsGeometry g;
  ASSERT_TRUE(ParseNtfsBoot(ByteView(Boot(512, 8, 0xF6)), g));  // -10: 2^10 bytes
  EXPECT_EQ(g.recordBytes, 1024u);
  EXPECT_EQ(g.clusterBytes, 4096u);
  EXPECT_EQ(g.MftByteOffset(), 4u * 4096);
  ASSERT_TRUE(ParseNtfsBoot(ByteView(Boot(4096, 1, 1)), g));  // one 4 KiB cluster per record
  EXPECT_EQ(g.recordBytes, 4096u);
  EXPECT_EQ(g.bytesPerSector, 4096u);
  ASSERT_TRUE(ParseNtfsBoot(ByteView(Boot(512, 1, 2)), g));  // two 512-byte clusters
  EXPECT_EQ(g.recordBytes, 1024u);
}

TEST(NtfsBoot, RefusesGeometryThatCannotBeRead) {
  NtfsGeometry g;
  std::string why;
  EXPECT_FALSE(ParseNtfsBoot(ByteView(Boot(512, 8, 0)), g, &why));
  EXPECT_EQ(why, "MFT record size");
  EXPECT_FALSE(ParseNtfsBoot(ByteView(Boot(512, 8, 0xE0)), g, &why));  // 2^32 bytes
  EXPECT_FALSE(ParseNtfsBoot(ByteView(Boot(520, 8, 0xF6)), g, &why));
  EXPECT_EQ(why, "sector size");
  EXPECT_FALSE(ParseNtfsBoot(ByteView(Boot(512, 3, 0xF6)), g, &why));
  EXPECT_EQ(why, "cluster size");
  Bytes beyond = Boot(512, 8, 0xF6);
  Put64(beyond, 0x30, 20000);  // past 100000 sectors / 8
  EXPECT_FALSE(ParseNtfsBoot(ByteView(beyond), g, &why));
}

// An MFT record under construction; Finish() protects it with fix-ups as a
// disk would hold it.
class RecordBuilder {
 public:
  explicit RecordBuilder(size_t size = 1024, uint16_t flags = 0, uint32_t number = 100, uint64_t base = 0)
      : bytes_(size), first_(uint16_t((48 + 2 * (size / 512 + 1) + 7) / 8 * 8)), pos_(first_) {
    std::memcpy(bytes_.data(), "FILE", 4);
    Put16(bytes_, 4, 48);
    Put16(bytes_, 6, uint16_t(size / 512 + 1));
    Put16(bytes_, 16, 1);
    Put16(bytes_, 20, first_);
    Put16(bytes_, 22, flags);
    Put32(bytes_, 28, uint32_t(size));
    Put64(bytes_, 32, base);
    Put32(bytes_, 44, number);
  }
  RecordBuilder& Add(const Bytes& attribute) {
    std::memcpy(bytes_.data() + pos_, attribute.data(), attribute.size());
    pos_ += attribute.size();
    return *this;
  }
  Bytes Finish(uint16_t usn = 0x0007) {
    Bytes b = bytes_;
    Put32(b, pos_, kNtfsAttrEnd);
    Put32(b, 24, uint32_t(pos_ + 8));
    Put16(b, 48, usn);
    for (size_t i = 1; i <= b.size() / 512; ++i) {
      b[48 + 2 * i] = b[i * 512 - 2];
      b[49 + 2 * i] = b[i * 512 - 1];
      Put16(b, i * 512 - 2, usn);
    }
    return b;
  }

 private:
  Bytes bytes_;
  uint16_t first_;
  size_t pos_;
};

Bytes Utf16(std::u16string_view text) {
  Bytes out;
  for (char16_t c : text) {
    out.push_back(uint8_t(c));
    out.push_back(uint8_t(c >> 8));
  }
  return out;
}

Bytes Resident(uint32_t type, const Bytes& value, std::u16string_view name = u"", uint16_t instance = 0) {
  size_t nameBytes = name.size() * 2;
  size_t valueOffset = (24 + nameBytes + 7) / 8 * 8;
  Bytes a((valueOffset + value.size() + 7) / 8 * 8);
  Put32(a, 0, type);
  Put32(a, 4, uint32_t(a.size()));
  a[9] = uint8_t(name.size());
  Put16(a, 10, 24);
  Put16(a, 14, instance);
  Put32(a, 16, uint32_t(value.size()));
  Put16(a, 20, uint16_t(valueOffset));
  Bytes n = Utf16(name);
  std::copy(n.begin(), n.end(), a.begin() + 24);
  std::copy(value.begin(), value.end(), a.begin() + valueOffset);
  return a;
}

Bytes NonResident(uint32_t type, const Bytes& runs, uint64_t startVcn, uint64_t lastVcn, uint64_t realSize,
                  uint16_t instance = 0, uint16_t flags = 0, uint16_t unit = 0) {
  Bytes a((64 + runs.size() + 7) / 8 * 8);
  Put32(a, 0, type);
  Put32(a, 4, uint32_t(a.size()));
  a[8] = 1;
  Put16(a, 12, flags);
  Put16(a, 14, instance);
  Put64(a, 16, startVcn);
  Put64(a, 24, lastVcn);
  Put16(a, 32, 64);
  Put16(a, 34, unit);
  Put64(a, 40, (lastVcn + 1) * 4096);
  Put64(a, 48, realSize);
  Put64(a, 56, realSize);
  std::copy(runs.begin(), runs.end(), a.begin() + 64);
  return a;
}

Bytes FileNameValue(uint64_t parent, std::u16string_view name, uint8_t nameSpace) {
  Bytes v(66);
  Put64(v, 0, parent | (uint64_t(3) << 48));
  Put64(v, 48, 1234);
  v[64] = uint8_t(name.size());
  v[65] = nameSpace;
  Bytes n = Utf16(name);
  v.insert(v.end(), n.begin(), n.end());
  return v;
}

TEST(NtfsRecord, FixupsRestoreTheTailOfEveryStride) {
  for (size_t size : {1024u, 4096u}) {
    RecordBuilder builder(size);
    Bytes plain = builder.Finish();
    // What Finish() saved in the array is what the tails held before protection.
    Bytes record = plain;
    NtfsRecordHeader h;
    ASSERT_EQ(ApplyFixups(record, &h), NtfsRecordStatus::kOk) << size;
    for (size_t i = 1; i <= size / 512; ++i) {
      EXPECT_EQ(record[i * 512 - 2], plain[48 + 2 * i]);
      EXPECT_NE(ByteView(record).le16(i * 512 - 2), 0x0007);
    }
    EXPECT_EQ(h.number, 100u);
  }
}

TEST(NtfsRecord, ATornStrideIsReportedNotHidden) {
  Bytes record = RecordBuilder(4096).Finish();
  Put16(record, 3 * 512 - 2, 0x0006);  // that stride was written at another time
  EXPECT_EQ(ApplyFixups(record), NtfsRecordStatus::kTorn);
}

TEST(NtfsRecord, RefusesArraysThatDoNotFitTheRecord) {
  Bytes record = RecordBuilder(1024).Finish();
  Bytes shortArray = record;
  Put16(shortArray, 6, 2);  // covers one stride of two
  EXPECT_EQ(ApplyFixups(shortArray), NtfsRecordStatus::kBadHeader);
  Bytes outside = record;
  Put16(outside, 4, 1020);
  EXPECT_EQ(ApplyFixups(outside), NtfsRecordStatus::kBadHeader);
  Bytes notRecord = record;
  std::memcpy(notRecord.data(), "BAAD", 4);
  EXPECT_EQ(ApplyFixups(notRecord), NtfsRecordStatus::kNoSignature);
}

TEST(NtfsRunList, ResolvesRelativeOffsetsAndSparseRuns) {
  // 4 clusters at 0x10; 8 sparse; 2 at 0x10 - 4; end.
  Bytes runs = {0x11, 0x04, 0x10, 0x01, 0x08, 0x11, 0x02, 0xFC, 0x00};
  std::vector<NtfsRun> out;
  ASSERT_EQ(DecodeRunList(ByteView(runs), 0, out), NtfsRunListStatus::kOk);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].lcn, 0x10u);
  EXPECT_TRUE(out[1].sparse);
  EXPECT_EQ(out[1].length, 8u);
  EXPECT_EQ(out[2].lcn, 0x0Cu);  // relative to the last allocated run, not the hole
  EXPECT_EQ(TotalClusters(out), 14u);
  NtfsVcnPlace place;
  ASSERT_TRUE(LocateVcn(out, 13, place));
  EXPECT_EQ(place.lcn, 0x0Du);
  EXPECT_EQ(place.left, 1u);
  EXPECT_FALSE(LocateVcn(out, 14, place));
}

TEST(NtfsRunList, DecodesListsLongerThanASector) {
  Bytes runs;
  for (int i = 0; i < 400; ++i) runs.insert(runs.end(), {0x21, 0x01, 0x02, 0x00});  // 1 cluster every 2
  runs.push_back(0);
  ASSERT_GT(runs.size(), 1024u);
  std::vector<NtfsRun> out;
  ASSERT_EQ(DecodeRunList(ByteView(runs), 0, out), NtfsRunListStatus::kOk);
  ASSERT_EQ(out.size(), 400u);
  EXPECT_EQ(out.back().lcn, 800u);
}

TEST(NtfsRunList, StopsAtTheAttributesEndAndAtImpossibleRuns) {
  Bytes runs = {0x11, 0x04, 0x10, 0x11, 0x04};  // second run cut off by the attribute's end
  std::vector<NtfsRun> out;
  EXPECT_EQ(DecodeRunList(ByteView(runs), 0, out), NtfsRunListStatus::kTruncated);
  EXPECT_EQ(out.size(), 1u);
  out.clear();
  Bytes zeroLength = {0x10, 0x05, 0x00};
  EXPECT_EQ(DecodeRunList(ByteView(zeroLength), 0, out), NtfsRunListStatus::kCorrupt);
  Bytes beforeVolume = {0x11, 0x04, 0x80, 0x00};  // cluster -128
  EXPECT_EQ(DecodeRunList(ByteView(beforeVolume), 0, out), NtfsRunListStatus::kCorrupt);
  Bytes pastVolume = {0x21, 0x10, 0x00, 0x01, 0x00};  // clusters 256..271 of 260
  EXPECT_EQ(DecodeRunList(ByteView(pastVolume), 0, out, 260), NtfsRunListStatus::kCorrupt);
  EXPECT_TRUE(out.empty());
}

TEST(NtfsAttributes, AnAttributeRunningPastTheRecordEndsOnlyThatRecord) {
  Bytes record = RecordBuilder()
                     .Add(Resident(kNtfsAttrFileName, FileNameValue(5, u"a.txt", kNtfsNameWin32)))
                     .Add(Resident(kNtfsAttrData, {1, 2, 3}))
                     .Finish();
  NtfsRecordHeader h;
  ASSERT_EQ(ApplyFixups(record, &h), NtfsRecordStatus::kOk);
  std::vector<NtfsAttribute> all;
  ASSERT_EQ(ParseAttributes(ByteView(record), h, all), NtfsWalkStatus::kComplete);
  ASSERT_EQ(all.size(), 2u);
  NtfsFileName fn;
  ASSERT_TRUE(ParseFileName(all[0].value, fn));
  EXPECT_EQ(fn.name, "a.txt");
  EXPECT_EQ(fn.parent, 5u);
  EXPECT_EQ(fn.parentSequence, 3u);

  // The second attribute claims 4 KiB.
  size_t second = 56 + all[0].length;
  Put32(record, second + 4, 4096);
  std::vector<NtfsAttribute> cut;
  EXPECT_EQ(ParseAttributes(ByteView(record), h, cut), NtfsWalkStatus::kMalformed);
  EXPECT_EQ(cut.size(), 1u);
  // A value offset past the attribute.
  Put32(record, second + 4, all[1].length);
  Put16(record, second + 20, 200);
  cut.clear();
  EXPECT_EQ(ParseAttributes(ByteView(record), h, cut), NtfsWalkStatus::kMalformed);
}

TEST(NtfsAttributes, FileNameWithANameLongerThanItsValueIsRefused) {
  Bytes value = FileNameValue(5, u"abc", kNtfsNameWin32);
  value[64] = 40;
  NtfsFileName fn;
  EXPECT_FALSE(ParseFileName(ByteView(value), fn));
}

TEST(NtfsAttributes, NamesBecomeUtf8AndNeverCarryASlash) {
  Bytes name = Utf16(u"a/b\u00e9\U0001F4F7");
  EXPECT_EQ(NtfsNameToUtf8(ByteView(name)), "a_b\xC3\xA9\xF0\x9F\x93\xB7");
  Bytes lone = {0x00, 0xD8, 'x', 0x00};  // a high surrogate without its pair
  EXPECT_EQ(NtfsNameToUtf8(ByteView(lone)), "\xEF\xBF\xBDx");
}

// Records by number, as a volume would give them.
class FakeVolume : public INtfsRecordSource {
 public:
  std::map<uint64_t, Bytes> records;
  bool ReadRecord(uint64_t number, Bytes& record) override {
    auto it = records.find(number);
    if (it == records.end()) return false;
    record = it->second;
    return ApplyFixups(record) == NtfsRecordStatus::kOk;
  }
  bool ReadRunBytes(const std::vector<NtfsRun>&, uint64_t, Bytes&) override { return false; }
  uint64_t ClusterCount() const override { return clusters; }
  uint64_t clusters = 0;
};

Bytes ListEntry(uint32_t type, uint64_t startVcn, uint64_t record, uint16_t instance) {
  Bytes e(32);
  Put32(e, 0, type);
  Put16(e, 4, 32);
  e[7] = 26;
  Put64(e, 8, startVcn);
  Put64(e, 16, record);
  Put16(e, 24, instance);
  return e;
}

TEST(NtfsAttributes, GathersADataStreamSpreadOverExtensionRecords) {
  Bytes list;
  for (const Bytes& e : {ListEntry(kNtfsAttrFileName, 0, 100, 1), ListEntry(kNtfsAttrData, 0, 101, 0),
                         ListEntry(kNtfsAttrData, 4, 102, 0)}) {
    list.insert(list.end(), e.begin(), e.end());
  }
  FakeVolume volume;
  Bytes base = RecordBuilder(1024, 0, 100)
                   .Add(Resident(kNtfsAttrAttributeList, list))
                   .Add(Resident(kNtfsAttrFileName, FileNameValue(5, u"big.bin", kNtfsNameWin32), u"", 1))
                   .Finish();
  volume.records[101] =
      RecordBuilder(1024, 0, 101, 100).Add(NonResident(kNtfsAttrData, {0x11, 0x04, 0x20, 0x00}, 0, 3, 30000)).Finish();
  volume.records[102] =
      RecordBuilder(1024, 0, 102, 100).Add(NonResident(kNtfsAttrData, {0x11, 0x04, 0x40, 0x00}, 4, 7, 0)).Finish();
  NtfsRecordHeader h;
  ASSERT_EQ(ApplyFixups(base, &h), NtfsRecordStatus::kOk);

  NtfsStream stream;
  FindStream(volume, 100, ByteView(base), h, kNtfsAttrData, u"", stream);
  ASSERT_TRUE(stream.found);
  EXPECT_TRUE(stream.complete);
  EXPECT_EQ(stream.realSize, 30000u);
  ASSERT_EQ(stream.runs.size(), 2u);
  EXPECT_EQ(stream.runs[0].lcn, 0x20u);
  EXPECT_EQ(stream.runs[1].lcn, 0x40u);  // each extent's offsets start afresh

  // The second extension was reused by another file: its runs are not ours.
  volume.records[102] =
      RecordBuilder(1024, 1, 102, 0).Add(NonResident(kNtfsAttrData, {0x11, 0x04, 0x40, 0x00}, 4, 7, 0)).Finish();
  FindStream(volume, 100, ByteView(base), h, kNtfsAttrData, u"", stream);
  ASSERT_TRUE(stream.found);
  EXPECT_FALSE(stream.complete);
  EXPECT_EQ(TotalClusters(stream.runs), 4u);
}

TEST(NtfsAttributes, HolesLongerThanTheVolumeEndTheStream) {
  FakeVolume volume;
  volume.clusters = 1000;
  NtfsRecordHeader h;
  NtfsStream stream;

  // 4 clusters of data, then a hole of 2^40 clusters: zeros without end.
  Bytes huge = RecordBuilder()
                   .Add(NonResident(kNtfsAttrData, {0x11, 0x04, 0x20, 0x06, 0, 0, 0, 0, 0, 0x01, 0x00}, 0,
                                    (uint64_t(1) << 40) + 3, ((uint64_t(1) << 40) + 4) * 4096))
                   .Finish();
  ASSERT_EQ(ApplyFixups(huge, &h), NtfsRecordStatus::kOk);
  FindStream(volume, 100, ByteView(huge), h, kNtfsAttrData, u"", stream);
  ASSERT_TRUE(stream.found);
  EXPECT_FALSE(stream.complete);
  EXPECT_EQ(TotalClusters(stream.runs), 4u);

  // Many holes, each shorter than the volume, are cut where together they pass it.
  Bytes many = RecordBuilder()
                   .Add(NonResident(kNtfsAttrData, {0x02, 0x90, 0x01, 0x02, 0x90, 0x01, 0x02, 0x90, 0x01, 0x00}, 0,
                                    1199, 1200 * 4096))
                   .Finish();
  ASSERT_EQ(ApplyFixups(many, &h), NtfsRecordStatus::kOk);
  FindStream(volume, 100, ByteView(many), h, kNtfsAttrData, u"", stream);
  EXPECT_FALSE(stream.complete);
  EXPECT_EQ(TotalClusters(stream.runs), 800u);

  // A file with a hole smaller than the volume keeps every run.
  Bytes sparse = RecordBuilder()
                     .Add(NonResident(kNtfsAttrData, {0x11, 0x04, 0x20, 0x02, 0x00, 0x02, 0x11, 0x04, 0x10, 0x00}, 0,
                                      519, 520 * 4096))
                     .Finish();
  ASSERT_EQ(ApplyFixups(sparse, &h), NtfsRecordStatus::kOk);
  FindStream(volume, 100, ByteView(sparse), h, kNtfsAttrData, u"", stream);
  EXPECT_TRUE(stream.complete);
  ASSERT_EQ(stream.runs.size(), 3u);
  EXPECT_TRUE(stream.runs[1].sparse);
  EXPECT_EQ(stream.runs[2].lcn, 0x30u);
}

TEST(NtfsAttributes, PrefersTheUnnamedDataStreamOverAlternateStreams) {
  FakeVolume volume;
  Bytes record = RecordBuilder()
                     .Add(Resident(kNtfsAttrData, {'z', 'o', 'n', 'e'}, u"Zone.Identifier"))
                     .Add(Resident(kNtfsAttrData, {'r', 'e', 'a', 'l'}))
                     .Finish();
  NtfsRecordHeader h;
  ASSERT_EQ(ApplyFixups(record, &h), NtfsRecordStatus::kOk);
  NtfsStream stream;
  FindStream(volume, 100, ByteView(record), h, kNtfsAttrData, u"", stream);
  ASSERT_TRUE(stream.found);
  EXPECT_EQ(std::string(stream.residentValue.begin(), stream.residentValue.end()), "real");
}

// "a" then a back-reference 1 back for 4,095 bytes: 4,096 times 'a'.
Bytes RunOfA() { return {0x03, 0xB0, 0x02, 'a', 0xFC, 0x0F}; }

TEST(NtfsLznt1, ExpandsLiteralsAndOverlappingReferences) {
  // "abc" then 3 back, 9 long: "abcabcabcabc".
  Bytes in = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20, 0x00, 0x00};
  Bytes out(4096);
  size_t produced = 0;
  ASSERT_EQ(DecompressLznt1(in, out, produced), Lznt1Status::kOk);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 12), "abcabcabcabc");
  EXPECT_EQ(out[12], 0);  // the rest of the chunk is zeros

  Bytes full = RunOfA();
  ASSERT_EQ(DecompressLznt1(full, out, produced), Lznt1Status::kOk);
  EXPECT_EQ(produced, 4096u);
  EXPECT_EQ(std::count(out.begin(), out.end(), 'a'), 4096);
}

TEST(NtfsLznt1, NeverWritesPastTheOutputOrReadsBeforeIt) {
  Bytes small(100, 0xEE);
  size_t produced = 0;
  ASSERT_EQ(DecompressLznt1(RunOfA(), std::span<uint8_t>(small.data(), 50), produced), Lznt1Status::kOk);
  EXPECT_EQ(produced, 50u);
  EXPECT_EQ(small[50], 0xEE);

  Bytes backwards = {0x03, 0xB0, 0x02, 'a', 0x00, 0x10};  // 2 back at position 1
  Bytes out(4096);
  EXPECT_EQ(DecompressLznt1(backwards, out, produced), Lznt1Status::kCorrupt);
  Bytes cut = {0x10, 0xB0, 0x00, 'a'};  // the chunk claims 17 bytes
  EXPECT_EQ(DecompressLznt1(cut, out, produced), Lznt1Status::kCorrupt);
}

// Clusters whose bytes are their cluster number; counts what was read.
class PatternClusters : public INtfsClusterReader {
 public:
  explicit PatternClusters(uint32_t clusterBytes) : clusterBytes_(clusterBytes) {}
  std::vector<uint64_t> reads;
  std::map<uint64_t, Bytes> content;
  int ReadClusters(uint64_t lcn, uint32_t count, uint8_t* out) override {
    for (uint32_t i = 0; i < count; ++i) {
      reads.push_back(lcn + i);
      auto it = content.find(lcn + i);
      if (it != content.end()) {
        std::memcpy(out + size_t(i) * clusterBytes_, it->second.data(), clusterBytes_);
      } else {
        std::memset(out + size_t(i) * clusterBytes_, int(lcn + i), clusterBytes_);
      }
    }
    return kSuccess;
  }

 private:
  uint32_t clusterBytes_;
};

Bytes ReadAll(NtfsStreamReader& reader, int& error) {
  Bytes all, piece;
  while ((error = reader.Next(piece)) == kSuccess && !piece.empty()) all.insert(all.end(), piece.begin(), piece.end());
  return all;
}

TEST(NtfsStreamReader, WritesSparseRunsAsZerosWithoutReadingThem) {
  NtfsStream s;
  s.found = s.nonResident = true;
  s.runs = {{2, 7, false}, {3, 0, true}, {1, 9, false}};
  s.realSize = s.initializedSize = 6 * 512 - 100;
  PatternClusters clusters(512);
  NtfsStreamReader reader(s, 512, clusters);
  int error = 0;
  Bytes all = ReadAll(reader, error);
  ASSERT_EQ(error, kSuccess);
  ASSERT_EQ(all.size(), s.realSize);
  EXPECT_EQ(all[0], 7);
  EXPECT_EQ(all[512], 8);
  EXPECT_EQ(all[1024], 0);
  EXPECT_EQ(all[5 * 512 - 1], 0);
  EXPECT_EQ(all[5 * 512], 9);
  EXPECT_EQ(clusters.reads, (std::vector<uint64_t>{7, 8, 9}));
}

TEST(NtfsStreamReader, ZerosPastTheInitializedSizeAndFailsWhenRunsEndEarly) {
  NtfsStream s;
  s.found = s.nonResident = true;
  s.runs = {{4, 20, false}};
  s.realSize = 4 * 512;
  s.initializedSize = 700;
  PatternClusters clusters(512);
  NtfsStreamReader reader(s, 512, clusters);
  int error = 0;
  Bytes all = ReadAll(reader, error);
  ASSERT_EQ(error, kSuccess);
  EXPECT_EQ(all[699], 21);
  EXPECT_EQ(all[700], 0);
  EXPECT_EQ(all[2047], 0);

  s.realSize = 10 * 512;  // the run list lost its tail
  s.initializedSize = s.realSize;
  NtfsStreamReader cut(s, 512, clusters);
  ReadAll(cut, error);
  EXPECT_EQ(error, kErrHandleEof);
}

TEST(NtfsStreamReader, DecompressesCompressionUnitsAndPassesStoredOnes) {
  // Units of 16 clusters of 512 bytes. Unit 0: one cluster of LZNT1 data and
  // 15 sparse. Unit 1: 16 allocated clusters, stored raw. Unit 2: all sparse.
  NtfsStream s;
  s.found = s.nonResident = true;
  s.flags = 0x0001;
  s.compressionUnit = 4;
  s.runs = {{1, 50, false}, {15, 0, true}, {16, 60, false}, {16, 0, true}};
  s.realSize = s.initializedSize = 3 * 8192 - 10;
  PatternClusters clusters(512);
  Bytes packed = RunOfA();
  packed.resize(512, 0);
  clusters.content[50] = packed;
  NtfsStreamReader reader(s, 512, clusters);
  int error = 0;
  Bytes all = ReadAll(reader, error);
  ASSERT_EQ(error, kSuccess);
  ASSERT_EQ(all.size(), s.realSize);
  EXPECT_EQ(std::count(all.begin(), all.begin() + 8192, 'a'), 4096);
  EXPECT_EQ(all[4096], 0);
  EXPECT_EQ(all[8192], 60);
  EXPECT_EQ(all[8192 + 15 * 512], 75);
  EXPECT_EQ(all[2 * 8192 + 5], 0);
}

}  // namespace
}  // namespace kestrel
