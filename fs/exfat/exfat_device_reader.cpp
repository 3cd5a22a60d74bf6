#include "fs/exfat/exfat_device_reader.h"

#include <algorithm>
#include <vector>

#include "platform/error_codes.h"

namespace kestrel {

ExfatReader MakeDeviceReader(SectorDevice& device, int32_t sectorBytes, uint64_t firstSector) {
  return [&device, sectorBytes, firstSector](uint64_t offset, uint8_t* out, uint32_t count, uint32_t& got) {
    got = 0;
    if (!device.IsOpen() || sectorBytes <= 0) return kErrInvalidParameter;
    const uint64_t sb = uint64_t(sectorBytes);
    uint64_t absolute = firstSector * sb + offset;
    uint64_t sector = absolute / sb;
    uint64_t skip = absolute % sb;
    if (sector >= device.totalSectors) return kErrReadFault;
    uint64_t sectors = std::min((skip + count + sb - 1) / sb, device.totalSectors - sector);
    std::vector<uint8_t> buffer;
    int error = kSuccess;
    while (got < count && sectors > 0) {
      int32_t piece = int32_t(std::min<uint64_t>(sectors, std::max<uint64_t>(1, kMaxReadPiece / sb)));
      buffer.resize(size_t(piece) * sb);
      int32_t read = 0;
      error = ReadSectors(piece, device, buffer.data(), sector, sectorBytes, &read);
      uint64_t bytes = uint64_t(std::max(read, 0)) * sb;
      uint64_t usable = bytes > skip ? std::min<uint64_t>(bytes - skip, count - got) : 0;
      std::copy_n(buffer.data() + skip, usable, out + got);
      got += uint32_t(usable);
      if (error != kSuccess || read < piece) break;
      skip = 0;
      sector += uint64_t(piece);
      sectors -= uint64_t(piece);
    }
    return got == 0 && error == kSuccess ? kErrReadFault : error;
  };
}

}  // namespace kestrel
