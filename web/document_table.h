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

// True when the document is the installed style sheet or page script (and not the login
// document): files that hold nothing of the user's, served also before a login.
bool IsInstalledFile(std::string_view document);

// True for a request another site may start: a GET or HEAD of a document the index page
// answers, without parameters and without a body. It reads and changes nothing.
bool IsPlainIndexRequest(std::string_view command, std::string_view document,
                         std::string_view params, bool hasBody);

}  // namespace vm
