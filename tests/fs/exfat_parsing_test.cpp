// exFAT boot region, entry sets and the cluster rule, on a small volume built
// in memory: 512-byte sectors, one sector per cluster, 64 clusters.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fs/exfat/exfat_boot.h"
#include "fs/exfat/exfat_dir.h"
#include "fs/exfat/exfat_volume.h"
#include "fs/volume_probe.h"
#include "platform/byte_view.h"
#include "platform/error_codes.h"

namespace kestrel {
namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kFatOffset = 24, kHeapOffset = 32, kClusters = 64, kRoot = 4;

void WriteBootRegion(std::vector<uint8_t>& v, size_t at) {
  uint8_t* b = &v[at];
  std::memcpy(b + 3, "EXFAT   ", 8);
  PutLe64(b + 72, kHeapOffset + kClusters);
  PutLe32(b + 80, kFatOffset);
  PutLe32(b + 84, 1);
  PutLe32(b + 88, kHeapOffset);
  PutLe32(b + 92, kClusters);
  PutLe32(b + 96, kRoot);
  b[108] = 9;
  b[109] = 0;
  b[110] = 1;
  b[0x1FE] = 0x55;
  b[0x1FF] = 0xAA;
  uint32_t sum = ExfatBootChecksum(ByteView(b, 11 * kSector), kSector);
  for (uint32_t i = 0; i < kSector; i += 4) PutLe32(b + 11 * kSector + i, sum);
}

// A file entry set; deleted sets have their in-use bits cleared after the
// checksum was taken, as a driver deleting the file leaves them.
std::vector<uint8_t> EntrySet(const std::u16string& name, uint32_t first, uint64_t length, bool deleted,
                              uint8_t flags = 0x01, uint16_t attributes = 0x20) {
  uint32_t nameEntries = uint32_t(name.size() + 14) / 15;
  std::vector<uint8_t> s(size_t(2 + nameEntries) * 32, 0);
  s[0] = 0x85;
  s[1] = uint8_t(1 + nameEntries);
  PutLe16(&s[4], attributes);
  s[32] = 0xC0;
  s[33] = flags;
  s[35] = uint8_t(name.size());
  PutLe64(&s[40], length);
  PutLe32(&s[52], first);
  PutLe64(&s[56], length);
  for (uint32_t i = 0; i < nameEntries; ++i) {
    s[64 + 32 * i] = 0xC1;
    for (uint32_t c = 0; c < 15 && 15 * i + c < name.size(); ++c) PutLe16(&s[64 + 32 * i + 2 + 2 * c], name[15 * i + c]);
  }
  PutLe16(&s[2], ExfatSetChecksum(ByteView(s.data(), s.size()), uint32_t(s.size() / 32)));
  if (deleted) {
    for (size_t i = 0; i < s.size(); i += 32) s[i] &= 0x7F;
  }
  return s;
}

struct MemoryVolume {
  std::vector<uint8_t> bytes = std::vector<uint8_t>((kHeapOffset + kClusters) * kSector, 0);

  MemoryVolume() {
    WriteBootRegion(bytes, 0);
    WriteBootRegion(bytes, 12 * kSector);
    SetFat(2, kExfatEndOfChain);  // bitmap
    SetFat(kRoot, kExfatEndOfChain);
    uint8_t* root = Cluster(kRoot);
    root[0] = 0x81;
    PutLe32(root + 20, 2);
    PutLe64(root + 24, kClusters / 8);
    MarkUsed(2);
    MarkUsed(kRoot);
  }
  uint8_t* Cluster(uint32_t c) { return &bytes[(kHeapOffset + c - 2) * kSector]; }
  void SetFat(uint32_t c, uint32_t v) { PutLe32(&bytes[kFatOffset * kSector + 4 * c], v); }
  void MarkUsed(uint32_t c) { Cluster(2)[(c - 2) / 8] |= uint8_t(1u << ((c - 2) % 8)); }
  ExfatReader Reader() {
    return [this](uint64_t offset, uint8_t* out, uint32_t count, uint32_t& got) {
      got = uint32_t(std::min<uint64_t>(count, bytes.size() - offset));
      std::memcpy(out, bytes.data() + offset, got);
      return kSuccess;
    };
  }
};

TEST(ExfatBoot, RecognisedAndRefusedByItsFields) {
  MemoryVolume v;
  ByteView boot(v.bytes.data(), kSector);
  EXPECT_TRUE(IsExfatBootSector(boot));
  EXPECT_EQ(ClassifyVolume(ByteView(v.bytes.data(), kProbeBytes)), FileSystemKind::kExfat);
  EXPECT_EQ(FileSystemKindName(FileSystemKind::kExfat), "exFAT");
  EXPECT_TRUE(ExfatBootChecksumMatches(ByteView(v.bytes.data(), 12 * kSector), kSector));

  auto refused = [&](size_t offset, uint8_t value) {
    std::vector<uint8_t> b(v.bytes.begin(), v.bytes.begin() + kSector);
    b[offset] = value;
    return !IsExfatBootSector(ByteView(b.data(), b.size()));
  };
  EXPECT_TRUE(refused(11, 2));     // legacy bytes per sector must stay zero
  EXPECT_TRUE(refused(92, 200));   // more clusters than the volume holds
  EXPECT_TRUE(refused(109, 20));   // clusters above 32 MiB
  EXPECT_TRUE(refused(108, 8));    // sectors below 512 bytes
  EXPECT_TRUE(refused(96, 1));     // root outside the heap
  EXPECT_TRUE(refused(110, 3));    // three FATs
  EXPECT_TRUE(refused(84, 0));     // no FAT
}

TEST(ExfatBoot, DamagedMainRegionFallsBackToTheBackup) {
  MemoryVolume v;
  v.bytes[100] ^= 0xFF;  // volume serial: the fields still parse, the checksum fails
  ExfatVolume volume;
  ASSERT_EQ(volume.Open(v.Reader(), v.bytes.size()), kSuccess);
  EXPECT_FALSE(volume.bootChecksumOk());
  EXPECT_EQ(volume.geometry().rootCluster, kRoot);

  // A main sector that no longer parses at all: the backup's geometry serves.
  MemoryVolume broken;
  std::memset(broken.bytes.data(), 0, kSector);
  ASSERT_EQ(volume.Open(broken.Reader(), broken.bytes.size()), kSuccess);
  EXPECT_EQ(volume.geometry().clusterCount, kClusters);

  // Neither region: refused.
  std::memset(broken.bytes.data() + 12 * kSector, 0, kSector);
  EXPECT_NE(volume.Open(broken.Reader(), broken.bytes.size()), kSuccess);
}

TEST(ExfatEntrySet, DeletedSetKeepsItsChecksumAndLongName) {
  std::u16string name = u"Holiday photo \U0001F4F7 with a name over fifteen.jpg";
  auto bytes = EntrySet(name, 10, 5000, true, 0x03);
  ExfatEntrySet set;
  ASSERT_EQ(ParseExfatEntrySet(ByteView(bytes.data(), bytes.size()), set), ExfatSetResult::kOk);
  EXPECT_TRUE(set.deleted);
  EXPECT_TRUE(set.noFatChain);
  EXPECT_EQ(set.name, "Holiday photo \xF0\x9F\x93\xB7 with a name over fifteen.jpg");
  EXPECT_EQ(set.firstCluster, 10u);
  EXPECT_EQ(set.dataLength, 5000u);
  EXPECT_EQ(set.entryCount, bytes.size() / 32);

  auto live = EntrySet(u"a.txt", 5, 1, false);
  ASSERT_EQ(ParseExfatEntrySet(ByteView(live.data(), live.size()), set), ExfatSetResult::kOk);
  EXPECT_FALSE(set.deleted);
  EXPECT_FALSE(set.noFatChain);
}

TEST(ExfatEntrySet, DamageIsRefusedNotGuessed) {
  ExfatEntrySet set;
  auto flipped = EntrySet(u"photo.jpg", 10, 5000, true);
  flipped[70] ^= 0x01;  // one name character
  EXPECT_EQ(ParseExfatEntrySet(ByteView(flipped.data(), flipped.size()), set), ExfatSetResult::kBadChecksum);

  // A deleted file entry followed by a live stream entry: another set wrote over it.
  auto mixed = EntrySet(u"photo.jpg", 10, 5000, true);
  mixed[32] |= 0x80;
  EXPECT_EQ(ParseExfatEntrySet(ByteView(mixed.data(), mixed.size()), set), ExfatSetResult::kMalformed);

  // A name length that needs more name entries than the set has.
  auto longName = EntrySet(u"photo.jpg", 10, 5000, false);
  longName[35] = 40;
  EXPECT_EQ(ParseExfatEntrySet(ByteView(longName.data(), longName.size()), set), ExfatSetResult::kMalformed);

  // Too many secondaries.
  auto many = EntrySet(u"photo.jpg", 10, 5000, false);
  many[1] = 19;
  EXPECT_EQ(ParseExfatEntrySet(ByteView(many.data(), many.size()), set), ExfatSetResult::kMalformed);

  auto whole = EntrySet(u"photo.jpg", 10, 5000, false);
  EXPECT_EQ(ParseExfatEntrySet(ByteView(whole.data(), 64), set), ExfatSetResult::kTruncated);
  EXPECT_EQ(ParseExfatEntrySet(ByteView(whole.data() + 32, 64), set), ExfatSetResult::kNotASet);
}

TEST(ExfatEntrySet, ValidLengthAboveTheSizeIsCutAndTimesKeepTheirFields) {
  auto bytes = EntrySet(u"clip.avi", 10, 4096, false);
  PutLe64(&bytes[40], 9000);  // valid data length beyond the data length
  // 2024-03-05 13:37:58, plus 1.5 s from the 10 ms field, recorded at UTC+02:00.
  uint32_t stamp = (uint32_t(2024 - 1980) << 25) | (3u << 21) | (5u << 16) | (13u << 11) | (37u << 5) | 29u;
  PutLe32(&bytes[12], stamp);
  bytes[21] = 150;
  bytes[23] = 0x80 | 8;
  PutLe16(&bytes[2], ExfatSetChecksum(ByteView(bytes.data(), bytes.size()), 3));
  ExfatEntrySet set;
  ASSERT_EQ(ParseExfatEntrySet(ByteView(bytes.data(), bytes.size()), set), ExfatSetResult::kOk);
  EXPECT_EQ(set.validDataLength, 4096u);
  auto expected = ExfatTimeToFileTime(stamp, 150, 0);
  ASSERT_TRUE(expected);
  EXPECT_EQ(set.modified, *expected - 2ull * 3600 * 10000000);
  // West of UTC: the offset is a negative seven-bit number.
  EXPECT_EQ(*ExfatTimeToFileTime(stamp, 0, 0x80 | 0x7C), *ExfatTimeToFileTime(stamp, 0, 0) + 3600ull * 10000000);
  EXPECT_FALSE(ExfatTimeToFileTime(stamp, 200, 0));
}

TEST(ExfatClusters, ChainsRunsAndTheAllocationAwareRule) {
  MemoryVolume v;
  // Live files in clusters 12 and 13; everything else from 10 on is free.
  v.MarkUsed(12);
  v.MarkUsed(13);
  v.SetFat(20, 30);
  v.SetFat(30, 22);
  v.SetFat(22, kExfatEndOfChain);
  v.SetFat(50, 51);
  v.SetFat(51, 50);
  ExfatVolume volume;
  ASSERT_EQ(volume.Open(v.Reader(), v.bytes.size()), kSuccess);
  ASSERT_EQ(volume.LoadBitmap(), kSuccess);
  EXPECT_TRUE(volume.IsClusterUsed(12));
  EXPECT_FALSE(volume.IsClusterUsed(11));
  std::vector<ExfatClusterRun> runs;
  auto clusters = [&]() {
    std::vector<uint32_t> out;
    for (auto r : runs) {
      for (uint32_t i = 0; i < r.count; ++i) out.push_back(r.first + i);
    }
    return out;
  };

  // A deleted file whose chain was wiped goes on in the free clusters after its first.
  ExfatDataSpec cleared{10, 4 * kSector, false, true, false};
  EXPECT_EQ(volume.ResolveClusters(cleared, runs), kSuccess);
  EXPECT_EQ(clusters(), (std::vector<uint32_t>{10, 11, 14, 15}));

  // Clusters known to hold another file (the bitmap lost them to a format) are gone round too.
  std::vector<uint8_t> claimed(kClusters / 8, 0);
  claimed[(14 - 2) / 8] |= uint8_t(1u << ((14 - 2) % 8));
  cleared.claimed = &claimed;
  EXPECT_EQ(volume.ResolveClusters(cleared, runs), kSuccess);
  EXPECT_EQ(clusters(), (std::vector<uint32_t>{10, 11, 15, 16}));

  // A surviving chain is followed, gaps and all.
  ExfatDataSpec chained{20, 3 * kSector, false, true, false};
  EXPECT_EQ(volume.ResolveClusters(chained, runs), kSuccess);
  EXPECT_EQ(clusters(), (std::vector<uint32_t>{20, 30, 22}));
  // The chain ends before the file does: what there is, and 38.
  ExfatDataSpec longer{20, 5 * kSector, false, true, false};
  EXPECT_EQ(volume.ResolveClusters(longer, runs), kErrHandleEof);
  EXPECT_EQ(clusters().size(), 3u);
  // A chain that loops stops at the loop.
  ExfatDataSpec looping{50, 5 * kSector, false, true, false};
  EXPECT_EQ(volume.ResolveClusters(looping, runs), kErrHandleEof);
  EXPECT_EQ(clusters(), (std::vector<uint32_t>{50, 51}));

  // A contiguous run stops where a live file took a cluster of it.
  ExfatDataSpec run{11, 3 * kSector, true, true, false};
  EXPECT_EQ(volume.ResolveClusters(run, runs), kErrHandleEof);
  EXPECT_EQ(clusters(), (std::vector<uint32_t>{11}));
  // A deleted file whose first cluster is in use again has nothing left.
  ExfatDataSpec taken{12, kSector, true, true, false};
  EXPECT_EQ(volume.ResolveClusters(taken, runs), kErrHandleEof);
  EXPECT_TRUE(runs.empty());
  // A length past the volume's clusters, or a run past its end.
  ExfatDataSpec huge{56, uint64_t(1) << 40, true, false, false};
  EXPECT_EQ(volume.ResolveClusters(huge, runs), kErrHandleEof);
  EXPECT_EQ(clusters().size(), size_t(kClusters + 2 - 56));
}

TEST(ExfatClusters, ReadFileZeroesWhatLiesPastTheValidLength) {
  MemoryVolume v;
  ExfatVolume volume;
  ASSERT_EQ(volume.Open(v.Reader(), v.bytes.size()), kSuccess);
  std::memset(v.Cluster(10), 'A', kSector);
  std::memset(v.Cluster(11), 'B', kSector);
  std::vector<uint8_t> out;
  ExfatDataSpec spec{10, 2 * kSector - 10, true, true, false};
  auto sink = [&](const uint8_t* d, size_t n) {
    out.insert(out.end(), d, d + n);
    return kSuccess;
  };
  ASSERT_EQ(volume.ReadFile(spec, kSector + 4, spec.length, sink, nullptr), kSuccess);
  ASSERT_EQ(out.size(), spec.length);
  EXPECT_EQ(out[kSector - 1], 'A');
  EXPECT_EQ(out[kSector + 3], 'B');
  EXPECT_EQ(out[kSector + 4], 0);
  EXPECT_EQ(out.back(), 0);
}

}  // namespace
}  // namespace kestrel
