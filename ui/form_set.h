// The settings window: shared folders, password, port, start at log-in, other host names.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "state/stored_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace vm {

class TClientsTab;
class TFormDiag1;
class TFormSetHost;
class TSignInQr;

class TFormSet : public QWidget {
  Q_OBJECT

 public:
  // Shows a refusal to the user (a warning box by default).
  using TWarner = std::function<void(QWidget* parent, const QString& message)>;
  // The answer to "save the edits before closing?".
  enum class TCloseChoice { Save, Discard, KeepEditing };
  using TCloseAsker = std::function<TCloseChoice(QWidget* parent)>;

  // What OK came to.
  enum class TStoreOutcome {
    Stored,    // saved and applied
    Refused,   // unusable input, or a port that cannot be had: nothing saved, the window stays
    NotSaved,  // a file could not be written: nothing saved
  };

  TFormSet(TFormSetHost& host, TFormDiag1& diag, QWidget* parent = nullptr);

  QTabWidget* PageControl1 = nullptr;
  QTreeWidget* ListView1 = nullptr;  // columns "名前", "パス" and "権限" (a choice per row)
  QPushButton* Button5 = nullptr;    // "追加"
  QPushButton* Button6 = nullptr;    // "編集"
  QPushButton* Button7 = nullptr;    // "削除"
  QPushButton* Button8 = nullptr;    // "上へ"
  QPushButton* Button9 = nullptr;    // "下へ"
  QCheckBox* CheckBox3 = nullptr;    // publish names starting with "."
  QCheckBox* CheckBox4 = nullptr;    // uploads keep the browser's file name
  QCheckBox* CheckBox1 = nullptr;    // password required
  QLineEdit* Edit1 = nullptr;        // password, masked; enabled while CheckBox1 is ticked
  QCheckBox* CheckBox2 = nullptr;    // start at log-in
  QLineEdit* Edit2 = nullptr;        // HTTP port
  QLineEdit* Edit3 = nullptr;        // other host names of this computer, comma-separated
  QComboBox* ComboLanguage = nullptr;  // the windows' language: 自動 / 日本語 / English
  QListWidget* AddressList = nullptr;  // the URL of each address, then the URL by name
  QLabel* NameLine = nullptr;          // why no URL by name is listed, when there is none
  QComboBox* DavAddresses = nullptr;   // the file managers' address of each kind (WebDAV)
  QPushButton* DavCopy = nullptr;      // copies the one chosen
  TClientsTab* ClientsTab = nullptr;   // the browsers seen lately
  QLabel* Label5 = nullptr;          // base URL, a link; or that nothing is served
  // The URL chosen in AddressList (an IP one) as a QR code (SignInQr's), with a one-time
  // sign-in code while a password is required.
  TSignInQr* SignInQr = nullptr;
  QLabel* QrCode = nullptr;
  QPushButton* Button1 = nullptr;    // "OK", the default: Enter
  QPushButton* Button2 = nullptr;    // "Cancel"
  QPushButton* Button4 = nullptr;    // "URL"
  QPushButton* Button10 = nullptr;   // "閉じる"
  QPushButton* Button3 = nullptr;    // "終了"
  QLabel* StatusLine = nullptr;      // shown only while there is no tray

  // Without a tray this window is the only way back into the program: closing it then
  // minimises it, and the status line says so. With a tray it hides as usual.
  void SetKeepReachable(bool keep);
  bool KeepsReachable() const { return keepReachable_; }

  void SetWarner(TWarner warner) { warner_ = std::move(warner); }
  void SetCloseAsker(TCloseAsker asker) { closeAsker_ = std::move(asker); }

  // The settings the controls hold (call after FindInputProblem found nothing).
  TStoredSettings EditedSettings() const;
  // Why the controls cannot be stored, or nothing when they can.
  std::optional<QString> FindInputProblem() const;
  // Checks, saves and applies what the controls hold; every outcome but Stored is told.
  TStoreOutcome StoreEdits();
  // True while the window is shown with controls changed since it was filled.
  bool HasUnsavedEdits() const;

  // The row's shared folder as system texts.
  static std::string RowName(const QTreeWidgetItem* row);
  static std::string RowPath(const QTreeWidgetItem* row);
  // The mode chosen in the row, and the choice itself.
  TShareMode RowMode(const QTreeWidgetItem* row) const;
  QComboBox* ModeChoice(const QTreeWidgetItem* row) const;

 public slots:
  // Reloads every control from the stored settings, and the address from the main window.
  void FormShow();
  // The address line, the URL list and the QR code, as the state and the network are now
  // (the network name came or went); the URL chosen stays chosen while it is listed.
  void ShowAddress();
  // OK: stores (StoreEdits) and hides the window; false, with the window left open, when
  // nothing was stored.
  bool Button1Click();
  // Cancel: hides the window, storing nothing.
  void Button2Click();
  // "終了": stores like OK (when anything changed), then closes the main window; nothing closes
  // when OK refused the input, while a save that failed for the files still ends the program.
  void Button3Click();
  // "URL" and a click on the address: the main window's URL action.
  void Button4Click();
  // Adds a shared folder through the dialog.
  void Button5Click();
  // Edits the selected shared folder through the dialog.
  void Button6Click();
  // Deletes the selected row.
  void Button7Click();
  // Moves the selected row up / down.
  void Button8Click();
  void Button9Click();
  // "閉じる": closes the window; unsaved edits are saved or dropped as the user answers first.
  void Button10Click();
  // Enables the list buttons for the current selection.
  void ListView1SelectItem();

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Every caption and hint in the language installed now (also on a change of language).
  void RetranslateUi();
  // The mode column's choices in the current language.
  void RetranslateModeChoices();
  QWidget* CreateFoldersTab();
  QWidget* CreatePasswordTab();
  QWidget* CreateSystemTab();
  QWidget* CreatePanel1();
  void ConnectHandlers();
  QTreeWidgetItem* SelectedRow() const;
  void SetRow(QTreeWidgetItem* row, const std::string& name, const std::string& path);
  // Gives the row its mode choice (made on the first call).
  void SetRowMode(QTreeWidgetItem* row, TShareMode mode);
  void SwapRows(int upper);
  std::vector<std::string> NamesExcept(const QTreeWidgetItem* row) const;
  // The file managers' addresses for the address chosen in AddressList (none while nothing is
  // served or the door is closed).
  void ShowDavAddresses();
  // The QR code of the URL chosen in AddressList.
  void ShowQrCode();
  QStringList ControlSnapshot() const;
  void Label5MouseMove(int x, int y);
  // Puts the window away: hidden, or minimised with its stored values while it must stay
  // reachable.
  void Dismiss();
  // Asked before edits would be lost: false when the window is to stay as it is.
  bool MayCloseWithEdits();
  // The password tab's note, for the box as it is ticked now.
  void ShowPasswordNote();

  TFormSetHost& host_;
  TFormDiag1& diag_;
  TWarner warner_;
  TCloseAsker closeAsker_;
  QString toldNotSaved_;  // the last "not saved" told: the same one is not told again
  bool keepReachable_ = false;
  bool serving_ = false;       // what the address line shows
  bool networked_ = true;      // the machine has an address besides loopback
  QStringList shownSnapshot_;  // the controls as FormShow filled them
  QLabel* qrCaption_ = nullptr;
  QLabel* label2_ = nullptr;  // the password tab's note
  QLabel* label3_ = nullptr;  // "パスワード："
  QLabel* label4_ = nullptr;  // "HTTP Port ："
  QLabel* label6_ = nullptr;  // other host names
  QLabel* label7_ = nullptr;  // the URLs
  QLabel* label8_ = nullptr;  // the language
  QLabel* davLabel_ = nullptr;  // the file managers' addresses
  QLabel* firstStep_ = nullptr;   // what to do first, while no folder is shared
  QLabel* folderLine_ = nullptr;  // the program folder these settings belong to
};

// The port typed into the system tab: decimal digits (full-width ones too) from 1 to 65535,
// blanks around them ignored; nothing for any other text.
std::optional<int> PortFromText(const QString& text);

}  // namespace vm
