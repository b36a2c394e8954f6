// A program folder and a configuration home under /tmp for one test, removed afterwards, in
// the types the widgets take.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>

#include "support/program_folder.h"

namespace vm::uitest {

class TTestFolder {
 public:
  // The program folder, ending in "/".
  std::string ProgramFolder() const { return folder_.Path(); }
  QString File(const QString& name) const { return QString::fromStdString(folder_.Path()) + name; }
  QString AutostartFile() const { return QString::fromStdString(folder_.AutostartFile()); }

  // Creates a folder (native name bytes) beside the program folder; its path, no final "/".
  std::string Folder(const std::string& name) const {
    const std::string path = folder_.MakeFolderBeside(name);
    return path.substr(0, path.size() - 1);
  }
  // The same path as a widget shows it (for UTF-8 names).
  QString FolderText(const std::string& name) const { return QString::fromStdString(Folder(name)); }

  // A file by its name in the program folder ("../bin/x" is one beside it).
  void Write(const QString& name, const QByteArray& bytes) const {
    folder_.Write(name.toStdString(), std::string_view(bytes.constData(), bytes.size()));
  }
  QByteArray Read(const QString& name) const {
    return QByteArray::fromStdString(folder_.Read(name.toStdString()));
  }

 private:
  vmtest::TProgramFolder folder_;
};

}  // namespace vm::uitest
