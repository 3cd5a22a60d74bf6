// An ExfatReader over a sector device: volume-relative byte reads turned into
// whole-sector reads at the volume's first sector.
#pragma once

#include <cstdint>

#include "fs/exfat/exfat_volume.h"
#include "storage/sector_device.h"

namespace kestrel {

// The device must outlive the reader. firstSector is in sectorBytes units.
ExfatReader MakeDeviceReader(SectorDevice& device, int32_t sectorBytes, uint64_t firstSector);

}  // namespace kestrel
