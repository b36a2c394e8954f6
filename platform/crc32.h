// CRC-32 as zip, gzip and zlib use it (the reflected polynomial 0xEDB88320): archives and
// upload pieces, which every client can check (a few lines in a browser, zlib.crc32 elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vm {

// The CRC of the bytes that gave crc followed by these (crc 0 starts a new one).
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);
inline uint32_t Crc32(std::string_view bytes) { return Crc32Update(0, bytes.data(), bytes.size()); }

}  // namespace vm
