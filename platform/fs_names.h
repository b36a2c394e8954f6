// The file-system name boundary. Texts inside the system are Shift_JIS; names on disk are UTF-8.
//
// A name that CP932 cannot hold (for example "Vidéos") keeps its native UTF-8 bytes inside the
// system. Going back to disk, each path component is tried as Shift_JIS first and, when that
// does not name an existing entry (or cannot be converted), as its own bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vm {

// True when every byte is below 0x80. Both encodings read those bytes alike (CP932 has the
// ASCII letters, digits and signs where UTF-8 has them), so such a text converts to itself
// without iconv: the common case of paths and file names, met on every request and entry.
bool IsAscii(std::string_view text);

// UTF-8 to CP932 (strict); nullopt when some character has no CP932 form or the input is invalid.
std::optional<std::string> Utf8ToShiftJis(std::string_view utf8);
// CP932 to UTF-8 (strict); nullopt for bytes that are not valid CP932.
std::optional<std::string> ShiftJisToUtf8Strict(std::string_view sjis);

// A name or path read from disk, as system text: component by component, CP932 when it can
// hold the component, else the component's own bytes.
std::string NativeToSystem(std::string_view native);
// The folder path with a final "/" added when it lacks one ("" stays ""). "/" (0x2F) is never
// the second byte of a Shift_JIS character, so the last byte decides.
std::string WithFinalSlash(std::string path);

// A system path to the path to use with the file system (see the scheme above).
std::string SystemToNative(std::string_view system);
// The native name to create a new entry under, for one system text component: its CP932
// reading when it has one, else its own bytes, as SystemToNative reads a name not yet on disk.
std::string NewEntryNativeName(std::string_view systemName);
// For display (windows, UTF-8 fields): each component decoded from CP932, or kept as UTF-8.
std::string SystemToDisplayUtf8(std::string_view system);
// From a display text (UTF-8, as typed or picked) to system text.
std::string DisplayUtf8ToSystem(std::string_view utf8);

// The bytes with valid UTF-8 kept and each byte that is not part of it replaced by U+FFFD:
// for showing a name, never for finding it on disk.
std::string ToValidUtf8(std::string_view bytes);

}  // namespace vm
