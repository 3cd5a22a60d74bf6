// Which records of a deep scan repeat a file found otherwise: carved records
// against each named file's first data sector, told the way its engine places
// data; deep FAT and exFAT records against the fast pass's deleted files.
#include <deque>
#include <set>
#include <utility>

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
  fatRepeats_.Build({}, {});
  exfatRepeats_.Build({}, {});
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
    for (IFileRecoveryParse* engine : {fast_.get(), static_cast<IFileRecoveryParse*>(&fat_),
                                       static_cast<IFileRecoveryParse*>(&ntfs_),
                                       static_cast<IFileRecoveryParse*>(&exfat_)}) {
      if (!engine) continue;
      // A store that cannot be searched only leaves its carved copies listed.
      std::vector<FoundFileRecord> records;
      SearchForListing(*engine, wanted, records);
      for (const FoundFileRecord& r : records) {
        uint64_t sector = 0;
        if (NamedFirstSector(r, sector)) named.push_back({sector, ExtensionOf(r.Name())});
      }
    }
  }
  repeats_.Build(std::move(named), carved);
  UpdateMemberRepeats();
  repeatsBuilt_ = true;
  repeatsFoundCount_ = found;
  return kSuccess;
}

void CProfessionalRecovery::UpdateMemberRepeats() {
  if (!fast_) return;
  // A folder tree deeper than this is not walked further; what lies below
  // is kept.
  constexpr int32_t kDeepestLevel = 64;
  for (auto [member, repeats] : {std::pair{static_cast<IFileRecoveryParse*>(&fat_), &fatRepeats_},
                                 std::pair{static_cast<IFileRecoveryParse*>(&exfat_), &exfatRepeats_}}) {
    std::vector<MemberNode> nodes;
    std::set<std::string> types;
    struct Folder {
      FoundFileRecord record;
      size_t node;
      int32_t level;
    };
    std::deque<Folder> queue{{FoundFileRecord{}, SIZE_MAX, 0}};
    while (!queue.empty()) {
      Folder folder = std::move(queue.front());
      queue.pop_front();
      std::vector<FoundFileRecord> entries;
      member->ListChildren(folder.node == SIZE_MAX ? nullptr : &folder.record, folder.level, entries);
      for (const FoundFileRecord& r : entries) {
        MemberNode node{r.recordIndex, r.IsDirectory(), folder.node, 0, 0};
        if (r.IsDirectory()) {
          if (folder.level + 1 < kDeepestLevel) queue.push_back({r, nodes.size(), folder.level + 1});
        } else if (NamedFirstSector(r, node.sector)) {
          node.size = r.size;
          types.insert(ExtensionOf(r.Name()));
        }
        nodes.push_back(node);
      }
    }
    // Only the fast pass's files of the member's types can be repeated.
    std::string wanted;
    for (const std::string& type : types) {
      if (!type.empty()) wanted += "*." + type + "|";
    }
    std::vector<FileSpan> fastDeleted;
    if (!wanted.empty()) {
      std::vector<FoundFileRecord> records;
      SearchForListing(*fast_, wanted, records);
      for (const FoundFileRecord& r : records) {
        FileSpan span{0, r.size};
        const auto kind = static_cast<EngineKind>(r.engineKind);
        if (r.isDeleted && (kind == EngineKind::kFastFat || kind == EngineKind::kFastExfat) &&
            NamedFirstSector(r, span.sector)) {
          fastDeleted.push_back(span);
        }
      }
    }
    repeats->Build(nodes, std::move(fastDeleted));
  }
}

void CProfessionalRecovery::SearchForListing(IFileRecoveryParse& engine, const std::string& patterns,
                                             std::vector<FoundFileRecord>& records) {
  engine.SetSearchCallback(nullptr, nullptr);
  engine.SearchByExtension(patterns, records);
  engine.SetSearchCallback(searchCallback_, searchUser_);
}

bool CProfessionalRecovery::Repeated(const FoundFileRecord& r) const {
  switch (static_cast<EngineKind>(r.engineKind)) {
    case EngineKind::kCarving: return repeats_.Repeats(r);
    case EngineKind::kDeepFat: return fatRepeats_.Repeats(r.recordIndex);
    case EngineKind::kDeepExfat: return exfatRepeats_.Repeats(r.recordIndex);
    default: return false;
  }
}

}  // namespace kestrel
