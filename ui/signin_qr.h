// The QR code a phone scans to open the server. While a password is required (and sign-in by
// code is on) it carries a one-time sign-in code, so the phone gets in without the password
// being typed on it; beside it how long the code is valid and a button for a new one. A code is
// made only while the widget is shown, and a new one appears as soon as it is used or expires.
// Otherwise the code is the plain address.
#pragma once

#include <QByteArray>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace vm {

class TMainState;

class TSignInQr : public QWidget {
  Q_OBJECT

 public:
  // Draws codes of state's (which outlives the widget) with modulePixels per module.
  TSignInQr(TMainState& state, int modulePixels, QWidget* parent = nullptr);

  QLabel* Code = nullptr;          // the QR code
  QLabel* TimeLeft = nullptr;      // that the code signs in once, and how long it is valid
  QPushButton* NewCode = nullptr;  // "新しいコード": voids the code shown, shows a new one

  // The address to show (a base URL ending in "/"); empty for none.
  void SetUrl(const QByteArray& baseUrl);
  // What the code carries now: the address, the sign-in URL, or nothing.
  const QByteArray& Shown() const { return shown_; }

 public slots:
  // Follows the settings and the code: draws a new code when the text changed, counts down.
  void Refresh();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  TMainState& state_;
  const int modulePixels_;
  QByteArray baseUrl_;
  QByteArray shown_;
  QByteArray sizedFor_;  // the text whose code Code has room for
  QTimer tick_;          // runs while a sign-in code is shown
};

}  // namespace vm
