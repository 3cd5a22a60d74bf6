// FAT boot sector and directory entries, walked the way the fast engine walks
// one directory cluster. The first byte chooses FAT32 entry rules.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fs/fat/fat_boot.h"
#include "fs/fat/fat_dir.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool fat32 = data[0] & 1;
  ByteView all(data + 1, size - 1);

  FatGeometry geometry;
  if (ParseFatBoot(all, geometry) == 0) {
    // Geometry that parsed must address clusters without overflow.
    for (uint64_t c : {uint64_t(0), uint64_t(2), uint64_t(geometry.clusterCount) + 1}) {
      if (geometry.IsValidCluster(c)) (void)geometry.ClusterSector(uint32_t(c));
    }
  }

  (void)StartsLikeDirectory(all);
  LongNameAssembler names;
  for (size_t offset = 0; offset + kFatEntryBytes <= all.size(); offset += kFatEntryBytes) {
    ByteView entry = all.Sub(offset, kFatEntryBytes);
    if (!IsPlausibleEntry(entry, all.Sub(offset + kFatEntryBytes, kFatEntryBytes), fat32)) {
      names.Reset();
      continue;
    }
    if (entry.u8(11) == kFatAttrLongName) {
      names.AddPart(entry);
      continue;
    }
    std::string name = names.Take(entry);
    FatDirEntry d = ParseFatDirEntry(entry, fat32);
    (void)IsDotEntry(entry);
    (void)IsDotDotEntry(entry);
    (void)d.IsDeleted();
    std::string safe = SafeFileName(name.empty() ? ShortNameText(entry) : name);
    if (safe.empty() || safe == "." || safe == ".." || safe.find('/') != std::string::npos) __builtin_trap();
  }
  return 0;
}
