// Archives sized by their own structure: ZIP (and every format built on it)
// through its local headers and central directory to the end record, 7z from
// its start header, RAR 4 and RAR 5 by their block chains, gzip by inflating
// each member to its trailer.
#include <zlib.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "carve/carve_window.h"
#include "carve/signature_internal.h"

namespace kestrel::sig {

namespace {

constexpr uint64_t k2G = 0x80000000;
constexpr uint64_t k64G = 0x1000000000;

uint32_t Crc32Of(ByteView bytes, uint32_t crc = 0) {
  return static_cast<uint32_t>(crc32(crc, bytes.data(), static_cast<uInt>(bytes.size())));
}

// The CRC-32 of [from, from + length) read through the window; nullopt when unreadable.
std::optional<uint32_t> Crc32Range(CarveWindow& window, uint64_t from, uint64_t length) {
  uint32_t crc = 0;
  while (length > 0) {
    ByteView piece = window.ReadSome(from, static_cast<size_t>(std::min<uint64_t>(length, CarveWindow::kMaxRead)));
    if (piece.empty()) return std::nullopt;
    crc = Crc32Of(piece, crc);
    from += piece.size();
    length -= piece.size();
  }
  return crc;
}

// ---- ZIP ----

constexpr uint32_t kLocalHeader = 0x04034B50, kCentralHeader = 0x02014B50, kEndRecord = 0x06054B50,
                   kZip64EndRecord = 0x06064B50, kZip64Locator = 0x07064B50, kDigitalSignature = 0x05054B50,
                   kExtraDataRecord = 0x08064B50, kDataDescriptor = 0x08074B50;

// A local entry's compressed size from the ZIP64 extra field, when its header
// says 0xFFFFFFFF.
std::optional<uint64_t> Zip64CompressedSize(ByteView extra) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    uint16_t id = extra.le16(at), length = extra.le16(at + 2);
    if (id == 0x0001 && length >= 16) return extra.le64(at + 12);
    at += 4 + size_t{length};
  }
  return std::nullopt;
}

// Entries written as a stream carry their sizes after the data: the data
// descriptor whose compressed size matches the distance from the data start.
std::optional<uint64_t> EndOfStreamedEntry(CarveWindow& window, uint64_t dataAt, bool zip64) {
  const size_t descriptor = zip64 ? 24 : 16;
  for (uint64_t at = dataAt; at < window.limit();) {
    ByteView chunk = window.ReadSome(at);
    if (chunk.size() < 4) return std::nullopt;
    size_t found = FindBytes(chunk, "PK\x07\x08");
    if (found == std::string_view::npos) {
      at += chunk.size() - 3;
      continue;
    }
    uint64_t candidate = at + found;
    ByteView record = window.Read(candidate, descriptor);
    if (!record.empty()) {
      uint64_t size = zip64 ? record.le64(8) : record.le32(8);
      if (size == candidate - dataAt) return candidate + descriptor;
    }
    at = candidate + 1;
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint64_t> ZipStructureEnd(CarveWindow& window) {
  uint64_t at = 0;
  bool sawCentral = false;
  while (true) {
    ByteView head = window.Read(at, 4);
    if (head.empty()) return std::nullopt;
    switch (head.le32(0)) {
      case kLocalHeader: {
        if (sawCentral) return std::nullopt;
        ByteView h = window.Read(at, 30);
        if (h.empty()) return std::nullopt;
        uint16_t flags = h.le16(6), nameBytes = h.le16(26), extraBytes = h.le16(28);
        uint64_t compressed = h.le32(18);
        uint64_t dataAt = at + 30 + nameBytes + extraBytes;
        bool zip64 = false;
        if (compressed == 0xFFFFFFFF) {
          ByteView extra = window.Read(at + 30 + nameBytes, extraBytes);
          std::optional<uint64_t> size = Zip64CompressedSize(extra);
          if (!size || *size > window.limit()) return std::nullopt;
          compressed = *size;
          zip64 = true;
        }
        if ((flags & 0x08) != 0 && compressed == 0) {
          std::optional<uint64_t> end = EndOfStreamedEntry(window, dataAt, zip64);
          if (!end) return std::nullopt;
          at = *end;
        } else {
          at = dataAt + compressed;
          if (flags & 0x08) {
            ByteView signature = window.Read(at, 4);
            bool signed_ = !signature.empty() && signature.le32(0) == kDataDescriptor;
            at += (zip64 ? 20 : 12) + (signed_ ? 4 : 0);
          }
        }
        break;
      }
      case kCentralHeader: {
        ByteView h = window.Read(at, 46);
        if (h.empty()) return std::nullopt;
        sawCentral = true;
        at += 46 + uint64_t{h.le16(28)} + h.le16(30) + h.le16(32);
        break;
      }
      case kDigitalSignature: {
        ByteView h = window.Read(at, 6);
        if (h.empty()) return std::nullopt;
        at += 6 + uint64_t{h.le16(4)};
        break;
      }
      case kExtraDataRecord: {
        ByteView h = window.Read(at, 8);
        if (h.empty()) return std::nullopt;
        at += 8 + uint64_t{h.le32(4)};
        break;
      }
      case kZip64EndRecord: {
        ByteView h = window.Read(at, 12);
        if (h.empty() || h.le64(4) > window.limit()) return std::nullopt;
        at += 12 + h.le64(4);
        break;
      }
      case kZip64Locator:
        at += 20;
        break;
      case kEndRecord: {
        ByteView h = window.Read(at, 22);
        if (h.empty()) return std::nullopt;
        // The directory the end record describes must lie before it.
        uint32_t directoryAt = h.le32(16), directoryBytes = h.le32(12);
        if (directoryAt != 0xFFFFFFFF && uint64_t{directoryAt} + directoryBytes > at) return std::nullopt;
        uint64_t end = at + 22 + h.le16(20);
        return end <= window.limit() ? std::optional<uint64_t>(end) : std::nullopt;
      }
      default:
        return std::nullopt;
    }
    if (at > window.limit()) return std::nullopt;
  }
}

// ---- 7z ----

std::optional<uint64_t> SevenZipStructureEnd(CarveWindow& window) {
  ByteView h = window.Read(0, 32);
  if (h.empty() || h.u8(6) != 0 || Crc32Of(h.Sub(12, 20)) != h.le32(8)) return std::nullopt;
  uint64_t nextOffset = h.le64(12), nextSize = h.le64(20);
  uint32_t nextCrc = h.le32(28);
  if (nextOffset > window.limit() || nextSize > window.limit()) return std::nullopt;
  uint64_t end = 32 + nextOffset + nextSize;
  if (end > window.limit()) return std::nullopt;
  if (nextSize == 0) return end;  // an empty archive is its start header alone
  std::optional<uint32_t> crc = Crc32Range(window, 32 + nextOffset, nextSize);
  if (!crc || *crc != nextCrc) return std::nullopt;
  return end;
}

// ---- RAR ----

namespace {

// A RAR 5 variable-length integer at offset; advances offset, nullopt when malformed.
std::optional<uint64_t> ReadVint(ByteView bytes, size_t& offset) {
  uint64_t value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (!bytes.Has(offset, 1)) return std::nullopt;
    uint8_t b = bytes.u8(offset++);
    value |= uint64_t{b & 0x7Fu} << shift;
    if ((b & 0x80) == 0) return value;
  }
  return std::nullopt;
}

std::optional<uint64_t> Rar4End(CarveWindow& window) {
  constexpr uint8_t kEndOfArchive = 0x7B, kFile = 0x74, kService = 0x7A;
  uint64_t at = 7;
  bool sawMain = false;
  while (true) {
    ByteView h = window.Read(at, 7);
    if (h.empty()) return std::nullopt;
    uint8_t type = h.u8(2);
    uint16_t flags = h.le16(3), headerBytes = h.le16(5);
    if (type < 0x72 || type > 0x7B || headerBytes < 7) return sawMain ? std::optional<uint64_t>(at) : std::nullopt;
    ByteView header = window.Read(at, headerBytes);
    if (header.empty()) return std::nullopt;
    // Every block header carries the low 16 bits of its CRC-32; a chain that
    // fails it has left the archive.
    if ((Crc32Of(header.Sub(2)) & 0xFFFF) != h.le16(0)) return sawMain ? std::optional<uint64_t>(at) : std::nullopt;
    if (type == 0x73) sawMain = true;
    uint64_t data = 0;
    if ((flags & 0x8000) || type == kFile || type == kService) {
      if (headerBytes < 11) return std::nullopt;
      data = header.le32(7);
      if ((type == kFile || type == kService) && (flags & 0x100)) {
        if (headerBytes < 36) return std::nullopt;
        data |= uint64_t{header.le32(32)} << 32;
      }
    }
    if (data > window.limit()) return std::nullopt;
    at += headerBytes + data;
    if (type == kEndOfArchive) return at;
    if (at > window.limit()) return std::nullopt;
  }
}

std::optional<uint64_t> Rar5End(CarveWindow& window) {
  constexpr uint64_t kMainHeader = 1, kEndOfArchive = 5;
  uint64_t at = 8;
  bool first = true;
  while (true) {
    ByteView start = window.Read(at, 7);
    if (start.empty()) return std::nullopt;
    size_t offset = 4;
    std::optional<uint64_t> headerBytes = ReadVint(start, offset);
    if (!headerBytes || *headerBytes == 0 || *headerBytes > 0x200000) return std::nullopt;
    uint64_t covered = offset - 4 + *headerBytes;  // size field and header, under the CRC
    if (covered > CarveWindow::kMaxRead) return std::nullopt;
    ByteView header = window.Read(at + 4, static_cast<size_t>(covered));
    if (header.empty() || Crc32Of(header) != start.le32(0)) return std::nullopt;
    size_t p = offset - 4;
    std::optional<uint64_t> type = ReadVint(header, p);
    std::optional<uint64_t> flags = ReadVint(header, p);
    if (!type || !flags) return std::nullopt;
    if (first && *type != kMainHeader) return std::nullopt;
    first = false;
    uint64_t data = 0;
    if (*flags & 0x01) {
      if (!ReadVint(header, p)) return std::nullopt;
    }
    if (*flags & 0x02) {
      std::optional<uint64_t> size = ReadVint(header, p);
      if (!size) return std::nullopt;
      data = *size;
    }
    if (data > window.limit()) return std::nullopt;
    at += 4 + covered + data;
    if (*type == kEndOfArchive) return at <= window.limit() ? std::optional<uint64_t>(at) : std::nullopt;
    if (at > window.limit()) return std::nullopt;
  }
}

}  // namespace

std::optional<uint64_t> RarStructureEnd(CarveWindow& window) {
  ByteView magic = window.Read(0, 8);
  if (magic.empty()) return std::nullopt;
  if (magic.u8(6) == 0x00) return Rar4End(window);
  if (magic.u8(6) == 0x01 && magic.u8(7) == 0x00) return Rar5End(window);
  return std::nullopt;
}

// ---- gzip ----

namespace {

// Offset of the first byte after the zero-terminated text at at.
std::optional<uint64_t> SkipZeroTerminated(CarveWindow& window, uint64_t at) {
  for (uint64_t end = at + 0x10000; at < end;) {
    ByteView chunk = window.ReadSome(at, 4096);
    if (chunk.empty()) return std::nullopt;
    const void* zero = std::memchr(chunk.data(), 0, chunk.size());
    if (zero != nullptr) return at + static_cast<size_t>(static_cast<const uint8_t*>(zero) - chunk.data()) + 1;
    at += chunk.size();
  }
  return std::nullopt;
}

// One member from at: its end after the 8-byte trailer, when the deflate
// stream ends and the trailer's CRC and length match what it inflated to.
std::optional<uint64_t> GzipMemberEnd(CarveWindow& window, uint64_t at, std::vector<uint8_t>& out) {
  ByteView h = window.Read(at, 10);
  if (h.empty() || h.u8(0) != 0x1F || h.u8(1) != 0x8B || h.u8(2) != 0x08 || (h.u8(3) & 0xE0)) return std::nullopt;
  uint8_t flags = h.u8(3);
  uint64_t p = at + 10;
  if (flags & 0x04) {
    ByteView extra = window.Read(p, 2);
    if (extra.empty()) return std::nullopt;
    p += 2 + uint64_t{extra.le16(0)};
  }
  for (uint8_t textFlag : {uint8_t{0x08}, uint8_t{0x10}}) {
    if (flags & textFlag) {
      std::optional<uint64_t> after = SkipZeroTerminated(window, p);
      if (!after) return std::nullopt;
      p = *after;
    }
  }
  if (flags & 0x02) p += 2;

  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return std::nullopt;
  uint32_t crc = 0;
  uint64_t inflated = 0;
  int status = Z_OK;
  while (status == Z_OK) {
    ByteView input = window.ReadSome(p);
    if (input.empty()) break;
    stream.next_in = const_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(input.size());
    while (stream.avail_in > 0 && status == Z_OK) {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      status = inflate(&stream, Z_NO_FLUSH);
      size_t produced = out.size() - stream.avail_out;
      crc = Crc32Of(ByteView(out.data(), produced), crc);
      inflated += produced;
      if (status == Z_BUF_ERROR && produced > 0) status = Z_OK;
    }
    p += input.size() - stream.avail_in;
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END) return std::nullopt;
  ByteView trailer = window.Read(p, 8);
  if (trailer.empty() || trailer.le32(0) != crc || trailer.le32(4) != static_cast<uint32_t>(inflated))
    return std::nullopt;
  return p + 8;
}

}  // namespace

std::optional<uint64_t> GzipStructureEnd(CarveWindow& window) {
  std::vector<uint8_t> out(32768);
  std::optional<uint64_t> end = GzipMemberEnd(window, 0, out);
  if (!end) return std::nullopt;
  // Concatenated members make one file (what `cat a.gz b.gz` and pigz give).
  while (true) {
    ByteView next = window.Read(*end, 3);
    if (next.empty() || next.u8(0) != 0x1F || next.u8(1) != 0x8B || next.u8(2) != 0x08) return end;
    // A further member that does not inflate to its trailer was cut short.
    std::optional<uint64_t> member = GzipMemberEnd(window, *end, out);
    if (!member) return std::nullopt;
    end = member;
  }
}

// ---- the rules ----

// A zip or gzip file cut short still gives up its first entries or bytes, so
// it is kept (as damaged) to the walk's end; a broken 7z or RAR is not.
uint64_t SizeZip(ByteView d, CarveContext& c) { return SizeByStructure(d, c, k64G, ZipStructureEnd, SizeWalk256M); }
uint64_t Size7z(ByteView d, CarveContext& c) { return SizeByStructure(d, c, k64G, SevenZipStructureEnd, nullptr); }
uint64_t SizeRar(ByteView d, CarveContext& c) { return SizeByStructure(d, c, k64G, RarStructureEnd, nullptr); }
uint64_t SizeGzip(ByteView d, CarveContext& c) { return SizeByStructure(d, c, k2G, GzipStructureEnd, SizeWalk256M); }

}  // namespace kestrel::sig
