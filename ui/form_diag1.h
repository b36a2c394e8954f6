// The shared-folder dialog: a display name and a folder path, typed or picked.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace vm {

class TFormDiag1 : public QDialog {
  Q_OBJECT

 public:
  // Asks the user for a folder, starting at start; returns "" when cancelled.
  using TFolderPicker =
      std::function<QString(QWidget* parent, const QString& title, const QString& start)>;
  // Shows a refusal to the user (a warning box by default).
  using TWarner = std::function<void(QWidget* parent, const QString& message)>;

  explicit TFormDiag1(QWidget* parent = nullptr);

  // The edits keep their text from one showing to the next; the settings window empties them
  // for a new folder (SetFolder).
  QLineEdit* Edit1 = nullptr;  // display name
  QLineEdit* Edit2 = nullptr;  // folder path
  QPushButton* Button1 = nullptr;  // "OK", the default button: Enter
  QPushButton* Button2 = nullptr;  // "Cancel", like Escape and the close box
  QPushButton* Button3 = nullptr;  // "..."

  // Replaces the folder picker (the Qt folder dialog by default).
  void SetFolderPicker(TFolderPicker picker) { picker_ = std::move(picker); }
  void SetWarner(TWarner warner) { warner_ = std::move(warner); }

  // Fills the edits with a shared folder (system texts). A text left as shown is given back
  // with its bytes, also bytes that show as replacement characters.
  void SetFolder(const std::string& name, const std::string& path);
  // The names of the other shared folders (system texts), which this one may not take.
  void SetTakenNames(std::vector<std::string> names) { takenNames_ = std::move(names); }
  // The trimmed name and path as system texts.
  std::string FolderName() const;
  std::string FolderPath() const;
  // Why the input cannot be a shared folder, or nothing when it can.
  std::optional<QString> FindInputProblem() const;

 public slots:
  // "OK": closes the dialog with OK when the input is usable; otherwise says why and stays.
  void Button1Click();
  // "...": picks a folder, starting at the typed one or the home folder; a picked path gets a
  // final "/" and replaces Edit2.
  void Button3Click();

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  // Every caption in the language installed now (also on a change of language).
  void RetranslateUi();
  QLabel* label1_ = nullptr;  // "名前"
  QLabel* label2_ = nullptr;  // "Path"
  TFolderPicker picker_;
  TWarner warner_;
  std::vector<std::string> takenNames_;
  // What SetFolder showed, and the bytes behind it.
  QString shownName_;
  QString shownPath_;
  std::string nameBytes_;
  std::string pathBytes_;
};

// The folder picker's answer as it goes into the path edit: "" (cancelled) stays "", any other
// path ends in "/".
QString PickedFolderText(const QString& picked);

}  // namespace vm
