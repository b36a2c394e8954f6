// Upload and new-text handling: the body stream and its parser.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/main_state.h"
#include "platform/stream.h"

namespace vm {

// The stream into which the engine reads a request body.
std::unique_ptr<TStream> CreatePostStream();
// The same, keeping a large body on the program folder's file system when it can, so that it
// becomes "pastdata.txt" without a copy.
std::unique_ptr<TStream> CreatePostStream(const std::string& programFolder);

// Keeps the body in "pastdata.txt", saves an upload or a new text into a shared folder, and
// returns the parameter text the dispatcher goes on with (see the parser's sections).
std::string ParsePostBody(const TStateSnapshot& state, TStream& body);
// The same, also telling what was saved (nothing when nothing was; the client address is left
// for the caller to fill in).
std::string ParsePostBody(const TStateSnapshot& state, TStream& body,
                          std::optional<TShareChange>& change);

}  // namespace vm
