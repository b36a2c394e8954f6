// The page generators: each writes one page file for one request and returns its bytes.
#pragma once

#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "state/main_state.h"

namespace vm {

// Login form; variant "r" adds the wrong-password line, "c" (an addition of ours: the answer to
// a sign-in code) the line saying that the code was used or has expired. waitSeconds: how long
// the next attempt from this client will wait for its check (the throttle's), told to the page
// script when not 0.
std::string MakeLoginPage(const TStateSnapshot& state, const std::string& params, const std::string& pageFile,
                   const std::string& variant, long long waitSeconds = 0);
inline constexpr char kCodeRefusedVariant[] = "c";
// Login-complete page that sends the browser on to the index page, relative to the address the
// browser came by (the base URL is only shown).
std::string MakeLoginDonePage(const TStateSnapshot& state, const std::string& params,
                       const std::string& pageFile);
// The index page with one link per shared folder.
std::string MakeIndexPage(const TStateSnapshot& state, const std::string& params, const std::string& pageFile);
// The text-creation page.
std::string MakeTextPage(const TStateSnapshot& state, const std::string& params, const std::string& pageFile);
// The blank page (answer to a new-text post).
std::string MakeBlankPage(const TStateSnapshot& state, const std::string& params, const std::string& pageFile);
// The folder listing data (one line), written into the page file as it is made; returns the
// page file open, to be served as it is. found, when given, tells whether the folder could be
// opened inside the shares (an empty listing may be an empty folder or a missing one); mode,
// when given and the folder was found, gets the mode that holds there. A folder whose share
// does not allow listing (a drop box) is found and listed empty.
TUniqueFd MakeListingPage(const TStateSnapshot& state, const std::string& params,
                          const std::string& pageFile, bool* found = nullptr,
                          TShareMode* mode = nullptr);

// The start page that the tray's URL command opens: it sends the browser on to the base URL.
std::string MakeGoHomePage(const std::string& baseUrl, const std::string& pageFile);

// The head line that fits a page to a phone's screen.
extern const char kViewportLine[];
// The head line that links the installed style sheet.
extern const char kStyleSheetLine[];
// The same for the login page, by the name served also before a login.
extern const char kLoginStyleSheetLine[];
// The head line that loads the installed page script (by source: "vm-script" on the login page)
// on a page other than the index page, which the script then serves by the page's kind ("login",
// "text").
std::string PageScriptLine(const std::string& kind, const std::string& source = "vcom.js");

// Writes a plain page (the login form, the text and blank pages): the head with headExtra after
// the content type and then the title, "<BODY>" and the title bar, then body, "</BODY>", the
// script lines inside a commented script element, and "</HTML>".
std::string WritePlainPage(const std::string& pageFile, const std::vector<std::string>& headExtra,
                           const std::vector<std::string>& body,
                           const std::vector<std::string>& script);

// The login's password check on the parameters as sent (not yet percent-decoded): pw
// lower-cased and hex-decoded equals the stored password, or pw equals, ignoring case, what the
// login page's str2hex sends for it; when pw is empty, the typed field passwd (percent-decoded:
// the Shift_JIS bytes the page's form sends) equals it.
bool PasswordMatches(const std::string& sent, const std::string& storedPassword);

}  // namespace vm
