// Pure detectors over the first bytes of a volume: which file system is there.
#pragma once

#include <string>

#include "platform/byte_view.h"

namespace kestrel {

enum class FileSystemKind { kFat = 2, kNtfs = 3, kExt = 4, kUnrecognised = 5, kExfat = 6 };

inline constexpr size_t kProbeBytes = 16384;

bool IsNtfsBootSector(ByteView bootSector);
bool IsFatBootSector(ByteView bootSector);
// superblock: the 1,024 bytes at offset 1024 of the volume.
bool IsExtSuperblock(ByteView superblock);
bool IsBitLockerBootSector(ByteView bootSector);
bool IsFat1216Bpb(ByteView bootSector);
bool IsFat32Bpb(ByteView bootSector);

// NTFS, then FAT, then exFAT, then ext; the first test that passes wins.
FileSystemKind ClassifyVolume(ByteView probe);
std::string FileSystemKindName(FileSystemKind kind);  // "FAT", "NTFS", "exFAT", "ext", "unrecognised"

}  // namespace kestrel
