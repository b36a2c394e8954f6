// Reproducible bytes for test content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vmtest {

// size bytes of noise, the same for the same seed.
std::string RandomBytes(size_t size, uint64_t seed);

}  // namespace vmtest
