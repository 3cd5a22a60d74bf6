// Random access to a found file's bytes through the engine that found it, the
// way recovery reads them, holding a few MiB at most whatever the file's size:
// a worker streams the file in order and each read waits for its part. A read
// behind what has streamed starts the stream again.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "catalogue/found_file_record.h"
#include "engines/found_item_stream.h"

namespace kestrel {

class FoundItemReader;

// One per engine: engines are not safe to call from two threads, so one
// stream runs at a time. Anything else that calls the engine takes the gate
// and stops the running stream first (it resumes from the start when next read).
class ItemStreamGate {
 public:
  std::mutex& lock() { return lock_; }
  // With lock() held: stops the running stream, if any, so the caller may use the engine.
  void StopActive();

 private:
  friend class FoundItemReader;
  std::mutex lock_;
  FoundItemReader* active_ = nullptr;
};

class FoundItemReader {
 public:
  FoundItemReader(IFoundItemStream& engine, ItemStreamGate& gate, const FoundFileRecord& record);
  ~FoundItemReader();
  FoundItemReader(const FoundItemReader&) = delete;
  FoundItemReader& operator=(const FoundItemReader&) = delete;

  // Up to count bytes at offset into out; got is fewer only at the end of
  // what the file holds. 0, or the Win32-numbered error that kept any of the
  // bytes asked for from being read (kErrHandleEof for a file whose end was
  // lost): the read fails rather than end early.
  int ReadAt(uint64_t offset, uint8_t* out, size_t count, size_t& got);

  // Bytes the stream buffers at most before the worker waits for a read.
  static constexpr size_t kBufferLimit = size_t(4) << 20;
  static constexpr size_t kPieceBytes = size_t(256) << 10;

 private:
  friend class ItemStreamGate;
  void Start();
  void Stop();
  void Run();
  int Take(const uint8_t* data, size_t count);
  void DropBefore(uint64_t offset);

  IFoundItemStream& engine_;
  ItemStreamGate& gate_;
  FoundFileRecord record_;

  std::mutex lock_;
  std::condition_variable changed_;
  std::thread worker_;
  bool running_ = false;  // a worker was started and not yet joined
  bool stop_ = false;
  bool finished_ = false;
  int result_ = 0;
  uint64_t base_ = 0;  // stream offset of the first buffered byte
  size_t buffered_ = 0;
  std::deque<std::vector<uint8_t>> pieces_;
};

}  // namespace kestrel
