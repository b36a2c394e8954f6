// Upload and new-text handling: the body stream and its parser.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/stream.h"
#include "state/main_state.h"
#include "web/body_search.h"

namespace vm {

// The stream into which the engine reads a request body.
std::unique_ptr<TStream> CreatePostStream();
// The same, keeping a large body on the program folder's file system when it can, so that it
// becomes "pastdata.txt" without a copy.
std::unique_ptr<TStream> CreatePostStream(const std::string& programFolder);

// Keeps the body in "pastdata.txt", saves an upload or a new text into a shared folder, and
// returns the parameter text the dispatcher goes on with (see the parser's sections).
std::string ParsePostBody(const TStateSnapshot& state, TStream& body);
// Why a body that asked to save something saved nothing.
enum class TPostRefusal {
  None,         // nothing was refused (or nothing was asked)
  NoFolder,     // the named shared folder (or the folder inside it) is not there or not allowed
  BadName,      // the file name is unusable (empty, a separator, a control character, a leading ".")
  CannotWrite,  // the file system refused (full, read-only, no access)
  NotAllowed,   // the share's mode does not take new files (a share for viewing only)
};

// What a body did, beyond the parameter text: for the answer and the desktop notice.
struct TPostOutcome {
  std::optional<TShareChange> Change;  // what was saved; the caller fills in the client address
  std::vector<std::string> SavedNames;  // the uploads saved, system text, in body order
  TPostRefusal Refusal = TPostRefusal::None;
};

// The same, also telling what was saved or why nothing was.
std::string ParsePostBody(const TStateSnapshot& state, TStream& body, TPostOutcome& outcome);
// The same, with the body scanned in steps of the given sizes (tests make them small).
std::string ParsePostBody(const TStateSnapshot& state, TStream& body, TPostOutcome& outcome,
                          const TBodyScanSizes& sizes);

}  // namespace vm
