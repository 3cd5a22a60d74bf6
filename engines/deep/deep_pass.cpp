// The deep pass: 64 KiB blocks read in order on a reader thread while this
// thread examines the previous ones, every sector examined exactly once and
// in order, each going to one consumer. Consumers may take several sectors at
// once (a carved file taken whole); the pass then goes on after them.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "fs/fat/fat_dir_sectors.h"
#include "engines/deep/deep_recovery.h"
#include "fs/fat/fat_boot.h"
#include "platform/byte_view.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

struct Block {
  size_t range = 0;
  uint64_t start = 0;  // relative sector of data[0]
  uint32_t sectors = 0;
  int32_t got = 0;     // sectors actually read
  std::vector<uint8_t> data;
};

// Reads the ranges block by block ahead of the examiner, a few blocks deep.
class BlockReader {
 public:
  BlockReader(SectorDevice& device, uint64_t firstSector, int32_t sectorBytes, const std::vector<ScanRange>& ranges)
      : device_(device), firstSector_(firstSector), sectorBytes_(sectorBytes), ranges_(ranges),
        chunk_(uint32_t(kMaxReadPiece / uint32_t(sectorBytes))) {}
  ~BlockReader() { Stop(); }

  void Start(size_t range, uint64_t position) {
    skipRange_ = range;
    skipPosition_ = position;
    thread_ = std::thread([this, range, position] { Run(range, position); });
  }
  // The next block in order; false when the ranges are exhausted.
  bool Next(Block& out) {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !queue_.empty() || finished_; });
    if (queue_.empty()) return false;
    if (!out.data.empty()) spare_.push_back(std::move(out.data));
    out = std::move(queue_.front());
    queue_.pop_front();
    room_.notify_one();
    return true;
  }
  // Nothing before (range, position) is wanted any more: skip reading it.
  void SkipTo(size_t range, uint64_t position) {
    std::lock_guard lock(mutex_);
    skipRange_ = range;
    skipPosition_ = position;
  }
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    room_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  static constexpr size_t kDepth = 8;

  void Run(size_t range, uint64_t position) {
    for (; range < ranges_.size(); ++range, position = 0) {
      const ScanRange& r = ranges_[range];
      while (position < r.length) {
        uint32_t count = uint32_t(std::min<uint64_t>(chunk_, r.length - position));
        Block block;
        {
          std::unique_lock lock(mutex_);
          room_.wait(lock, [&] { return queue_.size() < kDepth || stop_; });
          if (stop_) break;
          if (range < skipRange_ || (range == skipRange_ && position + count <= skipPosition_)) {
            position += count;
            continue;
          }
          if (!spare_.empty()) {
            block.data = std::move(spare_.back());
            spare_.pop_back();
          }
        }
        block.data.resize(size_t(chunk_) * size_t(sectorBytes_));
        block.range = range;
        block.start = r.start + position;
        block.sectors = count;
        ReadSectors(int32_t(count), device_, block.data.data(), firstSector_ + block.start, sectorBytes_, &block.got);
        position += count;
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(block));
        ready_.notify_one();
      }
      std::lock_guard lock(mutex_);
      if (stop_) break;
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    ready_.notify_all();
  }

  SectorDevice& device_;
  uint64_t firstSector_;
  int32_t sectorBytes_;
  const std::vector<ScanRange>& ranges_;
  uint32_t chunk_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<Block> queue_;
  std::vector<std::vector<uint8_t>> spare_;
  size_t skipRange_ = 0;
  uint64_t skipPosition_ = 0;
  bool stop_ = false;
  bool finished_ = false;
};

}  // namespace

// One block: sector by sector, a step of one unless the carving engine took
// a whole file. overrun: sectors the last step reached past the block, or
// minus the sectors left unexamined when the block ended by a cancel.
int CProfessionalRecovery::DispatchBlock(const uint8_t* data, uint32_t sectors, uint64_t firstAbsolute,
                                         uint64_t sectorsDone, int64_t& overrun) {
  const uint32_t sb = uint32_t(sectorBytes_);
  const uint32_t recordBytes = ntfs_.recordBytes();
  const uint32_t recordSectors = recordBytes / sb;
  uint64_t index = 0;
  uint64_t found = FoundNow();
  while (index < sectors) {
    const uint8_t* s = data + index * sb;
    uint64_t absolute = firstAbsolute + index;
    uint64_t step = 1;
    ByteView view(s, sb);
    if (LooksLikeBootSector(view)) {
      fat_.OnBootSector(s, absolute);
      ntfs_.OnBootSector(s, absolute);
    }
    if (view.Matches(0, "FILE") && view.le32(24) <= recordBytes && view.le32(28) == recordBytes &&
        view.le16(48) == view.le16(510)) {
      if (!(view.le16(22) & 0x0002)) {
        const uint8_t* record = s;
        if (index + recordSectors > sectors) {
          recordBuffer_.assign(recordBytes, 0);
          int32_t got = 0;
          ReadSectors(int32_t(recordSectors), device_, recordBuffer_.data(), absolute, sectorBytes_, &got);
          record = recordBuffer_.data();
        }
        // A record that does not parse is answered (and counted) by the member.
        ntfs_.OnFileRecord(record, absolute);
      }
    } else if (exfat_.active() && exfat_.OnSector(s, size_t(sectors - index) * sb, absolute)) {
      // An exFAT directory sector: its entry sets are kept by the member.
    } else if (IsDirectoryStartSector(view)) {
      Tallied(damage_, absolute * sb, false, [&] {
        fat_.OnDirectoryStart(s, absolute);
        return true;
      });
    } else if (s[0] != 0 && IsDirectoryContinuationSector(view)) {
      Tallied(damage_, absolute * sb, false, [&] {
        fat_.OnDirectoryContinuation(s, absolute);
        return true;
      });
    } else {
      uint64_t carvedFound = found;
      int answer = carver_.CarveSector(sectorBytes_, s, sb, absolute, sectorsDone + index, passTotal_,
                                       remainingSeconds_, device_, step, carvedFound);
      if (answer == kCancelled) {
        overrun = -int64_t(sectors - index);
        return answer;
      }
      if (answer == kSuccess) found = carvedFound;
      if (step == 0) step = 1;
    }
    index += step;
  }
  overrun = int64_t(index) - int64_t(sectors);
  return kSuccess;
}

int CProfessionalRecovery::RunPass(const std::vector<ScanRange>& ranges, size_t firstRange, uint64_t firstPosition,
                                   ScanResumeState& state) {
  const uint32_t chunk = uint32_t(kMaxReadPiece / uint32_t(sectorBytes_));
  remainingSeconds_ = -1;
  lastProgress_ = passTotal_ ? int32_t(state.sectorsDone * 100 / passTotal_) + 10 : 10;
  lastDone_ = state.sectorsDone;
  auto started = std::chrono::steady_clock::now();
  auto lastEstimate = started;
  auto lastCheckpoint = scanStarted_;
  uint64_t doneAtStart = state.sectorsDone;
  size_t range = firstRange;
  uint64_t position = firstPosition;
  if (range < ranges.size()) {
    state.rangeStart = ranges[range].start;
    state.rangeLength = ranges[range].length;
    state.rangePosition = position;
  }
  BlockReader reader(device_, firstSector_, sectorBytes_, ranges);
  reader.Start(range, position);
  Block block;
  int answer = kSuccess;
  while (range < ranges.size() && reader.Next(block)) {
    if (block.range < range) continue;
    if (block.range > range) {
      // The step of a carved file went past the end of its range.
      range = block.range;
      position = 0;
    }
    const ScanRange& current = ranges[range];
    uint64_t here = current.start + position;
    if (block.start + block.sectors <= here) continue;  // skipped by an overrun
    uint64_t offset = here > block.start ? here - block.start : 0;
    uint32_t examine = block.sectors - uint32_t(offset);
    int64_t overrun = 0;
    if (block.got > int32_t(offset)) {
      uint32_t readable = std::min<uint32_t>(examine, uint32_t(block.got) - uint32_t(offset));
      // A failure inside a block ends only that block.
      answer = Tallied(damage_, (firstSector_ + here) * uint64_t(sectorBytes_), kSuccess, [&] {
        return DispatchBlock(block.data.data() + offset * uint32_t(sectorBytes_), readable, firstSector_ + here,
                             state.sectorsDone, overrun);
      });
      if (answer == kSuccess && overrun < 0) overrun = 0;
      if (answer == kSuccess && readable < examine) overrun = 0;  // the unread tail counts as done
    }
    int64_t advance = int64_t(examine) + overrun;
    if (advance < 0) advance = 0;
    uint64_t left = current.length - position;
    state.sectorsDone += std::min<uint64_t>(uint64_t(advance), left);
    position += uint64_t(advance);
    state.rangeStart = current.start;
    state.rangeLength = current.length;
    state.rangePosition = std::min(position, current.length);
    if (overrun > int64_t(chunk)) reader.SkipTo(range, position);
    if (answer != kSuccess) break;
    if (position >= current.length) {
      ++range;
      position = 0;
      if (range < ranges.size()) {
        state.rangeStart = ranges[range].start;
        state.rangeLength = ranges[range].length;
        state.rangePosition = 0;
        reader.SkipTo(range, 0);
      }
    }
    auto now = std::chrono::steady_clock::now();
    if (now - lastEstimate >= std::chrono::seconds(5)) {
      lastEstimate = now;
      uint64_t seconds = uint64_t(std::chrono::duration_cast<std::chrono::seconds>(now - started).count());
      uint64_t done = state.sectorsDone - doneAtStart;
      uint64_t rate = seconds ? done * uint64_t(sectorBytes_) / seconds : 0;
      if (rate == 0) rate = 1;
      uint64_t left = passTotal_ > state.sectorsDone ? passTotal_ - state.sectorsDone : 0;
      remainingSeconds_ = int32_t(std::min<uint64_t>(left * uint64_t(sectorBytes_) / rate, INT32_MAX));
    }
    if (progress_) {
      int32_t percent = passTotal_ ? int32_t(state.sectorsDone * 100 / passTotal_) + 10 : 110;
      lastProgress_ = percent;
      lastDone_ = state.sectorsDone;
      int reply = progress_(user_, percent, scale_, remainingSeconds_, state.sectorsDone, passTotal_, FoundNow(), 0);
      if (reply != 0) {
        answer = reply;
        break;
      }
    }
    // By wall time, not by sectors: at most this much work is lost to a
    // crash whatever the disk's pace, and the cost (the stores' index and
    // the members' state written out) stays small beside the pass.
    if (now - lastCheckpoint >= checkpointEvery_ && range < ranges.size()) {
      lastCheckpoint = now;
      deep::StateWriter fatState, ntfsState;
      fat_.SaveState(fatState, true);
      ntfs_.SaveState(ntfsState, true);
      // A point that cannot be written leaves the one before it in force: a
      // resume then repeats a little more of the pass, nothing is lost.
      WriteCheckpoint(state, fatState, ntfsState);
    }
  }
  reader.Stop();
  if (range >= ranges.size() && answer == kSuccess) {
    state.rangeLength = 0;
  }
  return answer;
}

}  // namespace kestrel
