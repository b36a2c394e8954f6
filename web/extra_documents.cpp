#include "web/extra_documents.h"

#include "web/document_table.h"
#include "web/view_documents.h"

namespace vm {

namespace {

// clang-format off
constexpr TExtraDocument kExtraDocuments[] = {
    {"vm-view", AnswerViewDocument, TBodyAdmission::Discard},
    {"vm-thumb", AnswerThumbnailDocument, TBodyAdmission::Discard},
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
