// Files shown in the browser rather than saved: the viewer's document and the gallery's
// thumbnails. Both name the file as a download does ("file" = hex of the system path) and admit
// exactly what a download admits.
#pragma once

#include "web/extra_documents.h"

namespace vm {

// The file itself, under its real type, inline, answering byte ranges. Nothing is ever live:
// only the kinds of web/view_types.h are served, markup as plain text, each answer sandboxed.
void AnswerViewDocument(TDocumentCall& call);
// The image's thumbnail, from the source attached to the server; 415 when the image cannot be
// shown small, 503 when too many wait.
void AnswerThumbnailDocument(TDocumentCall& call);

}  // namespace vm
