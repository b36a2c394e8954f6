// The resident main window: never shown, it owns the core (state and server), the tray icon and
// its menu, and opens the settings window.
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "desktop/language_switch.h"
#include "desktop/single_instance.h"
#include "server/form_hide_core.h"
#include "ui/form_set_host.h"

class QAction;
class QMenu;

namespace vm {

class TFormQr;
class TFormSet;
class TTaTrayIcon;

class TFormHide : public QWidget, public TFormSetHost {
  Q_OBJECT

 public:
  // Tells the user something (an error box by default).
  using TMessenger = std::function<void(const QString& message)>;
  // The answer to "save the edits before ending?".
  enum class TExitChoice { Save, Discard, Cancel };
  using TExitAsker = std::function<TExitChoice(QWidget* parent)>;

  // programFolder empty: the folder of the executable. The icon shows at once; trayIcon, when
  // given, stands in for the program's own icon (tests) and is owned from then on.
  explicit TFormHide(std::string programFolder = "", TTaTrayIcon* trayIcon = nullptr);
  ~TFormHide() override;

  // The creation handler: settings, language and server. A failure (a port in use) and a
  // program folder that cannot be written are told in one message; the program stays in the
  // tray with its settings loaded, and its tip says whether it serves.
  void FormCreate();
  void SetMessenger(TMessenger messenger) { messenger_ = std::move(messenger); }
  void SetExitAsker(TExitAsker asker) { exitAsker_ = std::move(asker); }
  // The settings window that the menu and the double click open. Without a tray it is the
  // only way back into the program: it then minimises instead of hiding.
  void SetSettingsWindow(TFormSet* formSet);
  // True while a tray holds the icon.
  bool TrayPresent() const;
  // At start: the settings window opens when asked for, and always when there is no tray to
  // hold the icon (it is the way into the program then, even with "-j").
  void OpenSettingsAtStart(bool asked);

  TFormHideCore& Core() { return core_; }
  QMenu* PopupMenu1 = nullptr;
  QAction* S1 = nullptr;     // "設定(&S)", the first item
  QAction* URLU1 = nullptr;  // "URL(&U)"
  QAction* QR1 = nullptr;    // "QRコード(&Q)": this PC's address as a QR code, in a window
  QAction* Exit1 = nullptr;  // "終了(&F)", the last item, after a separator: far from the pointer
  // Between URLU1 and Exit1: the URL of each address and the URL by name; a click copies one.
  QList<QAction*> UrlItems;
  TTaTrayIcon* TaTrayIcon1 = nullptr;

  // TFormSetHost
  TMainState& State() override { return core_.State(); }
  void StoreSettings(const TStoredSettings& edited) override;
  std::string NotServingReason() const override { return core_.NotServingReason(); }
  std::vector<std::string> LocalAddresses() const override { return core_.LocalAddresses(); }
  void FollowAddresses() override;
  TStoredSettings SettingsInForce() override { return core_.SettingsInForce(); }
  // Opens the start page; says so when no browser could be started.
  void URLU1Click() override;
  void CloseMainWindow() override { close(); }

 public slots:
  // Ends the program; unsaved edits in the open settings window are saved, dropped or kept
  // (the program goes on) as the user answers.
  void Exit1Click();
  // Shows the settings window, restored when it was minimised, and raised.
  void S1Click();
  void TaTrayIcon1DblClick() { S1Click(); }
  // A single click opens the settings window too: a tray shows no menu on a left click.
  void TaTrayIcon1Click() { S1Click(); }
  // Shows the QR code window with the URL of the first address (raised when it is open).
  void QR1Click();
  // The URLs of the menu and of the settings window, as the addresses and the name are now.
  void ShowUrls();
  // Carries out what a start asked for (this one's, or a later start's): the settings window,
  // the start page, or the end of the program.
  void RunStartCommand(vm::TStartCommand command);
  // Tells the person at the desktop what a browser changed in a shared folder.
  void ShowShareNotice(const TShareChange& change);
  // A click on a notice opens the folder it told of.
  void NoticeClicked();

 protected:
  // Closing the main window ends the program: the close handler runs, then the event loop ends.
  void closeEvent(QCloseEvent* event) override;
  // A change of language: the menu and the tip again.
  void changeEvent(QEvent* event) override;

 private:
  void CreateMenu();
  void RetranslateMenu();
  // The tip: the address while serving, else that nothing is served and why.
  void UpdateTrayTip();
  // The tip and the URLs of the menu and the window.
  void ShowServingState();
  // Opens with the desktop, and watches the opener to tell when it fails.
  void Open(const std::string& systemPath, const std::string& label);
  void WatchOpeners();

  // What connection threads post notices through: it forgets the window, under its lock,
  // before the window goes, so that no thread posts to a window being destroyed.
  struct TNoticeRelay {
    std::mutex lock;
    TFormHide* form;  // guarded by lock; null once the window goes
  };

  std::shared_ptr<TNoticeRelay> noticeRelay_;
  TFormHideCore core_;
  // The windows' language, from the settings (at start and after each OK).
  TLanguageSwitch language_;
  TFormSet* formSet_ = nullptr;
  TFormQr* formQr_ = nullptr;  // made on first use; a window of its own, deleted with this one
  bool closed_ = false;
  TMessenger messenger_;
  TExitAsker exitAsker_;
  QTimer openerWatch_;
  QAction* exitSeparator_ = nullptr;  // before Exit1; the URLs go above it
  std::string noticeFolder_;  // the folder of the last notice, system text
};

}  // namespace vm
