// The generated pages as the browser must receive them, line by line (Shift_JIS bytes).
#pragma once

#include <string>
#include <vector>

namespace vmtest {

// Login form; wrongPassword adds the red line; stamp is the "tt" value; waitSeconds, when not 0,
// the throttle's wait told to the page script.
std::vector<std::string> ExpectedLoginForm(bool wrongPassword, const std::string& stamp,
                                           int waitSeconds = 0);
// Login-complete page redirecting to "index.html?tt=" + stamp, showing baseUrl.
std::vector<std::string> ExpectedLoginDonePage(const std::string& baseUrl,
                                               const std::string& stamp);
// Index page with the given link lines.
std::vector<std::string> ExpectedIndexPage(const std::vector<std::string>& links);
// One link line of the index page.
std::string IndexLink(const std::string& hexName, const std::string& hexPath,
                      const std::string& text);
// Text-creation page with the values of the dirname field, the shown name, the file name and
// the value of the dirpath field.
std::vector<std::string> ExpectedTextPage(const std::string& dirValue, const std::string& shownName,
                                          const std::string& fname,
                                          const std::string& pathValue = "");
// Blank page: reloads the opener and closes its window.
std::vector<std::string> ExpectedBlankPage();
// The desktop's start page: goes on to url at once, and links to it.
std::vector<std::string> ExpectedGoHomePage(const std::string& url);

}  // namespace vmtest
