// ZIP and the formats built on it (local headers against the central
// directory, CRC-32 of every member through zlib) and 7z (start header and
// next header CRCs).
#include <zlib.h>

#include "carve/integrity/integrity_internal.h"

namespace kestrel::integrity {
namespace {

constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kZip64End = 0x06064b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr uint32_t kDirectoryEntry = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;

struct Directory {
  uint64_t entries = 0;
  uint64_t size = 0;
  uint64_t offset = 0;
  uint64_t recordAt = 0;  // where the (ZIP64) end record starts: the directory ends here
};

// Finds the end-of-central-directory record in the last 64 KiB and, for ZIP64
// archives, follows the locator to the 64-bit record.
bool FindDirectory(CheckInput& input, Directory& directory) {
  uint64_t tail = input.size < 65557 ? input.size : 65557;
  std::vector<uint8_t> bytes;
  if (!ReadBytes(input, input.size - tail, static_cast<size_t>(tail), bytes)) return false;
  ByteView view(bytes);
  for (size_t at = bytes.size() >= 22 ? bytes.size() - 22 + 1 : 0; at-- > 0;) {
    if (view.le32(at) != kEndOfDirectory) continue;
    if (at + 22 + view.le16(at + 20) > bytes.size()) continue;
    directory.entries = view.le16(at + 10);
    directory.size = view.le32(at + 12);
    directory.offset = view.le32(at + 16);
    directory.recordAt = input.size - tail + at;
    bool needs64 = directory.entries == 0xFFFF || directory.size == 0xFFFFFFFF || directory.offset == 0xFFFFFFFF;
    if (needs64 && at >= 20 && view.le32(at - 20) == kZip64Locator) {
      uint64_t record = view.le64(at - 20 + 8);
      std::vector<uint8_t> zip64;
      if (!ReadBytes(input, record, 56, zip64) || ByteView(zip64).le32(0) != kZip64End) return false;
      directory.entries = ByteView(zip64).le64(32);
      directory.size = ByteView(zip64).le64(40);
      directory.offset = ByteView(zip64).le64(48);
      directory.recordAt = record;
    }
    return true;
  }
  return false;
}

// The 64-bit values an entry keeps in its ZIP64 extra field, in their order.
void ApplyZip64Extra(ByteView extra, uint64_t& uncompressed, uint64_t& compressed, uint64_t& local) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    uint16_t id = extra.le16(at), length = extra.le16(at + 2);
    if (id == 0x0001) {
      size_t field = at + 4;
      for (uint64_t* value : {&uncompressed, &compressed, &local}) {
        if (*value != 0xFFFFFFFF) continue;
        if (field + 8 > at + 4 + length) break;
        *value = extra.le64(field);
        field += 8;
      }
      return;
    }
    at += 4 + length;
  }
}

// CRC-32 and length of a member's uncompressed bytes.
struct MemberSum {
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t length = 0;
};

bool SumStored(CheckInput& input, uint64_t at, uint64_t length, MemberSum& sum) {
  return ForEachPiece(input, at, length, [&](ByteView piece) {
    sum.crc = crc32(sum.crc, piece.data(), static_cast<uInt>(piece.size()));
    sum.length += piece.size();
    return true;
  });
}

// Inflates a raw deflate stream; false when the stream is broken or does not
// end exactly at its compressed length.
bool SumDeflated(CheckInput& input, uint64_t at, uint64_t length, MemberSum& sum) {
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  std::vector<uint8_t> out(kChunkBytes);
  int status = Z_OK;
  bool read = ForEachPiece(input, at, length, [&](ByteView piece) {
    if (status == Z_STREAM_END) return false;  // bytes left over after the end
    stream.next_in = const_cast<Bytef*>(piece.data());
    stream.avail_in = static_cast<uInt>(piece.size());
    do {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      status = inflate(&stream, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return false;
      size_t produced = out.size() - stream.avail_out;
      sum.crc = crc32(sum.crc, out.data(), static_cast<uInt>(produced));
      sum.length += produced;
      if (status == Z_BUF_ERROR && produced == 0) break;
    } while (stream.avail_in > 0 || stream.avail_out == 0);
    return status != Z_STREAM_END || stream.avail_in == 0;
  });
  inflateEnd(&stream);
  return read && status == Z_STREAM_END;
}

}  // namespace

IntegrityResult CheckZip(CheckInput& input) {
  std::vector<uint8_t> bytes;
  if (!ReadBytes(input, 0, 4, bytes) || ByteView(bytes).le32(0) != kLocalHeader)
    return Damaged(input, 0, "it does not start with a local file header");
  Directory directory;
  if (!FindDirectory(input, directory))
    return Damaged(input, input.size, "no central directory at the end (the file is cut short or overwritten)");
  if (directory.offset + directory.size > directory.recordAt)
    return Damaged(input, directory.recordAt, "the central directory does not fit before its end record");
  // Bytes in front of the archive (a self-extracting stub) shift every offset.
  uint64_t shift = directory.recordAt - directory.offset - directory.size;
  uint64_t at = directory.offset + shift;
  uint64_t unchecked = 0;
  for (uint64_t index = 0; index < directory.entries; ++index) {
    if (!ReadBytes(input, at, 46, bytes) || ByteView(bytes).le32(0) != kDirectoryEntry)
      return Damaged(input, at, "central directory entry " + std::to_string(index + 1) + " is missing");
    ByteView entry(bytes);
    uint16_t flags = entry.le16(8), method = entry.le16(10);
    uint32_t crc = entry.le32(16);
    uint64_t compressed = entry.le32(20), uncompressed = entry.le32(24), local = entry.le32(42);
    size_t nameLength = entry.le16(28), extraLength = entry.le16(30), commentLength = entry.le16(32);
    std::vector<uint8_t> name, extra;
    if (!ReadBytes(input, at + 46, nameLength, name) || !ReadBytes(input, at + 46 + nameLength, extraLength, extra))
      return Damaged(input, at, "central directory entry " + std::to_string(index + 1) + " is cut short");
    ApplyZip64Extra(ByteView(extra), uncompressed, compressed, local);
    std::string member(name.begin(), name.end());
    at += 46 + nameLength + extraLength + commentLength;

    uint64_t localAt = local + shift;
    std::vector<uint8_t> header, localName;
    if (!ReadBytes(input, localAt, 30, header) || ByteView(header).le32(0) != kLocalHeader)
      return Damaged(input, localAt, "the local header of " + member + " is missing");
    uint64_t dataAt = localAt + 30 + ByteView(header).le16(26) + ByteView(header).le16(28);
    if (!ReadBytes(input, localAt + 30, ByteView(header).le16(26), localName) || localName != name)
      return Damaged(input, localAt, "the local header of " + member + " names another file");
    if (dataAt + compressed > directory.offset + shift)
      return Damaged(input, dataAt, "the data of " + member + " runs into the central directory");
    if (flags & 1) {  // encrypted: its CRC covers bytes we cannot decrypt
      ++unchecked;
      continue;
    }
    MemberSum sum;
    bool summed;
    if (method == 0) summed = SumStored(input, dataAt, compressed, sum);
    else if (method == 8) summed = SumDeflated(input, dataAt, compressed, sum);
    else {
      ++unchecked;
      continue;
    }
    if (!summed) return Damaged(input, dataAt, "the compressed data of " + member + " is broken");
    if (sum.length != uncompressed || static_cast<uint32_t>(sum.crc) != crc)
      return Damaged(input, dataAt, member + " fails its CRC-32");
  }
  std::string what = "all " + std::to_string(directory.entries) + " members match the central directory";
  if (unchecked > 0) what += " (" + std::to_string(unchecked) + " encrypted or in another compression, CRC not checked)";
  else what += " and their CRC-32";
  return Intact(std::move(what));
}

IntegrityResult CheckSevenZip(CheckInput& input) {
  static constexpr uint8_t kSignature[] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
  std::vector<uint8_t> head;
  if (!ReadBytes(input, 0, 32, head) || !ByteView(head).Matches(0, kSignature))
    return Damaged(input, 0, "it does not start with a 7z signature header");
  ByteView header(head);
  if (crc32(0L, head.data() + 12, 20) != header.le32(8)) return Damaged(input, 8, "the start header fails its CRC");
  uint64_t nextAt = 32 + header.le64(12), nextSize = header.le64(20);
  if (nextAt < 32 || nextAt > input.size || nextSize > input.size - nextAt)
    return Damaged(input, input.size, "the file ends before its header (" + GroupedNumber(nextAt + nextSize) + " bytes needed)");
  uLong crc = crc32(0L, Z_NULL, 0);
  ForEachPiece(input, nextAt, nextSize, [&](ByteView piece) {
    crc = crc32(crc, piece.data(), static_cast<uInt>(piece.size()));
    return true;
  });
  if (static_cast<uint32_t>(crc) != header.le32(28)) return Damaged(input, nextAt, "the archive header fails its CRC");
  return Intact("the start header and archive header pass their CRCs");
}

}  // namespace kestrel::integrity
