// The start page that the tray's URL command writes and hands to the browser.
#include <string>

#include "web/page_file.h"
#include "web/pages.h"

namespace vm {

std::string MakeGoHomePage(const std::string& baseUrl, const std::string& pageFile) {
  return WritePageFile(pageFile, {
                              "<HTML>",
                              "<HEAD>",
                              "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
                              "<TITLE>Velmarind</TITLE>",
                              "<meta http-equiv=\"Refresh\" content=\"0; url=" + baseUrl + "\">",
                              "</HEAD>",
                              "<BODY>",
                              "<a href=\"" + baseUrl + "\">" + baseUrl + "</a>",
                              "</BODY>",
                              "</HTML>",
                          });
}

}  // namespace vm
