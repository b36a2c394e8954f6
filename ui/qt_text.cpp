#include "ui/qt_text.h"

#include "platform/fs_names.h"

namespace vm {

QString SystemToQString(const std::string& system) {
  return QString::fromStdString(SystemToDisplayUtf8(system));
}

std::string QStringToSystem(const QString& text) {
  return DisplayUtf8ToSystem(text.toStdString());
}

QString MessageToQString(const std::string& message) {
  // Read piece by piece like a path: a message often quotes one, and a folder name that CP932
  // cannot hold is kept as UTF-8 inside the system text, beside the message's Shift_JIS words.
  return QString::fromStdString(SystemToDisplayUtf8(message));
}

QString TrimControls(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && text.at(begin).unicode() <= 0x20) ++begin;
  while (end > begin && text.at(end - 1).unicode() <= 0x20) --end;
  return text.mid(begin, end - begin);
}

}  // namespace vm
