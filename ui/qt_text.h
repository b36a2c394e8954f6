// The boundary between system texts (Shift_JIS bytes) and the texts that widgets show (QString).
#pragma once

#include <QString>
#include <string>

namespace vm {

// A system text (a name, a path, a setting) for a widget.
QString SystemToQString(const std::string& system);
// A widget's text as system text.
std::string QStringToSystem(const QString& text);
// An exception message (system text) for a message box; a quoted path shows as the file system
// names it, also where parts of it are kept as UTF-8.
QString MessageToQString(const std::string& message);

// Removes characters 0x00-0x20 from both ends, as the system trims its texts (a full-width space
// is kept, as it is in the system's own trimming).
QString TrimControls(const QString& text);

}  // namespace vm
