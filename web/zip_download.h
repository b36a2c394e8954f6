// Folders and selections downloaded as one zip archive ("vm-zip"), streamed as it is made.
#pragma once

#include "web/extra_documents.h"

namespace vm {

// Answers "vm-zip" (GET or HEAD with the selection in the query, or POST with it as a form
// body): the folder "dir", or the entries "items" of it, as one stored zip archive. Every member
// is opened through a checked descriptor and lies inside a share that allows downloading;
// links are followed only inside such shares. The archive's length is announced; a file that
// changes size while it is sent ends the connection before the central directory, so that the
// download is seen as broken.
void ZipDocument(TDocumentCall& call);

}  // namespace vm
