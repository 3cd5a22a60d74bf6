// The deep members' saved-state files: a little-endian writer and reader
// that share one field list per stored struct. A struct's fields are written
// once, as a template over the two (io(field), io.List, io.Map, io.Blob), and
// that one list both saves and loads it, so the two can never drift. A count
// above its limit marks the file damaged: it is refused, never clipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

#include "catalogue/found_file_record.h"

namespace kestrel::deep {

class StateWriter {
 public:
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Bytes(const uint8_t* data, size_t count);
  void Record(const FoundFileRecord& record);
  // Another writer's bytes behind their length, read back with StateReader::Section.
  void Section(const StateWriter& inner);
  // Written to path + ".tmp", flushed to the disk and renamed over path, so a
  // crash leaves either the old file or the new one.
  int Save(const std::filesystem::path& path) const;
  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  // The field-list side.
  void operator()(uint8_t v) { U8(v); }
  void operator()(bool v) { U8(v ? 1 : 0); }
  void operator()(int32_t v) { U32(uint32_t(v)); }
  void operator()(uint32_t v) { U32(v); }
  void operator()(uint64_t v) { U64(v); }
  void operator()(const FoundFileRecord& record) { Record(record); }
  // A constant the reader checks (magic numbers, versions).
  void Expect(uint32_t v) { U32(v); }
  // A length (32-bit) and the bytes; limit is the reader's.
  void Blob(const std::vector<uint8_t>& bytes, size_t /*limit*/);
  // The count, then each item through fields(io, item).
  template <typename Container, typename Fields>
  void List(const Container& items, size_t /*limit*/, Fields&& fields) {
    U32(uint32_t(items.size()));
    for (const auto& item : items) fields(*this, item);
  }
  // The count, then each key followed by fields(io, value).
  template <typename Associative, typename Fields>
  void Map(const Associative& items, size_t /*limit*/, Fields&& fields) {
    U32(uint32_t(items.size()));
    for (const auto& [key, value] : items) {
      (*this)(key);
      fields(*this, value);
    }
  }

 private:
  std::vector<uint8_t> bytes_;
};

class StateReader {
 public:
  int Load(const std::filesystem::path& path);
  // The bytes of a state held in memory (tests, fuzzing).
  void Assign(std::vector<uint8_t> bytes);
  bool ok() const { return ok_; }
  uint8_t U8();
  uint32_t U32();
  uint64_t U64();
  bool Bytes(uint8_t* data, size_t count);
  FoundFileRecord Record();
  // The next section into out; false (out damaged) when it does not fit.
  bool Section(StateReader& out);
  bool AtEnd() const { return pos_ == bytes_.size(); }
  // Marks the state damaged: what was read is not to be used.
  void Damaged() { ok_ = false; }

  // The field-list side.
  void operator()(uint8_t& v) { v = U8(); }
  void operator()(bool& v) { v = U8() != 0; }
  void operator()(int32_t& v) { v = int32_t(U32()); }
  void operator()(uint32_t& v) { v = U32(); }
  void operator()(uint64_t& v) { v = U64(); }
  void operator()(FoundFileRecord& record) { record = Record(); }
  void Expect(uint32_t v) {
    if (U32() != v) ok_ = false;
  }
  // At most limit bytes; a longer blob marks the reader damaged.
  void Blob(std::vector<uint8_t>& out, size_t limit);
  template <typename Container, typename Fields>
  void List(Container& items, size_t limit, Fields&& fields) {
    items.clear();
    uint32_t count = U32();
    if (count > limit) ok_ = false;
    for (uint32_t i = 0; i < count && ok_; ++i) {
      typename Container::value_type item{};
      fields(*this, item);
      if (ok_) items.push_back(std::move(item));
    }
  }
  template <typename Associative, typename Fields>
  void Map(Associative& items, size_t limit, Fields&& fields) {
    items.clear();
    uint32_t count = U32();
    if (count > limit) ok_ = false;
    for (uint32_t i = 0; i < count && ok_; ++i) {
      typename Associative::key_type key{};
      typename Associative::mapped_type value{};
      (*this)(key);
      fields(*this, value);
      if (ok_) items[key] = std::move(value);
    }
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace kestrel::deep
