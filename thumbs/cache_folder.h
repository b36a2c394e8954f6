// What the caches of thumbs/ share: a folder of plain files kept within a budget.
#pragma once

#include <cstdint>
#include <string>

namespace vm::thumbs {

// When the plain files in folder (ending in "/") take more than budget bytes on disk, removes
// them in the order of their modification times, oldest first, until they take at most target.
void TrimFolder(const std::string& folder, uint64_t budget, uint64_t target);

}  // namespace vm::thumbs
