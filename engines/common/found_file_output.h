// Writing one found file out, to a recovered file or to a preview, the same
// way for every engine: engines supply only a reader that copies a record's
// bytes into a DataSink; the opening, progress reports and clean-up live here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

#include "catalogue/found_file_record.h"
#include "engines/common/data_sink.h"
#include "platform/progress.h"

namespace kestrel {

// Copies record's bytes into sink (at most sink.room()), calling report(bytes
// done) after each piece. 0, an error code, or report's non-zero answer.
// kErrHandleEof means the file's end could not be found: what was delivered
// is all there is.
using RecordReader =
    std::function<int(const FoundFileRecord& record, DataSink& sink, const std::function<int(uint64_t)>& report)>;

// One file recovered to path (its folder must exist), replacing any file of
// that name. It is written under a hidden temporary name, flushed, and renamed
// to path only when whole; a file whose end was lost (kErrHandleEof) is kept
// under MarkedName(path, "partial") (with "(n)" when taken); the thread's
// PublishNameChooser may choose another name first; any other failure or a stop
// leaves nothing. Progress goes to item: percents below 100 while it is
// written, then exactly one call at 100 with the outcome (0 or the error) and
// the path it was published under, unless a callback answered non-zero, which
// is returned unchanged with no further call.
int WriteFoundFile(const FoundFileRecord& record, const std::filesystem::path& path, ItemProgressCallback item,
                   void* user, const RecordReader& read);

// "photo.jpg" -> "photo.partial.jpg", "README" -> "README.partial": the name
// of a file recovered only in part ("partial") or found damaged ("damaged").
std::filesystem::path MarkedName(const std::filesystem::path& path, std::string_view mark);

// A preview: pictures, audio and video to the temporary preview file (named in
// tempPath), other types into buffer, at most bufferSize bytes (out: the bytes
// delivered). A preview shows what there is, so a file whose end was lost
// (kErrHandleEof) still previews. On failure the temporary file is removed;
// callback gets percents, then one call at 100 with a failure's code.
int ExtractFoundFilePreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                            std::vector<uint8_t>& buffer, uint32_t& bufferSize, PreviewProgressCallback callback,
                            void* user, const RecordReader& read);

}  // namespace kestrel
