// Copies a stretch of a source, sector by sector, into a raw image file that
// survives bad sectors: a 64 KiB piece that fails is read again one sector at
// a time, sectors that still fail are written as zeros and recorded in the
// rescue map, and the copy goes on to the end. The map lets an interrupted
// copy resume and lets later runs re-read only the bad areas.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/jobs/rescue_map.h"
#include "storage/sector_device.h"

namespace kestrel {

struct ImageCopyRequest {
  SectorDevice* device = nullptr;  // open source; read through its read seam
  std::filesystem::path source;    // its name, for messages
  int32_t bytesPerSector = kImageSectorBytes;
  uint64_t firstSector = 0;        // of the stretch, in the device's sectors
  uint64_t sectorCount = 0;
  std::filesystem::path destination;
  std::filesystem::path map;       // rescue map; resumed from when it exists
  int retries = 0;                 // extra passes over the bad areas
  // Makes the image's written bytes durable before each map save: 0 or an
  // errno. fdatasync when empty; tests watch the order through it.
  std::function<int(int fd)> syncData;
  // Copies inside the kernel as copy_file_range(2) does, which is what it is
  // when null. A plain image file read through pread is copied this way, one
  // page copy instead of two; a range that fails is read again the normal way,
  // so bad sectors are handled alike. Tests set it to put faults in the path.
  using KernelCopyFn = ssize_t (*)(int in, off_t* inOffset, int out, off_t* outOffset, size_t length,
                                   unsigned flags);
  KernelCopyFn kernelCopy = nullptr;
};

struct ImageCopyProgress {
  uint64_t bytesDone = 0;   // copied or found unreadable, this run and earlier ones
  uint64_t bytesTotal = 0;
  uint64_t bytesBad = 0;
  uint64_t bytesAtStart = 0;  // done before this run began (a resumed copy)
  int pass = 1;               // 1 copying; 2.. retrying bad areas
};

// Called after every piece on the copying thread; a non-zero return stops the
// copy (the map is saved) and becomes its result.
using ImageCopyProgressFn = std::function<int(const ImageCopyProgress&)>;

struct ImageCopyOutcome {
  // 0; kCancelled (or another callback value); or the Win32-numbered error
  // with failedPath and reason saying which file and what went wrong.
  int result = 0;
  std::filesystem::path failedPath;
  std::string reason;
  bool resumed = false;
  uint64_t bytesTotal = 0;        // length of the image
  std::vector<MapArea> badAreas;  // unreadable areas left, written as zeros
  uint64_t badBytes = 0;
};

ImageCopyOutcome CopyToImage(const ImageCopyRequest& request, const ImageCopyProgressFn& progress);

// Reads a rescue map file. 0; 2 when it does not exist; 87 with why set when
// it is not a mapfile.
int LoadRescueMap(const std::filesystem::path& path, RescueMap& map, std::string& why);

}  // namespace kestrel
