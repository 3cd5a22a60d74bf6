// The deep members' saved-state files, as a resumed scan reads them: any
// bytes must load or be refused without a crash, and a state that loads must
// save and load again to the same bytes.
#include <cstdint>
#include <vector>

#include "engines/common/state_file.h"
#include "engines/deep/deep_fat_recovery.h"
#include "engines/deep/deep_ntfs_recovery.h"

namespace {

template <typename Member>
void LoadSaveLoad(const uint8_t* data, size_t size) {
  Member member;
  kestrel::deep::StateReader reader;
  reader.Assign(std::vector<uint8_t>(data, data + size));
  if (!member.LoadState(reader)) return;
  kestrel::deep::StateWriter first;
  member.SaveState(first, true);
  Member again;
  kestrel::deep::StateReader back;
  back.Assign(first.bytes());
  if (!again.LoadState(back)) __builtin_trap();
  kestrel::deep::StateWriter second;
  again.SaveState(second, true);
  if (second.bytes() != first.bytes()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the member, the rest is its file.
  if (data[0] & 1) {
    LoadSaveLoad<kestrel::CProfessionalNtfsRecovery>(data + 1, size - 1);
  } else {
    LoadSaveLoad<kestrel::CProfessionalFatRecovery>(data + 1, size - 1);
  }
  return 0;
}
