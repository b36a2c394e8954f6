// Files shown in the browser rather than saved: the viewer's documents and the gallery's
// thumbnails. Both name the file as a download does ("file" = hex of the system path) and admit
// exactly what a download admits.
#pragma once

#include "web/extra_documents.h"

namespace vm {

// The file itself, under its real type, inline, answering byte ranges. Nothing is ever live:
// only the kinds of web/view_types.h are served, markup as plain text, each answer sandboxed.
void AnswerViewDocument(TDocumentCall& call);
// The thumbnail of an image, a picture or a video (a frame), from the source attached to the
// server; 415 when the file cannot be shown small, 503 when too many wait.
void AnswerThumbnailDocument(TDocumentCall& call);
// A picture (an image browsers cannot show) converted to JPEG or WebP and fitted to the view
// size; the same answers as a thumbnail's.
void AnswerPictureDocument(TDocumentCall& call);
// A video's facts read by the thumbnail program, as JSON (web/video_facts.h), so that the page
// can ask the browser whether it plays the file before it tries; 415 when they cannot be read.
void AnswerVideoFactsDocument(TDocumentCall& call);

}  // namespace vm
