// The shared-folder dialog: a display name and a folder path, typed or picked.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLineEdit;
class QPushButton;
class QWidget;

namespace vm {

class TFormDiag1 : public QDialog {
  Q_OBJECT

 public:
  // Asks the user for a folder; returns "" when cancelled.
  using TFolderPicker = std::function<QString(QWidget* parent, const QString& title)>;

  explicit TFormDiag1(QWidget* parent = nullptr);

  // The edits are never cleared: they keep their text from one showing to the next.
  QLineEdit* Edit1 = nullptr;  // display name
  QLineEdit* Edit2 = nullptr;  // folder path
  QPushButton* Button1 = nullptr;  // "OK"
  QPushButton* Button2 = nullptr;  // "Cancel"
  QPushButton* Button3 = nullptr;  // "..."

  // Replaces the folder picker (the Qt folder dialog by default).
  void SetFolderPicker(TFolderPicker picker) { picker_ = std::move(picker); }

 public slots:
  // "...": picks a folder; a picked path gets a final "/" and replaces Edit2.
  void Button3Click();

 protected:
  // Escape does nothing, and Enter closes the dialog only through a button that has the focus.
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  TFolderPicker picker_;
};

// The folder picker's answer as it goes into the path edit: "" (cancelled) stays "", any other
// path ends in "/".
QString PickedFolderText(const QString& picked);

}  // namespace vm
