// The geometry an NTFS boot sector gives: sector and cluster size, where the
// MFT starts and how large one MFT record is. Pure parsing, no device access;
// shared by the fast and the deep NTFS engines.
#pragma once

#include <cstdint>
#include <string>

#include "platform/byte_view.h"

namespace kestrel {

struct NtfsGeometry {
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 0;
  uint32_t clusterBytes = 0;
  uint64_t totalSectors = 0;      // volume length as the boot sector states it
  uint64_t mftCluster = 0;        // first cluster of $MFT
  uint64_t mftMirrorCluster = 0;
  uint32_t recordBytes = 0;       // one MFT record
  uint32_t indexBlockBytes = 0;   // one $INDEX_ALLOCATION block

  uint64_t MftByteOffset() const { return mftCluster * clusterBytes; }
};

// The probe's test: the "NTFS    " OEM name, a BPB whose FAT fields are zero
// as NTFS leaves them, a power-of-two cluster and 55 AA at the end.
bool IsNtfsBootSector(ByteView bootSector);

// Decodes the clusters-per-record style bytes at 0x40 and 0x44: a positive
// value counts clusters, a negative one n means 2^-n bytes. 0 when the value
// gives no usable size.
uint32_t NtfsRecordSizeField(int8_t value, uint32_t clusterBytes);

// Fills geometry from the first sector of an NTFS volume. False (with a short
// reason in why, when given) when the fields cannot describe a readable
// volume: sector size not a power of two in 512..4096, no cluster size,
// a record size that is not a power of two between 512 bytes and 64 KiB, or
// an MFT that lies beyond the stated volume length.
bool ParseNtfsBoot(ByteView boot, NtfsGeometry& geometry, std::string* why = nullptr);

// NTFS keeps a copy of its boot sector in the last sector of the volume
// (formatters leave that sector outside the stated length for it). The byte
// offset of that copy in a volume of volumeBytes; 0 when there is no room.
uint64_t NtfsBackupBootOffset(uint64_t volumeBytes, uint32_t sectorBytes);

}  // namespace kestrel
