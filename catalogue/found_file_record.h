// One found file or folder. The same 346 little-endian bytes are the unit of the
// scan-log records file, so the serialised layout is a stored file format.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "carve/integrity/integrity_check.h"

namespace kestrel {

enum class EngineKind : uint32_t {
  kFastNtfs = 0,
  kFastFat = 1,
  kDeepNtfs = 2,
  kDeepFat = 3,
  kCarving = 4,
  kFastExfat = 5,
  kDeepExfat = 6,
};

// How sure a found file's data is: how its clusters were placed, and what the
// whole-file content check said of the bytes that placement gives.
enum class DataLayout : uint8_t {
  kUnknown = 0,     // the engine does not say (carved files, NTFS runs ...)
  kChain = 1,       // along an allocation chain the volume still has
  kContiguous = 2,  // consecutive clusters from the first one
  kAroundLive = 3,  // the free clusters after the first, passing over live files
  kInferred = 4,    // chosen among several placements by the file's content
};
enum class WholeFileCheck : uint8_t { kNotRun = 0, kPassed = 1, kFailed = 2 };

// "chain", "contiguous", "around-live", "inferred" or "-"; "passed", "failed" or "-".
std::string_view DataLayoutWord(DataLayout layout);
std::string_view WholeFileCheckWord(WholeFileCheck check);
// A whole-file check's verdict as a record keeps it (unknown: not run).
WholeFileCheck WholeFileCheckOf(IntegrityVerdict verdict);

inline constexpr size_t kFoundFileRecordBytes = 346;
inline constexpr size_t kRecordNameBytes = 260;

struct FoundFileRecord {
  uint16_t driveLetter = 0;     // the letter value given at open, copied into every record
  uint32_t engineKind = 0;      // EngineKind of the engine that owns the record
  uint32_t isDirectory = 0;
  uint32_t isDeleted = 0;
  // Bit 0: the first data block passes its type's check (or none applies);
  // bits 8-11 the DataLayout and bits 12-13 the WholeFileCheck, where the
  // engine knows them; bits 14-21 which of its placements the engine chose
  // (its own numbering, so that reading back takes the same clusters).
  // Read through the accessors below.
  uint32_t contentValid = 0;
  uint32_t recordIndex = 0;     // 1-based position in the scan log
  uint32_t itemKey = 0;         // FAT first cluster / NTFS MFT record number
  int32_t clusterBytes = 0;     // -1 in NTFS lost-folder records
  uint64_t created = 0;         // FILETIME: 100 ns units since 1601
  uint64_t accessed = 0;
  uint64_t modified = 0;
  uint64_t size = 0;
  uint64_t dataStart = 0;       // FAT: first data sector, partition-relative
  uint64_t entrySector = 0;     // absolute sector holding the item's metadata
  uint64_t partitionStart = 0;  // absolute first sector of the volume
  std::array<char, kRecordNameBytes> name{};  // UTF-8, NUL-terminated

  std::string_view Name() const;
  // Stores name, cut at a UTF-8 character boundary so that it and its NUL fit.
  void SetName(std::string_view text);
  bool IsDirectory() const { return isDirectory != 0; }
  bool FirstBlockValid() const { return (contentValid & 1) != 0; }
  DataLayout layout() const { return DataLayout((contentValid >> 8) & 0x0F); }
  WholeFileCheck wholeFileCheck() const { return WholeFileCheck((contentValid >> 12) & 0x03); }
  uint32_t placement() const { return (contentValid >> 14) & 0xFF; }
  void SetHowSure(DataLayout layout, WholeFileCheck check, uint32_t placement = 0) {
    contentValid = (contentValid & 1) | (uint32_t(layout) << 8) | (uint32_t(check) << 12) | ((placement & 0xFF) << 14);
  }

  void Serialize(std::span<uint8_t, kFoundFileRecordBytes> out) const;
  static FoundFileRecord Deserialize(std::span<const uint8_t, kFoundFileRecordBytes> in);
};

// A folder in the relation index: its key (FAT first cluster, NTFS record
// number) in the low half, its depth below the root in the high half, so that
// folders of different depth reusing one cluster number stay apart.
struct DirectoryKey {
  uint32_t key = 0;
  uint32_t level = 0;
  uint64_t Packed() const { return (uint64_t(level) << 32) | key; }
  static DirectoryKey FromPacked(uint64_t packed) {
    return {static_cast<uint32_t>(packed), static_cast<uint32_t>(packed >> 32)};
  }
  friend bool operator==(const DirectoryKey&, const DirectoryKey&) = default;
};

}  // namespace kestrel
