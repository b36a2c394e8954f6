// Decoding of request targets, parameter texts and the request's credential and cookie headers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vm {

// URL decoding: "%" takes the one or two characters after it as hex; values 1-255 are appended, 0 or invalid append nothing; "+" is copied.
std::string URLDecode(std::string_view text);
// Parameter decoding: cut at every "&" (empty pieces kept), "+" -> space, URLDecode each piece.
std::vector<std::string> DecodeParams(std::string_view text);
// Target splitter result.
struct TTargetParts { std::string Directory, FileName, Params, Host; };
TTargetParts SplitTarget(std::string_view target);
// Document from a request target: "*" stays "*"; else URLDecode(Directory) + URLDecode(FileName) + Params.
// hostOut (when given) receives the host named by an absolute-form target, else "".
std::string DocumentFromTarget(std::string_view target, std::string* hostOut);
// Basic authorization: fills user and password; throws vm::Exception("Unsupported authorization scheme.") or ("Uneven size in DecodeToStream.").
void ParseBasicAuthorization(const std::string& value, std::string& user, std::string& password);
// Splits a cookie header value into cookies as the request reading describes.
void ParseCookieValue(const std::string& value, std::vector<std::string>& cookies);

}  // namespace vm
