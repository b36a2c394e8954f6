#include "support/random_bytes.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace vmtest {

std::string RandomBytes(size_t size, uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i += 8) {
    const uint64_t word = generator();
    std::memcpy(bytes.data() + i, &word, std::min<size_t>(8, size - i));
  }
  return bytes;
}

}  // namespace vmtest
