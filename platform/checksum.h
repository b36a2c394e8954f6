// The checksum of upload chunks: the CRC-32 of zlib and gzip, which every client can compute
// (browsers in a few lines, zlib.crc32 in Python and Node).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vm {

// The CRC-32 of the bytes following those whose CRC-32 is crc (0 for none), as zlib's crc32.
uint32_t Crc32Update(uint32_t crc, const void* bytes, size_t count);
inline uint32_t Crc32(std::string_view bytes) { return Crc32Update(0, bytes.data(), bytes.size()); }

}  // namespace vm
