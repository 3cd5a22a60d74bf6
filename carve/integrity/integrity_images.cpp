// PNG (every chunk's CRC up to IEND), GIF (block structure to the trailer)
// and BMP (header sizes against the file's length).
#include <zlib.h>

#include "carve/integrity/integrity_internal.h"

namespace kestrel::integrity {
namespace {

bool IsChunkLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Skips GIF data sub-blocks (a length byte, that many bytes, until a zero length).
bool SkipSubBlocks(ForwardReader& reader) {
  for (;;) {
    uint8_t length = 0;
    if (!reader.Byte(length)) return false;
    if (length == 0) return true;
    if (!reader.Skip(length)) return false;
  }
}

}  // namespace

IntegrityResult CheckPng(CheckInput& input) {
  static constexpr uint8_t kSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> head;
  if (!ReadBytes(input, 0, 8, head) || !ByteView(head).Matches(0, kSignature))
    return Damaged(input, 0, "it does not start with the PNG signature");
  uint64_t offset = 8;
  bool imageData = false;
  for (uint32_t index = 0;; ++index) {
    if (!ReadBytes(input, offset, 8, head)) return Damaged(input, input.size, "the file ends before the IEND chunk");
    ByteView header(head);
    uint32_t length = header.be32(0);
    std::string type(reinterpret_cast<const char*>(head.data() + 4), 4);
    for (int i = 4; i < 8; ++i)
      if (!IsChunkLetter(head[i])) return Damaged(input, offset, "a chunk with an invalid type");
    if (length > 0x7FFFFFFFu) return Damaged(input, offset, "chunk " + type + " has an impossible length");
    if (index == 0 && (type != "IHDR" || length != 13)) return Damaged(input, offset, "the first chunk is not IHDR");
    uint64_t crcAt = offset + 8 + length;
    if (crcAt + 4 > input.size) return Damaged(input, input.size, "the file ends inside chunk " + type);
    uLong crc = crc32(0L, head.data() + 4, 4);
    bool read = ForEachPiece(input, offset + 8, length, [&](ByteView piece) {
      crc = crc32(crc, piece.data(), static_cast<uInt>(piece.size()));
      return true;
    });
    std::vector<uint8_t> stored;
    if (!read || !ReadBytes(input, crcAt, 4, stored)) return Damaged(input, offset, "chunk " + type + " cannot be read");
    if (ByteView(stored).be32(0) != static_cast<uint32_t>(crc))
      return Damaged(input, offset, "chunk " + type + " fails its CRC");
    if (type == "IDAT") imageData = true;
    offset = crcAt + 4;
    if (type == "IEND") {
      if (!imageData) return Damaged(input, offset, "it has no image data");
      return Intact("every chunk's CRC is right up to IEND");
    }
  }
}

IntegrityResult CheckGif(CheckInput& input) {
  std::vector<uint8_t> head;
  if (!ReadBytes(input, 0, 13, head) || !(ByteView(head).Matches(0, "GIF87a") || ByteView(head).Matches(0, "GIF89a")))
    return Damaged(input, 0, "it does not start with a GIF header");
  ForwardReader reader(input, 13);
  uint8_t flags = head[10];
  if ((flags & 0x80) && !reader.Skip(3u << ((flags & 7) + 1)))
    return Damaged(input, input.size, "the file ends inside the colour table");
  uint32_t images = 0;
  for (;;) {
    uint64_t blockAt = reader.position();
    uint8_t introducer = 0;
    if (!reader.Byte(introducer)) return Damaged(input, input.size, "the file ends before the trailer");
    if (introducer == 0x3B) {
      if (images == 0) return Damaged(input, reader.position(), "it holds no image");
      return Intact("the blocks run complete to the trailer");
    }
    if (introducer == 0x21) {
      uint8_t label = 0;
      if (!reader.Byte(label) || !SkipSubBlocks(reader)) return Damaged(input, input.size, "the file ends inside an extension");
      continue;
    }
    if (introducer != 0x2C) return Damaged(input, blockAt, "an unknown block");
    std::vector<uint8_t> descriptor;
    if (!ReadBytes(input, reader.position(), 9, descriptor)) return Damaged(input, input.size, "the file ends inside an image descriptor");
    reader.Skip(9);
    uint8_t local = descriptor[8];
    if ((local & 0x80) && !reader.Skip(3u << ((local & 7) + 1)))
      return Damaged(input, input.size, "the file ends inside a colour table");
    uint8_t codeSize = 0;
    if (!reader.Byte(codeSize)) return Damaged(input, input.size, "the file ends inside the image data");
    if (codeSize < 1 || codeSize > 11) return Damaged(input, reader.position() - 1, "an invalid LZW code size");
    if (!SkipSubBlocks(reader)) return Damaged(input, input.size, "the file ends inside the image data");
    ++images;
  }
}

IntegrityResult CheckBmp(CheckInput& input) {
  std::vector<uint8_t> head;
  if (!ReadBytes(input, 0, 26, head) || head[0] != 'B' || head[1] != 'M')
    return Damaged(input, 0, "it does not start with a BMP header");
  ByteView header(head);
  uint32_t declared = header.le32(2);
  uint32_t pixels = header.le32(10);
  uint32_t infoSize = header.le32(14);
  if (infoSize != 12 && infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 64 && infoSize != 108 &&
      infoSize != 124)
    return Damaged(input, 14, "an unknown information header size");
  if (14ull + infoSize > input.size) return Damaged(input, input.size, "the file ends inside the information header");
  std::vector<uint8_t> infoBytes;
  ReadBytes(input, 14, infoSize, infoBytes);
  ByteView info(infoBytes);
  int64_t width, height;
  uint32_t bits, compression = 0, imageBytes = 0;
  if (infoSize == 12) {
    width = info.le16(4);
    height = static_cast<int16_t>(info.le16(6));
    bits = info.le16(10);
  } else {
    width = static_cast<int32_t>(info.le32(4));
    height = static_cast<int32_t>(info.le32(8));
    bits = info.le16(14);
    compression = info.le32(16);
    imageBytes = info.le32(20);
  }
  if (width <= 0 || height == 0) return Damaged(input, 18, "the image has no size");
  if (pixels < 14 + infoSize || pixels > input.size) return Damaged(input, 10, "the pixel data starts outside the file");
  if (declared != 0 && declared > input.size)
    return Damaged(input, input.size, "the header says " + GroupedNumber(declared) + " bytes");
  uint64_t needed = 0;
  if (compression == 0 || compression == 3 || compression == 6) {  // plain rows
    uint64_t rowBytes = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
    needed = rowBytes * static_cast<uint64_t>(height < 0 ? -height : height);
  } else {
    needed = imageBytes;  // compressed: the header's own count
  }
  if (pixels + needed > input.size)
    return Damaged(input, input.size, "the pixel data needs " + GroupedNumber(pixels + needed) + " bytes");
  return Intact("the headers' sizes fit the file");
}

}  // namespace kestrel::integrity
