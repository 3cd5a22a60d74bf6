#include "engines/deep/deep_store_member.h"

#include "engines/common/store_support.h"
#include "platform/error_codes.h"

namespace kestrel::deep {

StoreMember::~StoreMember() {
  if (log_) log_->Close();
}

int StoreMember::SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user, int32_t scale) {
  progress_ = progress;
  item_ = item;
  user_ = user;
  scale_ = scale;
  return kSuccess;
}

uint64_t StoreMember::GetFoundCount() { return log_ ? log_->RecordCount() : 0; }

int StoreMember::SetSearchCallback(SearchProgressCallback callback, void* user) {
  searchCallback_ = callback;
  searchUser_ = user;
  if (!log_) return kErrInvalidParameter;
  log_->SetSearchCallback(callback, user);
  return kSuccess;
}

int StoreMember::SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) {
  return SearchLog(log_.get(), extensions, out);
}

}  // namespace kestrel::deep
