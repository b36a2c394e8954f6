#include "web/document_table.h"

namespace vm {

namespace {

struct TDocumentRow {
  const char* key;  // matched as a case-sensitive substring of the document
  TAnswer answer;
};

// Tested in this order; the first key found anywhere in the document wins, so
// "/x/script.html/index.html" gets the index page.
// clang-format off
constexpr TDocumentRow kDocumentTable[] = {
    {"index.html",    TAnswer::Index},
    {"script.html",   TAnswer::Listing},
    {"download.html", TAnswer::Download},
    {"text.html",     TAnswer::Text},
    {"blank.html",    TAnswer::Blank},
    {"vcom.css",      TAnswer::StyleSheet},
    {"vcom.js",       TAnswer::Script},
};
// clang-format on

constexpr std::string_view kLoginDocument = "login.html";
// The names the login page loads the installed files by (see LoginAssetKey).
constexpr std::string_view kLoginStyleSheet = "vm-style";
constexpr std::string_view kLoginScript = "vm-script";

}  // namespace

TAnswer AnswerFor(std::string_view document) {
  for (const TDocumentRow& row : kDocumentTable) {
    if (document.find(row.key) != std::string_view::npos) return row.answer;
  }
  return TAnswer::Index;
}

bool HasDesignedKey(std::string_view document) {
  for (const TDocumentRow& row : kDocumentTable) {
    if (document.find(row.key) != std::string_view::npos) return true;
  }
  return IsLoginDocument(document);
}

bool IsLoginDocument(std::string_view document) {
  return document.find(kLoginDocument) != std::string_view::npos;
}

std::string_view LoginAssetKey(std::string_view document) {
  if (HasDesignedKey(document)) return {};
  const std::string_view last = document.substr(document.rfind('/') + 1);
  if (last == kLoginStyleSheet) return "vcom.css";
  if (last == kLoginScript) return "vcom.js";
  return {};
}

bool IsPlainIndexRequest(std::string_view command, std::string_view document,
                         std::string_view params, bool hasBody) {
  // A gated client gets the login form for it, which is as harmless; the login document itself
  // is not plain: it checks a password.
  return (command == "GET" || command == "HEAD") && !hasBody && params.empty() &&
         !IsLoginDocument(document) && AnswerFor(document) == TAnswer::Index;
}

}  // namespace vm
