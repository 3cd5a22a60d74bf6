#include "app/found_item_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/error_codes.h"

namespace kestrel {

void ItemStreamGate::StopActive() {
  if (!active_) return;
  active_->Stop();
  active_ = nullptr;
}

FoundItemReader::FoundItemReader(IFoundItemStream& engine, ItemStreamGate& gate, const FoundFileRecord& record)
    : engine_(engine), gate_(gate), record_(record) {}

FoundItemReader::~FoundItemReader() {
  std::lock_guard gate(gate_.lock_);
  if (gate_.active_ == this) {
    gate_.StopActive();
  } else {
    Stop();
  }
}

void FoundItemReader::Start() {
  running_ = true;
  worker_ = std::thread([this] { Run(); });
}

void FoundItemReader::Stop() {
  {
    std::lock_guard lock(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
  std::lock_guard lock(lock_);
  running_ = false;
  stop_ = false;
  finished_ = false;
  result_ = kSuccess;
  base_ = 0;
  buffered_ = 0;
  pieces_.clear();
}

void FoundItemReader::Run() {
  int result = kSuccess;
  if (record_.size > 0) {
    DataSink sink;
    sink.UseCallback([this](const uint8_t* data, size_t count) { return Take(data, count); });
    result = engine_.StreamItem(record_, sink);
  }
  std::lock_guard lock(lock_);
  finished_ = true;
  result_ = result;
  changed_.notify_all();
}

int FoundItemReader::Take(const uint8_t* data, size_t count) {
  std::unique_lock lock(lock_);
  changed_.wait(lock, [this] { return stop_ || buffered_ < kBufferLimit; });
  if (stop_) return kCancelled;
  try {
    // Engines hand over a cluster at a time; gathered into larger pieces the
    // buffer costs one allocation per few hundred KiB, not one per cluster.
    if (pieces_.empty() || pieces_.back().size() + count > kPieceBytes) {
      pieces_.emplace_back();
      pieces_.back().reserve(std::max(count, kPieceBytes));
    }
    pieces_.back().insert(pieces_.back().end(), data, data + count);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  buffered_ += count;
  changed_.notify_all();
  return kSuccess;
}

void FoundItemReader::DropBefore(uint64_t offset) {
  bool dropped = false;
  while (!pieces_.empty() && base_ + pieces_.front().size() <= offset) {
    base_ += pieces_.front().size();
    buffered_ -= pieces_.front().size();
    pieces_.pop_front();
    dropped = true;
  }
  if (dropped) changed_.notify_all();
}

int FoundItemReader::ReadAt(uint64_t offset, uint8_t* out, size_t count, size_t& got) {
  got = 0;
  if (count == 0) return kSuccess;
  std::lock_guard gate(gate_.lock_);
  if (gate_.active_ != this) {
    gate_.StopActive();
    gate_.active_ = this;
  }
  bool restart = false;
  {
    std::lock_guard lock(lock_);
    restart = !running_ || offset < base_;
  }
  if (restart) {
    Stop();
    Start();
  }
  std::unique_lock lock(lock_);
  while (got < count) {
    uint64_t at = offset + got;
    DropBefore(at);
    if (!pieces_.empty() && base_ <= at) {
      const std::vector<uint8_t>& piece = pieces_.front();
      size_t from = size_t(at - base_);
      size_t n = std::min(count - got, piece.size() - from);
      std::memcpy(out + got, piece.data() + from, n);
      got += n;
      continue;
    }
    // A read that runs into the part of a file that could not be read fails
    // whole: handing back the bytes before it would pass as the file's end.
    if (finished_ && pieces_.empty()) return result_;
    changed_.wait(lock, [this] { return !pieces_.empty() || finished_; });
  }
  return kSuccess;
}

}  // namespace kestrel
