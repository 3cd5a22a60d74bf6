// Recovering a found item to a folder, written once for every engine: a file
// goes through the engine's writer; a folder is created and its tree walked
// breadth first through the engine's ListChildren. Engines supply only how
// one file is written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "catalogue/found_file_record.h"
#include "engines/file_recovery_parse.h"
#include "platform/progress.h"

namespace kestrel {

// Writes one file record to path (its folder exists) and reports it to the
// item callback; 0, an error code, or a callback's non-zero answer.
using FileWriter = std::function<int(const FoundFileRecord& record, const std::filesystem::path& path)>;

// Deeper folders than this are not followed: no real tree gets there (the
// path would pass what Linux can open), so only a loop in a damaged index does.
inline constexpr int32_t kMaxTreeDepth = 1024;

// The policy, the same for every engine:
// - the first error met is the result (a later success never hides it); the
//   walk still goes on, so one bad file costs only itself;
// - a negative answer (kCancelled or another stop from a callback) ends
//   everything at once and is returned unchanged;
// - each folder record is visited once (a damaged index that lists a folder
//   below itself cannot loop), and no deeper than kMaxTreeDepth; a folder cut
//   off by the bound makes the result kErrInvalidParameter.
// A null record is kErrInvalidParameter. The levels given to ListChildren are
// the separators of the folder's path minus rootDepth.
int RecoverTree(IFileRecoveryParse& engine, const FoundFileRecord* record, const std::filesystem::path& destination,
                int32_t rootDepth, ItemProgressCallback item, void* user, const FileWriter& writeFile);

}  // namespace kestrel
