// PDF (header, startxref pointing at a cross-reference table whose entries
// point at objects, and the last %%EOF) and OLE compound documents (FAT,
// directory and every stream's sector chain inside the file and loop-free).
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "carve/integrity/integrity_internal.h"

namespace kestrel::integrity {
namespace {

// True when text at the start reads "<digits> <digits> obj".
bool StartsWithObject(std::string_view text) {
  size_t at = 0;
  for (int number = 0; number < 2; ++number) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    size_t digits = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    if (at == digits) return false;
  }
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  return text.substr(at, 3) == "obj";
}

std::string_view AsText(const std::vector<uint8_t>& bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Reads a "start count" subsection line of a classic xref table.
bool ReadNumbers(ForwardReader& reader, uint64_t& first, uint64_t& second, bool& trailer) {
  std::string line;
  uint8_t c = 0;
  while (reader.Byte(c)) {
    if (c == '\n' || c == '\r') {
      if (line.find_first_not_of(" \t") == std::string::npos) { line.clear(); continue; }
      break;
    }
    line += static_cast<char>(c);
    if (line.size() > 64) return false;
  }
  trailer = line.rfind("trailer", 0) == 0;
  if (trailer) return true;
  char* end = nullptr;
  first = std::strtoull(line.c_str(), &end, 10);
  if (end == line.c_str()) return false;
  char* end2 = nullptr;
  second = std::strtoull(end, &end2, 10);
  return end2 != end;
}

}  // namespace

IntegrityResult CheckPdf(CheckInput& input) {
  std::vector<uint8_t> bytes;
  uint64_t headLength = input.size < 1024 ? input.size : 1024;
  ReadBytes(input, 0, static_cast<size_t>(headLength), bytes);
  size_t header = AsText(bytes).find("%PDF-");
  if (header == std::string_view::npos) return Damaged(input, 0, "no %PDF- header at the start");
  // Offsets count from the header, which is not always at byte 0.
  uint64_t base = header;

  uint64_t tailLength = input.size < 2048 ? input.size : 2048;
  ReadBytes(input, input.size - tailLength, static_cast<size_t>(tailLength), bytes);
  std::string_view tail = AsText(bytes);
  size_t eof = tail.rfind("%%EOF");
  if (eof == std::string_view::npos) return Damaged(input, input.size, "no %%EOF marker at the end (the file is cut short)");
  size_t startxref = tail.rfind("startxref", eof);
  if (startxref == std::string_view::npos) return Damaged(input, input.size - tailLength + eof, "no startxref before %%EOF");
  uint64_t xref = std::strtoull(std::string(tail.substr(startxref + 9, eof - startxref - 9)).c_str(), nullptr, 10) + base;
  if (xref >= input.size) return Damaged(input, input.size, "startxref points past the end of the file");

  ReadBytes(input, xref, static_cast<size_t>(std::min<uint64_t>(32, input.size - xref)), bytes);
  if (StartsWithObject(AsText(bytes))) return Intact("header, cross-reference stream and %%EOF are consistent");
  if (AsText(bytes).substr(0, 4) != "xref") return Damaged(input, xref, "startxref points at neither a table nor an object");

  ForwardReader reader(input, xref + 4);
  uint64_t objects = 0;
  for (;;) {
    uint64_t first = 0, count = 0;
    bool trailer = false;
    uint64_t lineAt = reader.position();
    if (!ReadNumbers(reader, first, count, trailer)) return Damaged(input, lineAt, "the cross-reference table is broken");
    if (trailer) break;
    for (uint64_t index = 0; index < count; ++index) {
      uint64_t entryAt = reader.position();
      std::vector<uint8_t> entry;
      if (!ReadBytes(input, entryAt, 20, entry)) return Damaged(input, input.size, "the cross-reference table is cut short");
      reader.Skip(20);
      std::string_view text = AsText(entry);
      if (text[17] == 'f') continue;
      if (text[17] != 'n') return Damaged(input, entryAt, "the cross-reference table is broken");
      uint64_t object = std::strtoull(std::string(text.substr(0, 10)).c_str(), nullptr, 10) + base;
      std::vector<uint8_t> start;
      if (object >= input.size) return Damaged(input, input.size, "object " + std::to_string(first + index) + " lies past the end");
      ReadBytes(input, object, static_cast<size_t>(std::min<uint64_t>(32, input.size - object)), start);
      if (!StartsWithObject(AsText(start)))
        return Damaged(input, object, "object " + std::to_string(first + index) + " is not where the table says");
      ++objects;
    }
  }
  return Intact("header, " + std::to_string(objects) + " objects of the cross-reference table and %%EOF are consistent");
}

namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;

// Follows a sector chain through a table; fails on a sector outside
// [0, limit), a loop, or a chain that ends on anything but the end mark.
bool WalkChain(const std::vector<uint32_t>& table, uint32_t start, uint64_t limit, std::vector<uint32_t>& chain) {
  chain.clear();
  std::vector<bool> seen(table.size(), false);
  for (uint32_t sector = start; sector != kEndOfChain;) {
    if (sector >= limit || sector >= table.size() || seen[sector]) return false;
    seen[sector] = true;
    chain.push_back(sector);
    sector = table[sector];
  }
  return true;
}

}  // namespace

IntegrityResult CheckOle(CheckInput& input) {
  static constexpr uint8_t kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::vector<uint8_t> head;
  if (!ReadBytes(input, 0, 512, head) || !ByteView(head).Matches(0, kSignature))
    return Damaged(input, 0, "it does not start with a compound document header");
  ByteView header(head);
  uint16_t shift = header.le16(30);
  if ((shift != 9 && shift != 12) || header.le16(32) != 6) return Damaged(input, 30, "impossible sector sizes in the header");
  uint32_t sectorSize = 1u << shift;
  uint32_t perSector = sectorSize / 4;
  // Sectors wholly inside the file (sector 0 starts after the header sector).
  uint64_t sectors = input.size > sectorSize ? (input.size - sectorSize) / sectorSize : 0;
  auto sectorAt = [&](uint32_t sector) { return (static_cast<uint64_t>(sector) + 1) * sectorSize; };
  uint32_t fatCount = header.le32(44);
  if (fatCount == 0 || fatCount > sectors) return Damaged(input, 44, "an impossible number of FAT sectors");

  std::vector<uint32_t> fatSectors;
  for (uint32_t i = 0; i < 109 && fatSectors.size() < fatCount; ++i) fatSectors.push_back(header.le32(76 + 4 * i));
  uint32_t difat = header.le32(68);
  std::vector<uint8_t> bytes;
  for (uint32_t hops = 0; fatSectors.size() < fatCount; ++hops) {
    if (difat >= sectors || hops > sectors) return Damaged(input, sectorAt(difat), "the FAT's sector list runs outside the file");
    ReadBytes(input, sectorAt(difat), sectorSize, bytes);
    for (uint32_t i = 0; i + 1 < perSector && fatSectors.size() < fatCount; ++i) fatSectors.push_back(ByteView(bytes).le32(4 * i));
    difat = ByteView(bytes).le32(sectorSize - 4);
  }
  std::vector<uint32_t> fat;
  fat.reserve(static_cast<size_t>(fatCount) * perSector);
  for (uint32_t sector : fatSectors) {
    if (sector >= sectors) return Damaged(input, input.size, "a FAT sector lies outside the file");
    ReadBytes(input, sectorAt(sector), sectorSize, bytes);
    for (uint32_t i = 0; i < perSector; ++i) fat.push_back(ByteView(bytes).le32(4 * i));
  }

  std::vector<uint32_t> chain;
  if (!WalkChain(fat, header.le32(48), sectors, chain) || chain.empty())
    return Damaged(input, sectorAt(header.le32(48)), "the directory's sector chain is broken");
  std::vector<uint8_t> directory;
  for (uint32_t sector : chain) {
    ReadBytes(input, sectorAt(sector), sectorSize, bytes);
    directory.insert(directory.end(), bytes.begin(), bytes.end());
  }

  uint32_t cutoff = header.le32(56);
  std::vector<uint32_t> miniFat;
  if (header.le32(64) > 0) {
    if (!WalkChain(fat, header.le32(60), sectors, chain)) return Damaged(input, sectorAt(header.le32(60)), "the mini FAT's chain is broken");
    for (uint32_t sector : chain) {
      ReadBytes(input, sectorAt(sector), sectorSize, bytes);
      for (uint32_t i = 0; i < perSector; ++i) miniFat.push_back(ByteView(bytes).le32(4 * i));
    }
  }
  ByteView entries(directory);
  uint64_t miniSectors = 0;
  uint32_t streams = 0;
  for (size_t at = 0; at + 128 <= entries.size(); at += 128) {
    uint8_t type = entries.u8(at + 66);
    if (type == 0) continue;
    if (type != 1 && type != 2 && type != 5) return Damaged(input, sectorAt(chain.front()), "a directory entry of an unknown type");
    uint32_t start = entries.le32(at + 116);
    uint64_t size = entries.le64(at + 120);
    if (shift == 9) size &= 0xFFFFFFFFu;  // version 3 leaves the high half undefined
    if (type == 1 || size == 0) continue;
    bool inMini = type == 2 && size < cutoff;
    uint64_t unit = inMini ? 64 : sectorSize;
    bool walked = inMini ? WalkChain(miniFat, start, miniSectors, chain) : WalkChain(fat, start, sectors, chain);
    if (!walked || chain.size() < (size + unit - 1) / unit) {
      std::string name;
      for (size_t i = 0; i + 2 < entries.le16(at + 64) && i < 64; i += 2) name += static_cast<char>(entries.u8(at + i));
      return Damaged(input, inMini || chain.empty() ? input.size : sectorAt(chain.back()),
                     "the sector chain of stream \"" + name + "\" is broken or too short");
    }
    if (type == 5) miniSectors = size / 64;
    ++streams;
  }
  return Intact("the FAT, directory and " + std::to_string(streams) + " streams' sector chains are consistent");
}

}  // namespace kestrel::integrity
