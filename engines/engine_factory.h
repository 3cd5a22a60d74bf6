// Reads the first 16 KiB of a source, decides what file system it holds and
// creates the engine that fits: a fast engine per file system, the deep
// composite for every deep scan.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "engines/common/boot_copy.h"
#include "engines/file_recovery_parse.h"
#include "engines/scan_source.h"
#include "fs/volume_probe.h"

namespace kestrel {

// The first 16 KiB of a source (from byte offset of the open fd). 38 when
// the source is shorter than that.
int ReadProbeAt(int fd, uint64_t offset, std::vector<uint8_t>& probe);
// The same, opening the image or disk for it; a damaged boot sector is
// replaced by its backup copy as ReadVolumeProbeAt does.
int ReadImageProbe(const std::filesystem::path& image, std::vector<uint8_t>& probe);
int ReadPartitionProbe(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                       std::vector<uint8_t>& probe);

// The probe of a volume of volumeBytes starting at byte offset start of fd,
// with its boot sector replaced by the backup copy when the first sector is
// damaged; boot (when given) says which copy the probe holds.
int ReadVolumeProbeAt(int fd, uint64_t start, uint64_t volumeBytes, uint32_t sectorBytes,
                      std::vector<uint8_t>& probe, BootSectorChoice* boot = nullptr);

// The engine for a classified volume; null for an unrecognised one on a fast scan.
std::unique_ptr<IFileRecoveryParse> CreateEngineForKind(FileSystemKind kind, bool deep);

// Null when the source cannot be opened or probed, or (fast scans) holds no
// file system we parse. The engine is returned opened even if its open failed;
// its scan then meets the failure.
std::unique_ptr<IFileRecoveryParse> CreateEngineForPartition(int32_t driveNumber, uint64_t firstSector,
                                                             uint64_t sectorCount, uint16_t letter, bool deep);
std::unique_ptr<IFileRecoveryParse> CreateEngineForImage(const std::filesystem::path& image, uint16_t letter,
                                                         bool deep);

// The engine for a resolved source, opened on it, from the probe the source
// already holds (nothing is read again). Null when that probe could not be
// read, or (fast scans) the volume holds no file system we parse.
std::unique_ptr<IFileRecoveryParse> CreateEngineForSource(const ScanSource& source, bool deep);

}  // namespace kestrel
