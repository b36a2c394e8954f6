// A program folder and a configuration home under /tmp for one test, removed afterwards.
#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>

namespace vm::uitest {

class TTestFolder {
 public:
  TTestFolder() : root_(QDir::tempPath() + "/velmarind-ui-XXXXXX") {
    QDir(root_.path()).mkpath("app/page");
    QDir(root_.path()).mkpath("config");
    qputenv("XDG_CONFIG_HOME", (root_.path() + "/config").toUtf8());
  }
  // The program folder, ending in "/".
  std::string ProgramFolder() const { return (root_.path() + "/app/").toStdString(); }
  QString File(const QString& name) const { return root_.path() + "/app/" + name; }
  QString AutostartFile() const { return root_.path() + "/config/autostart/velmarind.desktop"; }

  // Creates a folder (native name bytes) outside the program folder; its path, no final "/".
  std::string Folder(const std::string& name) const {
    const std::string path = root_.path().toStdString() + "/" + name;
    mkdir(path.c_str(), 0755);
    return path;
  }
  // The same path as a widget shows it (for UTF-8 names).
  QString FolderText(const std::string& name) const { return QString::fromStdString(Folder(name)); }

  void Write(const QString& name, const QByteArray& bytes) const {
    QFile file(File(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
  }
  QByteArray Read(const QString& name) const {
    QFile file(File(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

 private:
  QTemporaryDir root_;
};

}  // namespace vm::uitest
