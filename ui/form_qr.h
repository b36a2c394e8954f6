// The QR code window the tray menu opens: this PC's address for a phone to scan, with a
// one-time sign-in code while a password is required. The address itself is shown below it,
// as typed into a PC's browser (never with a code).
#pragma once

#include <QByteArray>
#include <QWidget>

class QLabel;

namespace vm {

class TMainState;
class TSignInQr;

class TFormQr : public QWidget {
  Q_OBJECT

 public:
  explicit TFormQr(TMainState& state, QWidget* parent = nullptr);

  TSignInQr* SignInQr = nullptr;
  QLabel* UrlLine = nullptr;  // the address, or that nothing is served

  // The code of url (a base URL); empty: nothing is served, which the window says.
  void ShowUrl(const QByteArray& url);

 protected:
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void RetranslateUi();

  QLabel* caption_ = nullptr;
  QByteArray url_;
};

}  // namespace vm
