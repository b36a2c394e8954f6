// Managing a share from the browser: entries to the trash ("vm-trash"), an entry renamed
// ("vm-rename"), a new folder ("vm-mkdir"). Each is a POST of a small form, allowed only in a
// share whose mode is full, and acts on the entries of one checked folder descriptor.
//
// Every answer says what happened: 200 with "X-Velmarind-Done: <count>", or a refusal with its
// reason in "X-Velmarind-Refused" (MethodNotAllowed, Foreign, NotFound, NotAllowed, BadName,
// Exists, NoTrash, HoldsShare, CannotWrite), after which nothing more was changed.
#pragma once

#include "web/extra_documents.h"

namespace vm {

// "dir" and "items": moves each item of the folder to the trash, in order, stopping at the
// first that cannot be moved (those moved before stay in the trash).
void TrashDocument(TDocumentCall& call);
// "dir", "from" (the hex system name of the entry) and "to" (the hex of the new name's UTF-8
// bytes): renames within the folder, never over an existing name.
void RenameDocument(TDocumentCall& call);
// "dir" and "name" (hex of the UTF-8 bytes): makes a new folder in the folder.
void NewFolderDocument(TDocumentCall& call);

}  // namespace vm
