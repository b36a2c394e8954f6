// Which answer a document name asks for: the table the dispatcher routes by.
#pragma once

#include <string_view>

namespace vm {

enum class TAnswer { Index, Listing, Download, Text, Blank, StyleSheet, Script };

// The answer of the first table key found (case-sensitively) anywhere in the document; the
// index page when none is: there is no "not found".
TAnswer AnswerFor(std::string_view document);

// True when a designed key (one of the table's, or "login.html") stands anywhere in the document.
bool HasDesignedKey(std::string_view document);

// True when the document contains "login.html", the one the login gate checks passwords on.
bool IsLoginDocument(std::string_view document);

// The designed key ("vcom.css" or "vcom.js") of the installed file that the document names by
// its login name ("vm-style", "vm-script": the whole last segment, and no designed key in it);
// empty for any other document. These hold nothing of the user's and the login page uses them,
// so they are served also before a login, while the designed names keep their answers.
std::string_view LoginAssetKey(std::string_view document);

// True for a request another site may start: a GET or HEAD of a document the index page
// answers, without parameters and without a body. It reads and changes nothing.
bool IsPlainIndexRequest(std::string_view command, std::string_view document,
                         std::string_view params, bool hasBody);

}  // namespace vm
