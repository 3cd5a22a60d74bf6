#include "app/found_file_outcome.h"

#include <array>

#include "app/found_items.h"
#include "app/selection.h"
#include "engines/found_item_stream.h"

namespace kestrel {

FileOutcome KnownOutcome(IFileRecoveryParse& engine, const FoundFileRecord& record) {
  if (record.IsDirectory()) return FileOutcome::kRecovered;
  auto* stream = dynamic_cast<IFoundItemStream*>(&engine);
  if (stream && stream->ReachOf(record) == ItemReach::kCut) return FileOutcome::kPartial;
  if (!record.FirstBlockValid() || record.wholeFileCheck() == WholeFileCheck::kFailed) return FileOutcome::kDamaged;
  return FileOutcome::kRecovered;
}

FileOutcome CheckedOutcome(IFileRecoveryParse& engine, const FoundFileRecord& record) {
  FileOutcome known = KnownOutcome(engine, record);
  if (record.IsDirectory() || known == FileOutcome::kPartial) return known;
  bool unread = false;
  IntegrityResult check = CheckFoundContent(engine, record, &unread);
  if (unread) return FileOutcome::kPartial;
  if (check.damaged()) return FileOutcome::kDamaged;
  // The scan's failed check stands where the full one has nothing to say.
  return check.verdict == IntegrityVerdict::kIntact ? FileOutcome::kRecovered : known;
}

namespace {

std::string RecordKey(const FoundFileRecord& record) {
  std::array<uint8_t, kFoundFileRecordBytes> bytes{};
  record.Serialize(bytes);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

int CheckedOutcomes::CheckAll(IFileRecoveryParse& engine) {
  std::vector<FoundItem> found;
  if (int error = CollectFound(engine, found); error != 0) return error;
  for (const FoundItem& item : found) {
    if (item.record.IsDirectory()) continue;
    ++files_;
    FileOutcome outcome = CheckedOutcome(engine, item.record);
    if (outcome == FileOutcome::kDamaged) ++damaged_;
    else if (outcome == FileOutcome::kPartial) ++partial_;
    else continue;
    marked_.emplace(RecordKey(item.record), outcome);
  }
  return 0;
}

FileOutcome CheckedOutcomes::Of(const FoundFileRecord& record) const {
  auto at = marked_.find(RecordKey(record));
  return at == marked_.end() ? FileOutcome::kRecovered : at->second;
}

}  // namespace kestrel
