#include "fs/ntfs/ntfs_lznt1.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

namespace {

constexpr size_t kChunkBytes = 4096;

// One compressed chunk into out (at most kChunkBytes). Returns false on a
// back-reference before the chunk's start or input that ends inside a token.
bool DecodeChunk(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCap, size_t& written) {
  size_t ip = 0;
  size_t op = 0;
  while (ip < inSize && op < outCap) {
    uint8_t tags = in[ip++];
    for (int bit = 0; bit < 8 && ip < inSize && op < outCap; ++bit) {
      if ((tags & (1u << bit)) == 0) {
        out[op++] = in[ip++];
        continue;
      }
      if (ip + 2 > inSize) return false;
      uint16_t token = uint16_t(in[ip] | (in[ip + 1] << 8));
      ip += 2;
      // The split between displacement and length moves as the chunk fills:
      // more displacement bits are needed the further in we are.
      unsigned lengthBits = 12;
      for (size_t p = op - 1; op > 0 && p >= 0x10; p >>= 1) --lengthBits;
      size_t displacement = (token >> lengthBits) + 1;
      size_t length = (token & ((1u << lengthBits) - 1)) + 3;
      if (displacement > op) return false;
      size_t n = std::min(length, outCap - op);
      // Byte by byte: a reference may overlap what it produces.
      for (size_t i = 0; i < n; ++i, ++op) out[op] = out[op - displacement];
    }
  }
  written = op;
  return true;
}

}  // namespace

Lznt1Status DecompressLznt1(std::span<const uint8_t> input, std::span<uint8_t> output, size_t& produced) {
  produced = 0;
  size_t ip = 0;
  while (ip + 2 <= input.size() && produced < output.size()) {
    uint16_t header = uint16_t(input[ip] | (input[ip + 1] << 8));
    if (header == 0) break;
    size_t dataSize = (header & 0x0FFF) + 1;
    bool compressed = (header & 0x8000) != 0;
    ip += 2;
    if (ip + dataSize > input.size()) return Lznt1Status::kCorrupt;
    size_t room = std::min(kChunkBytes, output.size() - produced);
    uint8_t* out = output.data() + produced;
    size_t written = 0;
    if (!compressed) {
      // A stored chunk holds its bytes as they are.
      written = std::min(dataSize, room);
      std::memcpy(out, input.data() + ip, written);
    } else if (!DecodeChunk(input.data() + ip, dataSize, out, room, written)) {
      return Lznt1Status::kCorrupt;
    }
    // Every chunk stands for 4,096 bytes; what it does not spell out is zeros.
    std::memset(out + written, 0, room - written);
    produced += room;
    ip += dataSize;
  }
  return Lznt1Status::kOk;
}

}  // namespace kestrel
