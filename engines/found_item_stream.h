// Reading a found file's bytes without writing a file: the reader recovery
// uses, delivered in order to a caller's sink (a browsing mount, a content
// check). Engines that recover files offer it beside IFileRecoveryParse; a
// caller asks with dynamic_cast.
#pragma once

#include "catalogue/found_file_record.h"
#include "engines/common/data_sink.h"

namespace kestrel {

// Whether a found file's bytes can all be read, as far as an engine can tell
// from the allocation its scan saw and the source's length, without reading
// the data: kCut means reading would stop short of the recorded size, so
// recovery could only keep the file as partial.
enum class ItemReach { kUnknown, kWhole, kCut };

class IFoundItemStream {
 public:
  virtual ~IFoundItemStream() = default;
  // Delivers the bytes of a file record to sink from its first byte, read
  // exactly as RecoverItem reads them. 0; the error that stopped it
  // (kErrHandleEof: the file's end could not be found, what was delivered is
  // all there is); or the first non-zero answer of the sink's writes.
  virtual int StreamItem(const FoundFileRecord& record, DataSink& sink) = 0;
  // Cheap: no data is read. Engines that cannot tell answer kUnknown.
  virtual ItemReach ReachOf(const FoundFileRecord&) { return ItemReach::kUnknown; }
};

}  // namespace kestrel
