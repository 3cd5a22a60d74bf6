// LZNT1, the compression NTFS uses for files with the compressed attribute.
// Decodes one compression unit at a time into a caller-sized buffer and never
// writes or reads past either buffer. Shared by the fast and the deep engines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrel {

enum class Lznt1Status {
  kOk,       // input ended (terminator, or no more chunks) with output produced
  kCorrupt,  // a chunk header or back-reference that cannot be right
};

// Decompresses a stream of LZNT1 chunks (each standing for 4,096 bytes) from
// input into output. produced says how many bytes were written; the caller
// zero-fills the rest of the unit (a unit whose data ends early). Output that
// would pass output's end is cut off there: the unit is full.
Lznt1Status DecompressLznt1(std::span<const uint8_t> input, std::span<uint8_t> output, size_t& produced);

}  // namespace kestrel
