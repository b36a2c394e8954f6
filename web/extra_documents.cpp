#include "web/extra_documents.h"

#include "web/chunk_upload.h"
#include "web/document_table.h"

namespace vm {

namespace {

// clang-format off
constexpr TExtraDocument kExtraDocuments[] = {
    // Resumable uploads: each chunk goes from the socket straight into its partial file.
    {kChunkDocument, AnswerChunkRequest, TBodyAdmission::Handler},
};
// clang-format on

}  // namespace

const TExtraDocument* FindExtraDocument(std::string_view document) {
  if (HasDesignedKey(document)) return nullptr;
  const std::string_view last = document.substr(document.rfind('/') + 1);
  for (const TExtraDocument& extra : kExtraDocuments) {
    if (extra.Handler != nullptr && last == extra.Name) return &extra;
  }
  return nullptr;
}

}  // namespace vm
