// Reading a found file at any offset through a stream that only runs forward:
// contents, restarts, one stream at a time per engine, a bounded buffer, and
// a lost end reported rather than passed off as the file's end.
#include "app/found_item_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/error_codes.h"

namespace kestrel {
namespace {

uint8_t ByteAt(uint64_t offset) { return uint8_t((offset * 7 + offset / 251) % 256); }

// Streams size bytes of a known pattern in 64 KiB pieces; fails with
// failWith after failAfter bytes when set.
class PatternStream final : public IFoundItemStream {
 public:
  int StreamItem(const FoundFileRecord& record, DataSink& sink) override {
    int inside = ++inside_;
    maxInside_ = std::max(maxInside_.load(), inside);
    ++streams_;
    int result = kSuccess;
    std::vector<uint8_t> piece(65536);
    for (uint64_t at = 0; at < record.size;) {
      if (at >= failAfter) {
        result = failWith;
        break;
      }
      size_t n = size_t(std::min<uint64_t>(piece.size(), std::min(record.size, failAfter) - at));
      for (size_t i = 0; i < n; ++i) piece[i] = ByteAt(at + i);
      if (int answer = sink.Write(piece.data(), n); answer != kSuccess) {
        result = answer;
        break;
      }
      at += n;
      produced_ = at;
    }
    --inside_;
    return result;
  }
  uint64_t failAfter = UINT64_MAX;
  int failWith = kSuccess;
  std::atomic<int> inside_{0}, maxInside_{0}, streams_{0};
  std::atomic<uint64_t> produced_{0};
};

FoundFileRecord Sized(uint64_t size) {
  FoundFileRecord record;
  record.size = size;
  return record;
}

bool Holds(const std::vector<uint8_t>& bytes, uint64_t offset) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != ByteAt(offset + i)) return false;
  }
  return true;
}

TEST(FoundItemReader, SequentialReadsStreamOnceWithABoundedBuffer) {
  PatternStream engine;
  ItemStreamGate gate;
  const uint64_t size = 24u << 20;
  FoundItemReader reader(engine, gate, Sized(size));
  std::vector<uint8_t> buffer(131072);
  size_t got = 0;
  ASSERT_EQ(reader.ReadAt(0, buffer.data(), buffer.size(), got), kSuccess);
  ASSERT_EQ(got, buffer.size());
  EXPECT_TRUE(Holds(buffer, 0));
  // The worker runs ahead only as far as the buffer allows, not to the file's end.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_LE(engine.produced_.load(), buffer.size() + FoundItemReader::kBufferLimit + 65536);
  uint64_t offset = buffer.size();
  while (offset < size) {
    ASSERT_EQ(reader.ReadAt(offset, buffer.data(), buffer.size(), got), kSuccess);
    ASSERT_EQ(got, std::min<uint64_t>(buffer.size(), size - offset));
    buffer.resize(got);
    ASSERT_TRUE(Holds(buffer, offset)) << offset;
    offset += got;
  }
  ASSERT_EQ(reader.ReadAt(size, buffer.data(), 10, got), kSuccess);
  EXPECT_EQ(got, 0u);  // the end
  EXPECT_EQ(engine.streams_.load(), 1);
}

TEST(FoundItemReader, ReadsBehindTheStreamOrOnAnotherFileRestartOneStreamAtATime) {
  PatternStream engine;
  ItemStreamGate gate;
  FoundItemReader first(engine, gate, Sized(12u << 20));
  FoundItemReader second(engine, gate, Sized(3u << 20));
  std::vector<uint8_t> buffer(4096);
  size_t got = 0;
  ASSERT_EQ(first.ReadAt(10u << 20, buffer.data(), buffer.size(), got), kSuccess);  // a jump ahead
  EXPECT_TRUE(Holds(buffer, 10u << 20));
  ASSERT_EQ(second.ReadAt(1000, buffer.data(), buffer.size(), got), kSuccess);
  EXPECT_TRUE(Holds(buffer, 1000));
  ASSERT_EQ(first.ReadAt(5, buffer.data(), buffer.size(), got), kSuccess);  // behind: starts again
  EXPECT_TRUE(Holds(buffer, 5));
  ASSERT_EQ(second.ReadAt(5000, buffer.data(), buffer.size(), got), kSuccess);
  EXPECT_TRUE(Holds(buffer, 5000));
  EXPECT_EQ(engine.streams_.load(), 4);
  EXPECT_EQ(engine.maxInside_.load(), 1);
}

TEST(FoundItemReader, ALostEndFailsTheReadThatReachesIt) {
  PatternStream engine;
  engine.failAfter = 100000;
  engine.failWith = kErrHandleEof;
  ItemStreamGate gate;
  FoundItemReader reader(engine, gate, Sized(300000));
  std::vector<uint8_t> buffer(65536);
  size_t got = 0;
  ASSERT_EQ(reader.ReadAt(0, buffer.data(), buffer.size(), got), kSuccess);
  EXPECT_TRUE(Holds(buffer, 0));
  EXPECT_EQ(reader.ReadAt(65536, buffer.data(), buffer.size(), got), kErrHandleEof);
  EXPECT_EQ(reader.ReadAt(200000, buffer.data(), buffer.size(), got), kErrHandleEof);

  FoundItemReader empty(engine, gate, Sized(0));
  ASSERT_EQ(empty.ReadAt(0, buffer.data(), buffer.size(), got), kSuccess);
  EXPECT_EQ(got, 0u);
}

}  // namespace
}  // namespace kestrel
