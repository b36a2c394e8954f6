#include "platform/checksum.h"

#include <isa-l/crc.h>

namespace vm {

uint32_t Crc32Update(uint32_t crc, const void* bytes, size_t count) {
  return crc32_gzip_refl(crc, static_cast<const unsigned char*>(bytes), count);
}

}  // namespace vm
