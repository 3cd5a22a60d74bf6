// Pure detectors over the first bytes of a volume: which file system is there.
// Each file system's own recogniser lives with its parser (fs/fat, fs/ntfs,
// fs/exfat); this file asks them in order.
#pragma once

#include <string>

#include "fs/fat/fat_boot.h"
#include "fs/ntfs/ntfs_boot.h"
#include "platform/byte_view.h"

namespace kestrel {

enum class FileSystemKind { kFat = 2, kNtfs = 3, kExt = 4, kUnrecognised = 5, kExfat = 6 };

inline constexpr size_t kProbeBytes = 16384;

// superblock: the 1,024 bytes at offset 1024 of the volume.
bool IsExtSuperblock(ByteView superblock);

// NTFS, then FAT, then exFAT, then ext; the first test that passes wins.
FileSystemKind ClassifyVolume(ByteView probe);
std::string FileSystemKindName(FileSystemKind kind);  // "FAT", "NTFS", "exFAT", "ext", "unrecognised"

}  // namespace kestrel
