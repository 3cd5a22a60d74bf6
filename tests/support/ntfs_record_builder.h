// Synthetic NTFS file records for tests, laid out as NTFS stores them.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/byte_view.h"

namespace kestrel::test {

struct DataRun {
  uint8_t lcn = 0;
  uint8_t clusters = 0;
  uint64_t allocated = 0;
  uint64_t size = 0;
};

// A 1,024-byte NTFS 3.1 file record as it lies on disk (fix-ups applied the
// way the file system stores them): $FILE_NAME and optionally a
// non-resident unnamed $DATA with one run.
inline std::vector<uint8_t> MakeRecord(uint32_t number, uint16_t flags, const std::string& name, uint32_t parent,
                                std::optional<DataRun> data = std::nullopt) {
  std::vector<uint8_t> r(1024, 0);
  std::memcpy(r.data(), "FILE", 4);
  PutLe16(&r[4], 48);
  PutLe16(&r[6], 3);
  PutLe16(&r[16], 1);
  PutLe16(&r[20], 56);
  PutLe16(&r[22], flags);
  PutLe32(&r[28], 1024);
  PutLe32(&r[44], number);
  size_t at = 56;
  size_t valueLength = 66 + 2 * name.size();
  size_t length = (24 + valueLength + 7) / 8 * 8;
  PutLe32(&r[at], 0x30);
  PutLe32(&r[at + 4], uint32_t(length));
  PutLe32(&r[at + 16], uint32_t(valueLength));
  PutLe16(&r[at + 20], 24);
  uint8_t* v = &r[at + 24];
  PutLe64(v, parent);
  PutLe64(v + 8, 132000000000000000ull);
  PutLe64(v + 48, data ? data->size : 0);
  v[64] = uint8_t(name.size());
  v[65] = 1;
  for (size_t i = 0; i < name.size(); ++i) v[66 + 2 * i] = uint8_t(name[i]);
  at += length;
  if (data) {
    PutLe32(&r[at], 0x80);
    PutLe32(&r[at + 4], 72);
    r[at + 8] = 1;
    PutLe64(&r[at + 24], data->clusters - 1);
    PutLe16(&r[at + 32], 64);
    PutLe64(&r[at + 40], data->allocated);
    PutLe64(&r[at + 48], data->size);
    PutLe64(&r[at + 56], data->size);
    r[at + 64] = 0x11;
    r[at + 65] = data->clusters;
    r[at + 66] = data->lcn;
    at += 72;
  }
  PutLe32(&r[at], 0xFFFFFFFF);
  PutLe32(&r[24], uint32_t(at + 8));
  // Update sequence: the tails go into the array, the number onto the tails.
  PutLe16(&r[48], 7);
  for (int i = 0; i < 2; ++i) {
    r[50 + 2 * i] = r[510 + 512 * i];
    r[51 + 2 * i] = r[511 + 512 * i];
    PutLe16(&r[510 + 512 * i], 7);
  }
  return r;
}

}  // namespace kestrel::test
