// Resumable uploads: a large file goes in pieces, each written straight from the connection into
// a hidden partial file at its offset, which takes the file's name only once it is whole.
//
// Every request names the upload by the browser's random id, and the upload itself by its
// folder, name, size and modification time; the server answers how much of the file it holds:
//
//   GET  vm-chunk?op=held&id=..&dirname=..[&dirpath=..]&name=..&size=..&mtime=..
//   POST vm-chunk?op=put&<the same>&offset=..&crc=..   (body: the bytes at offset)
//   POST vm-chunk?op=cancel&<the same>
//
// dirname and dirpath are the hex texts the upload form uses (share name, folder path), name the
// hex of the browser's UTF-8 file name, crc the CRC-32 of the body as 8 hex digits. Each answer
// is plain text and says "X-Velmarind-Held: <bytes>" on success and on a wrong offset (409);
// the chunk that completes the file also says "X-Velmarind-Saved: <hex of the saved name>", and
// so does every later question about that upload. Refusals say "X-Velmarind-Refused: <word>";
// a new upload beyond the partial ones a client (or everyone) may hold is refused with 429.
#pragma once

#include <string_view>

#include "web/extra_documents.h"

namespace vm {

inline constexpr std::string_view kChunkDocument = "vm-chunk";
// A chunk larger than this is refused: the page script sends 8 MiB, and a larger one would
// only be sent again whole after a cut.
inline constexpr int64_t kMaxChunkBytes = int64_t{32} << 20;

// Answers a question, a chunk or a cancel of a resumable upload.
void AnswerChunkRequest(TDocumentCall& call);

// Removes the partial uploads of the program folder that have not grown for kPartialLifetime.
void SweepPartialUploads(const std::string& programFolder);

}  // namespace vm
