// Upload and new-text handling: the body stream and its parser.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/stream.h"
#include "state/main_state.h"
#include "web/body_search.h"
#include "web/upload_gate.h"

namespace vm {

// The stream into which the engine reads a request body.
std::unique_ptr<TStream> CreatePostStream();
// The same, keeping a large body on the program folder's file system when it can, so that it
// becomes "pastdata.txt" without a copy.
std::unique_ptr<TStream> CreatePostStream(const std::string& programFolder);
// The same, dropping a large upload as soon as its first fields show that the state's shares
// refuse it (TUploadGateStream).
std::unique_ptr<TStream> CreatePostStream(const TMainState& state);

// Saves an upload or a new text into a shared folder, keeps the body of one that saved
// something in "pastdata.txt", and returns the parameter text the dispatcher goes on with (see
// the parser's sections).
std::string ParsePostBody(const TStateSnapshot& state, TStream& body);
// What a body did, beyond the parameter text: for the answer and the desktop notice.
struct TPostOutcome {
  std::optional<TShareChange> Change;  // what was saved; the caller fills in the client address
  // The uploads saved, or the new text, system text, in body order, as the answer names them:
  // in a drop box the names the client gave, whatever they were saved under.
  std::vector<std::string> SavedNames;
  TPostRefusal Refusal = TPostRefusal::None;
};

// The same, also telling what was saved or why nothing was.
std::string ParsePostBody(const TStateSnapshot& state, TStream& body, TPostOutcome& outcome);
// The same, with the body scanned in steps of the given sizes (tests make them small).
std::string ParsePostBody(const TStateSnapshot& state, TStream& body, TPostOutcome& outcome,
                          const TBodyScanSizes& sizes);

}  // namespace vm
