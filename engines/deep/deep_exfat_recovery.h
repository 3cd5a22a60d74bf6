// The deep exFAT member: during the deep pass it keeps every checksum-valid
// file entry set found in the sectors it is given (live or deleted), and at
// the finish rebuilds folders from the sets of folders whose clusters hold
// other sets; sets in clusters no known folder owns go to a lost folder
// named after that cluster. So a quick-formatted exFAT volume gives back its
// names and folders. Clusters are placed with the volume's boot sector.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "engines/deep/deep_member.h"
#include "fs/exfat/exfat_volume.h"

namespace kestrel {

class CProfessionalExfatRecovery final : public CProfessionalMember {
 public:
  int OpenImage(const std::filesystem::path& image, uint16_t letter) override;
  int OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter) override;

  // A fresh store and no sets; reads the volume's boot region. Without an
  // exFAT boot region the member stays idle for this scan.
  int BeginScan();
  bool active() const { return active_; }
  // The store a finished scan left, for listing. Its files are read with the
  // live clusters the pass saw, which are kept in memory only, so a store
  // that holds any record cannot be reopened (kErrInvalidParameter).
  int ReopenEmptyStore(const std::string& storeName);
  // Offers one sector (the bytes from it to the end of the block follow in
  // data). True when it held the start of a valid set: the sector is taken.
  bool OnSector(const uint8_t* data, size_t available, uint64_t absoluteSector);
  // Writes the records and their folders.
  int FinishScan();

  size_t setsFound() const { return sets_.size(); }

 protected:
  int WriteData(const FoundFileRecord& record, DataSink& sink,
                const std::function<int(uint64_t)>& report) override;

 private:
  struct FoundSet {
    ExfatEntrySet set;
    uint64_t entrySector = 0;  // absolute
    uint32_t holder = 0;       // the cluster the set lies in
  };
  FoundFileRecord MakeRecord(const FoundSet& found) const;

  ExfatReader reader_;
  ExfatVolume volume_;
  bool active_ = false;
  std::vector<FoundSet> sets_;
  // Clusters of the files that were live when the sets were found (one bit
  // per cluster): after a quick format the bitmap no longer knows them, and
  // a deleted file's wiped chain must go round them as it did on the card.
  std::vector<uint8_t> claimed_;
};

}  // namespace kestrel
