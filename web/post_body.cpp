#include "web/post_body.h"

namespace vm {

std::unique_ptr<TStream> CreatePostStream() { return std::make_unique<TMemoryStream>(); }

std::string ParsePostBody(const TStateSnapshot&, TStream&) { return ""; }

}  // namespace vm
