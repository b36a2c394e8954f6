#include "web/pages.h"
#include "web/page_file.h"

namespace vm {

void MakeListingPage(const TStateSnapshot&, const std::string&, const std::string& pageFile) {
  WritePageFile(pageFile, {""});
}

}  // namespace vm
