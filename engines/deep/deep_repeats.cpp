// Which carved records of a deep scan repeat a file a named member (or the
// fast pass) found: each named file's first data sector, told the way its
// engine places data, against the carved records' first sectors.
#include <set>

#include "carve/signatures.h"
#include "catalogue/categories.h"
#include "engines/deep/deep_recovery.h"
#include "platform/error_codes.h"

namespace kestrel {

bool CProfessionalRecovery::NamedFirstSector(const FoundFileRecord& r, uint64_t& sector) {
  if (r.IsDirectory() || r.size == 0 || r.clusterBytes <= 0) return false;
  const uint64_t clusterBytes = uint64_t(r.clusterBytes);
  switch (static_cast<EngineKind>(r.engineKind)) {
    case EngineKind::kFastNtfs:
    case EngineKind::kDeepNtfs: {
      // Resident data has no sector of its own; a file that starts with a
      // hole has no first sector to carve from.
      std::vector<NtfsRun> runs;
      if (ntfs_.RunListAt(r.entrySector, runs) != kSuccess || runs.empty() || runs[0].sparse) return false;
      sector = r.partitionStart + runs[0].lcn * clusterBytes / uint64_t(sectorBytes_);
      return true;
    }
    case EngineKind::kFastFat:
    case EngineKind::kDeepFat:
    case EngineKind::kFastExfat:
    case EngineKind::kDeepExfat:
      // Clusters are numbered from 2; a smaller number means no data.
      if (r.itemKey < 2) return false;
      sector = r.partitionStart + r.dataStart + (r.itemKey - 2) * (clusterBytes / uint64_t(sectorBytes_));
      return true;
    case EngineKind::kCarving: return false;
  }
  return false;
}

int CProfessionalRecovery::UpdateRepeats() {
  const uint64_t found = GetFoundCount();
  if (repeatsBuilt_ && repeatsFoundCount_ == found) return kSuccess;
  repeatsBuilt_ = false;
  repeats_.Build({}, {});
  // Only each record's start and extension are kept while the index is
  // built: whole records of millions of files would cost hundreds of MB.
  std::vector<FileStart> carved;
  {
    std::vector<FoundFileRecord> records;
    if (int error = carver_.ListChildren(nullptr, 0, records); error != kSuccess) return error;
    carved.reserve(records.size());
    for (const FoundFileRecord& c : records) {
      if (!c.IsDirectory()) carved.push_back({c.entrySector, ExtensionOf(c.Name())});
    }
  }
  // Only named files of a type something was carved as can be repeated;
  // searching for those alone spares reading the run list of every other
  // NTFS file.
  std::set<std::string> carvedTypes;
  for (const FileStart& c : carved) carvedTypes.insert(c.extension);
  std::string wanted;
  for (const SignatureRow& row : SignatureTable()) {
    for (const std::string& type : carvedTypes) {
      if (CarvedCopyOf(row.extension, type)) {
        wanted += std::string("*.") + row.extension + "|";
        break;
      }
    }
  }
  if (carvedTypes.contains("jpg")) wanted += "*.thm|";
  std::vector<FileStart> named;
  if (!wanted.empty()) {
    SearchProgressCallback shownCallback = searchCallback_;
    void* shownUser = searchUser_;
    // Part of listing, not a search the user started: its progress is not
    // shown, and a search the user stopped earlier does not stop it.
    SetSearchCallback(nullptr, nullptr);
    for (IFileRecoveryParse* engine : {fast_.get(), static_cast<IFileRecoveryParse*>(&fat_),
                                       static_cast<IFileRecoveryParse*>(&ntfs_),
                                       static_cast<IFileRecoveryParse*>(&exfat_)}) {
      if (!engine) continue;
      // A store that cannot be searched only leaves its carved copies listed.
      std::vector<FoundFileRecord> records;
      engine->SearchByExtension(wanted, records);
      for (const FoundFileRecord& r : records) {
        uint64_t sector = 0;
        if (NamedFirstSector(r, sector)) named.push_back({sector, ExtensionOf(r.Name())});
      }
    }
    SetSearchCallback(shownCallback, shownUser);
  }
  repeats_.Build(std::move(named), carved);
  repeatsBuilt_ = true;
  repeatsFoundCount_ = found;
  return kSuccess;
}

}  // namespace kestrel
