#include "platform/crc32.h"

#include <algorithm>
#include <climits>

#ifdef VELMARIND_HAVE_ISAL
#include <isa-l/crc.h>
#else
#include <zlib.h>
#endif

namespace vm {

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
#ifdef VELMARIND_HAVE_ISAL
  // The carry-less multiply version: several times zlib's table version, which would hold a
  // folder download to about 0.8 of a plain download on loopback.
  constexpr size_t kStep = UINT32_MAX;
  while (size > 0) {
    const size_t step = std::min(size, kStep);
    crc = crc32_gzip_refl(crc, const_cast<unsigned char*>(bytes), step);
    bytes += step;
    size -= step;
  }
#else
  constexpr size_t kStep = UINT_MAX;
  while (size > 0) {
    const size_t step = std::min(size, kStep);
    crc = static_cast<uint32_t>(crc32(crc, bytes, static_cast<uInt>(step)));
    bytes += step;
    size -= step;
  }
#endif
  return crc;
}

}  // namespace vm
