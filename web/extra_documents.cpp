#include "web/extra_documents.h"

#include "web/chunk_upload.h"
#include "web/document_table.h"
#include "web/share_manage.h"
#include "web/zip_download.h"
#include "web/view_documents.h"

namespace vm {

namespace {

// clang-format off
constexpr TExtraDocument kExtraDocuments[] = {
    // A selection may be sent as a form body larger than a small form.
    {"vm-zip", ZipDocument, TBodyAdmission::Keep},
    {"vm-trash", TrashDocument, TBodyAdmission::SmallForm},
    {"vm-rename", RenameDocument, TBodyAdmission::SmallForm},
    {"vm-mkdir", NewFolderDocument, TBodyAdmission::SmallForm},
    // Resumable uploads: each chunk goes from the socket straight into its partial file.
    {kChunkDocument, AnswerChunkRequest, TBodyAdmission::Handler},
    {"vm-view", AnswerViewDocument, TBodyAdmission::Discard},
    {"vm-thumb", AnswerThumbnailDocument, TBodyAdmission::Discard},
    {"vm-picture", AnswerPictureDocument, TBodyAdmission::Discard},
    {"vm-facts", AnswerVideoFactsDocument, TBodyAdmission::Discard},
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
