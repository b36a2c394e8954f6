// Form bodies as browsers send them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vmtest {

// One part of a multipart body: what follows "form-data; " (name="x"; filename="y"), and the
// content.
using TFormPart = std::pair<std::string, std::string>;

// A multipart/form-data body of the parts in order; a part with a file name gets a
// Content-Type line, as browsers send a file.
std::string Multipart(const std::vector<TFormPart>& parts,
                      const std::string& boundary = "----b0undary");

}  // namespace vmtest
