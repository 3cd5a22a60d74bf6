// MP3 (a chain of valid frame headers to the end or a trailing tag), RIFF
// (WAV/AVI/WebP chunk sizes add up), MP4/QuickTime (a complete atom tree
// whose chunk offsets lie inside the file) and MIDI (header and track chunks).
#include <algorithm>
#include <string>

#include "carve/integrity/integrity_internal.h"

namespace kestrel::integrity {
namespace {

bool Printable(ByteView bytes, size_t at, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t c = bytes.u8(at + i);
    if (c < 0x20 || c > 0x7E) return false;
  }
  return bytes.Has(at, count);
}

std::string FourCc(ByteView bytes, size_t at) { return std::string(reinterpret_cast<const char*>(bytes.data() + at), 4); }

// The length of the MPEG audio frame whose header is h, or 0 when h is not a
// valid header.
uint32_t FrameLength(const uint8_t* h) {
  static constexpr uint16_t kBitrates[2][3][16] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
  static constexpr uint32_t kRates[3] = {44100, 48000, 32000};
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
  int version = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  int layer = (h[1] >> 1) & 3;    // 3 layer I, 2 layer II, 1 layer III
  int bitrateIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
  bool mpeg1 = version == 3;
  uint32_t bitrate = kBitrates[mpeg1 ? 0 : 1][3 - layer] [bitrateIndex] * 1000u;
  uint32_t rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  if (layer == 3) return (12 * bitrate / rate + padding) * 4;
  if (layer == 1 && !mpeg1) return 72 * bitrate / rate + padding;
  return 144 * bitrate / rate + padding;
}

// True when the bytes from offset on are only tags that players allow after
// the audio (ID3v1, APE, Lyrics3) or zero padding.
bool OnlyTrailingTags(CheckInput& input, uint64_t offset) {
  std::vector<uint8_t> bytes;
  uint64_t left = input.size - offset;
  if (left > 64 * 1024 || !ReadBytes(input, offset, static_cast<size_t>(left), bytes)) return false;
  ByteView rest(bytes);
  if (rest.Matches(0, "TAG") || rest.Matches(0, "APETAGEX") || rest.Matches(0, "LYRICSBEGIN")) return true;
  for (uint8_t b : bytes)
    if (b != 0) return false;
  return true;
}

bool IsContainerAtom(const std::string& type) {
  return type == "moov" || type == "trak" || type == "mdia" || type == "minf" || type == "stbl" || type == "edts" ||
         type == "dinf" || type == "mvex" || type == "moof" || type == "traf" || type == "mfra";
}

struct AtomWalk {
  bool movie = false;
  uint32_t chunkTables = 0;
};

// Checks that the atoms in [begin, end) fill it exactly; recurses into
// containers and checks chunk offset tables against the file's length.
IntegrityResult WalkAtoms(CheckInput& input, uint64_t begin, uint64_t end, int depth, AtomWalk& walk) {
  std::vector<uint8_t> bytes;
  for (uint64_t at = begin; at < end;) {
    if (end - at < 8) {
      // A few zero bytes after the last top-level atom are padding.
      if (depth == 0 && ReadBytes(input, at, static_cast<size_t>(end - at), bytes) &&
          std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }))
        return Intact("");
      return Damaged(input, at, "an atom header is cut short");
    }
    ReadBytes(input, at, 16 <= end - at ? 16 : 8, bytes);
    ByteView header(bytes);
    if (!Printable(header, 4, 4) && !(header.u8(4) == 0xA9 && Printable(header, 5, 3)))
      return Damaged(input, at, "an atom with an invalid type");
    std::string type = FourCc(header, 4);
    uint64_t size = header.be32(0), headerSize = 8;
    if (size == 1) {
      if (bytes.size() < 16) return Damaged(input, at, "an atom header is cut short");
      size = (uint64_t(header.be32(8)) << 32) | header.be32(12);
      headerSize = 16;
    } else if (size == 0) {
      size = end - at;  // runs to the end of its container
    }
    if (size < headerSize) return Damaged(input, at, "atom " + type + " has an impossible size");
    if (size > end - at) {
      if (end == input.size && depth == 0)
        return Damaged(input, input.size, "atom " + type + " needs " + GroupedNumber(at + size) + " bytes");
      return Damaged(input, at, "atom " + type + " runs past its container");
    }
    if (type == "moov") walk.movie = true;
    if (IsContainerAtom(type) && depth < 16) {
      IntegrityResult inner = WalkAtoms(input, at + headerSize, at + size, depth + 1, walk);
      if (inner.damaged()) return inner;
    }
    if (type == "stco" || type == "co64") {
      uint64_t entryBytes = type == "stco" ? 4 : 8;
      std::vector<uint8_t> table;
      if (!ReadBytes(input, at + headerSize + 4, 4, table)) return Damaged(input, at, "a chunk offset table is cut short");
      uint64_t count = ByteView(table).be32(0);
      uint64_t tableAt = at + headerSize + 8;
      if (count * entryBytes > at + size - tableAt) return Damaged(input, at, "a chunk offset table overruns its atom");
      uint64_t index = 0;
      uint64_t outside = 0;
      ForEachPiece(input, tableAt, count * entryBytes, [&](ByteView piece) {
        for (size_t i = 0; i + entryBytes <= piece.size() && outside == 0; i += entryBytes, ++index) {
          uint64_t offset = entryBytes == 4 ? piece.be32(i) : (uint64_t(piece.be32(i)) << 32) | piece.be32(i + 4);
          if (offset >= input.size) outside = offset;
        }
        return outside == 0;
      });
      if (outside) return Damaged(input, input.size, "media data at " + GroupedNumber(outside) + " lies past the end of the file");
      ++walk.chunkTables;
    }
    at += size;
  }
  return Intact("");
}

}  // namespace

IntegrityResult CheckMp3(CheckInput& input) {
  std::vector<uint8_t> bytes;
  uint64_t at = 0;
  if (ReadBytes(input, 0, 10, bytes) && ByteView(bytes).Matches(0, "ID3")) {
    uint32_t size = (uint32_t(bytes[6] & 0x7F) << 21) | (uint32_t(bytes[7] & 0x7F) << 14) |
                    (uint32_t(bytes[8] & 0x7F) << 7) | (bytes[9] & 0x7F);
    at = 10 + size + ((bytes[5] & 0x10) ? 10 : 0);
    if (at >= input.size) return Damaged(input, input.size, "the file ends inside its ID3 tag");
  }
  ForwardReader reader(input, at);
  // Encoders may pad between the tag and the first frame.
  uint8_t b = 0;
  while (reader.Byte(b) && b == 0) {}
  at = reader.position() - 1;
  uint64_t frames = 0;
  while (at < input.size) {
    uint8_t h[4] = {};
    reader.Seek(at);
    bool got = reader.Byte(h[0]) && reader.Byte(h[1]) && reader.Byte(h[2]) && reader.Byte(h[3]);
    uint32_t length = got ? FrameLength(h) : 0;
    if (length == 0) {
      if (frames > 0 && OnlyTrailingTags(input, at)) break;
      return Damaged(input, at, frames == 0 ? "no MPEG audio frame where the audio should start"
                                             : "the frame chain breaks after " + std::to_string(frames) + " frames");
    }
    if (length > input.size - at) return Damaged(input, at, "the last frame is cut short");
    at += length;
    ++frames;
  }
  if (frames < 2) return Damaged(input, at, "too few audio frames");
  return Intact(std::to_string(frames) + " frame headers chain to the end");
}

IntegrityResult CheckRiff(CheckInput& input) {
  std::vector<uint8_t> bytes;
  if (!ReadBytes(input, 0, 12, bytes) || !ByteView(bytes).Matches(0, "RIFF"))
    return Damaged(input, 0, "it does not start with a RIFF header");
  std::string form = FourCc(ByteView(bytes), 8);
  uint64_t end = 8 + uint64_t(ByteView(bytes).le32(4));
  if (end > input.size) return Damaged(input, input.size, "the RIFF header says " + GroupedNumber(end) + " bytes");
  bool format = false, data = false, headers = false, movie = false, image = false;
  for (uint64_t at = 12; at < end;) {
    if (end - at < 8) return Damaged(input, at, "a chunk header is cut short");
    ReadBytes(input, at, 12, bytes);
    ByteView chunk(bytes);
    if (!Printable(chunk, 0, 4)) return Damaged(input, at, "a chunk with an invalid name");
    std::string id = FourCc(chunk, 0);
    uint64_t size = chunk.le32(4);
    if (size > end - at - 8) return Damaged(input, at, "chunk \"" + id + "\" runs past the end of the RIFF data");
    format |= id == "fmt ";
    data |= id == "data";
    image |= id == "VP8 " || id == "VP8L" || id == "VP8X";
    if (id == "LIST" && bytes.size() >= 12) {
      headers |= chunk.Matches(8, "hdrl");
      movie |= chunk.Matches(8, "movi");
    }
    at += 8 + size + (size & 1);
  }
  if (form == "WAVE" && !(format && data)) return Damaged(input, end, "no format or data chunk");
  if (form == "AVI " && !(headers && movie)) return Damaged(input, end, "no header list or movie list");
  if (form == "WEBP" && !image) return Damaged(input, end, "no image chunk");
  return Intact("the chunk sizes add up to the RIFF length");
}

IntegrityResult CheckIsoMedia(CheckInput& input) {
  AtomWalk walk;
  IntegrityResult result = WalkAtoms(input, 0, input.size, 0, walk);
  if (result.damaged()) return result;
  if (!walk.movie) return Damaged(input, input.size, "no movie (moov) atom");
  return Intact("the atoms fill the file and " + std::to_string(walk.chunkTables) + " chunk tables point inside it");
}

IntegrityResult CheckMidi(CheckInput& input) {
  std::vector<uint8_t> bytes;
  if (!ReadBytes(input, 0, 14, bytes) || !ByteView(bytes).Matches(0, "MThd") || ByteView(bytes).be32(4) < 6)
    return Damaged(input, 0, "it does not start with a MIDI header");
  uint32_t tracks = ByteView(bytes).be16(10);
  uint64_t at = 8 + uint64_t(ByteView(bytes).be32(4));
  uint32_t found = 0;
  while (found < tracks) {
    if (!ReadBytes(input, at, 8, bytes)) return Damaged(input, input.size, "the file ends before track " + std::to_string(found + 1));
    ByteView chunk(bytes);
    if (!Printable(chunk, 0, 4)) return Damaged(input, at, "a chunk with an invalid name");
    uint64_t size = chunk.be32(4);
    if (size > input.size - at - 8) return Damaged(input, input.size, "the file ends inside track " + std::to_string(found + 1));
    if (chunk.Matches(0, "MTrk")) {
      std::vector<uint8_t> last;
      // Every track ends with the end-of-track event FF 2F 00.
      if (size < 3 || !ReadBytes(input, at + 8 + size - 3, 3, last) || last[0] != 0xFF || last[1] != 0x2F || last[2] != 0)
        return Damaged(input, at + 8 + size, "track " + std::to_string(found + 1) + " does not end with end-of-track");
      ++found;
    }
    at += 8 + size;
  }
  return Intact("the header and " + std::to_string(tracks) + " tracks are complete");
}

}  // namespace kestrel::integrity
