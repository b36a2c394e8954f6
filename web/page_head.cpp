// The head of the plain pages (login and text pages).
#include <string>
#include <vector>

#include "web/pages.h"

namespace vm {

const std::vector<std::string>& PlainPageHead() {
  static const std::vector<std::string> head = {
      "<HTML>",
      "<HEAD>",
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
      "<TITLE>Velmarind</TITLE>",
      "</HEAD>",
      "<BODY>",
      "<center><h1>Velmarind</h1></center><hr>",
  };
  return head;
}

}  // namespace vm
