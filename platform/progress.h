// The callback types through which long operations (scans, searches, item
// recovery, preview extraction) report progress and learn of a cancel.
#pragma once

#include <cstdint>
#include <filesystem>

namespace kestrel {

// progress x scale / 100 is the percent to show; remaining is seconds or -1;
// done/total/found are the deep engines' counters (0 from fast engines).
// A non-zero return stops the scan and becomes Scan's result.
using ScanProgressCallback = int (*)(void* user, int32_t progress, int32_t scale, int32_t remaining,
                                     uint64_t done, uint64_t total, uint64_t found, int32_t reserved);
// percent of one item's bytes written; every item that is not cancelled ends
// with one call at 100 (errorCode 0 on success).
using ItemProgressCallback = int (*)(void* user, int32_t percent, int32_t scale, int32_t errorCode,
                                     const std::filesystem::path& path);
using SearchProgressCallback = int (*)(void* user, int32_t percent, int32_t reserved);
using PreviewProgressCallback = int (*)(void* user, int32_t percent, int32_t result);

}  // namespace kestrel
