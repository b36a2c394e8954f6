// CRC-32 as zip and gzip use it (the reflected polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vm {

// The CRC of the bytes that gave crc followed by these (crc 0 starts a new one).
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);

}  // namespace vm
