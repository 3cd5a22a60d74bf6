// Opening a finished deep scan again from the stores it left, instead of
// reading the whole source a second time: the fast pass's store, the
// members' stores as the finish wrote them, and the carved files.
#include "catalogue/scan_log_paths.h"
#include "engines/deep/deep_recovery.h"
#include "platform/error_codes.h"

namespace kestrel {

int CProfessionalRecovery::ReopenFinishedScan(const std::filesystem::path& folder) {
  if (!opened_ || !HasFinishedScan()) return kErrInvalidParameter;
  std::error_code ec;
  if (!std::filesystem::equivalent(folder, saved_.scanFolder, ec) || ec) return kErrInvalidParameter;
  repeatsBuilt_ = false;
  lastScanSaved_ = false;
  damage_.Clear();
  foundBase_ = 0;
  passTotal_ = 0;
  useFreeExtents_ = false;
  scanFolder_ = folder;
  // The fast pass's store opens without reading the source. Its engine is
  // there only where a file system was found, and then its store must be too.
  if (fast_) {
    std::string fastStore;
    if (!FindStoreByPrefix(kFastStorePrefix, fastStore, folder)) return kErrFileNotFound;
    if (int error = fast_->Scan(fastStore); error != kSuccess) return error;
  }
  // The finish already wrote every folder: the stores are taken as they are.
  if (int error = OpenMemberStores(folder, StoreChoice::kSavedOnly, nullptr); error != kSuccess) return error;
  fat_.ClaimStoredFinds();
  std::string exfatStore;
  if (!FindStoreByPrefix(kProExfatStorePrefix, exfatStore, folder)) return kErrFileNotFound;
  if (int error = exfat_.ReopenEmptyStore(exfatStore); error != kSuccess) return error;
  fat_.ReadBootSector();
  resume_ = false;
  return kSuccess;
}

}  // namespace kestrel
