// A source read seam for the imaging tests: sectors that fail (for ever or a
// given number of times) and a log of every read asked for, the way a disk
// with bad sectors behaves under pread.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace kestrel::test {

struct FaultyReader {
  static constexpr int kForever = -1;
  // byte offset of a bad sector -> failures left (kForever: never reads)
  std::map<uint64_t, int> bad;
  uint32_t sectorBytes = 512;
  std::vector<std::pair<uint64_t, size_t>> reads;  // (offset, count) asked for

  static FaultyReader& Current() {
    static FaultyReader reader;
    return reader;
  }
  static void Reset(uint32_t sectorBytes = 512) {
    Current() = FaultyReader();
    Current().sectorBytes = sectorBytes;
  }

  // Matches PositionalReadFn: delivers the part before the first bad sector,
  // then fails with EIO at it.
  static ssize_t Read(int fd, void* buffer, size_t count, off_t offset) {
    FaultyReader& self = Current();
    self.reads.push_back({uint64_t(offset), count});
    auto it = self.bad.lower_bound(uint64_t(offset));
    while (it != self.bad.end() && it->first < uint64_t(offset) + count && it->second == 0) ++it;
    if (it == self.bad.end() || it->first >= uint64_t(offset) + count) return ::pread(fd, buffer, count, offset);
    if (it->first > uint64_t(offset)) return ::pread(fd, buffer, it->first - uint64_t(offset), offset);
    if (it->second > 0) --it->second;
    errno = EIO;
    return -1;
  }
};

}  // namespace kestrel::test
