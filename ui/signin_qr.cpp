#include "ui/signin_qr.h"

#include <QEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>
#include <optional>

#include "state/main_state.h"
#include "state/signin_tokens.h"
#include "ui/qr_code.h"

namespace vm {
namespace {

// The countdown moves in seconds; a code used on the phone is replaced within this time too.
const int kTickMilliseconds = 1000;

}  // namespace

TSignInQr::TSignInQr(TMainState& state, int modulePixels, QWidget* parent)
    : QWidget(parent), state_(state), modulePixels_(modulePixels) {
  Code = new QLabel(this);
  Code->setAlignment(Qt::AlignCenter);
  TimeLeft = new QLabel(this);
  TimeLeft->setAlignment(Qt::AlignCenter);
  NewCode = new QPushButton(this);
  NewCode->setAutoDefault(false);
  connect(NewCode, &QPushButton::clicked, this, [this] {
    state_.SignInTokens().Renew();
    Refresh();
  });
  connect(&tick_, &QTimer::timeout, this, &TSignInQr::Refresh);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Code, 1);
  layout->addWidget(TimeLeft);
  layout->addWidget(NewCode, 0, Qt::AlignHCenter);
  Refresh();
}

void TSignInQr::SetUrl(const QByteArray& baseUrl) {
  baseUrl_ = baseUrl;
  Refresh();
}

void TSignInQr::Refresh() {
  const TSettings settings = state_.Settings();
  const bool signsIn =
      !baseUrl_.isEmpty() && settings.PassFlag && settings.QrSignIn && QrCodeAvailable();
  std::optional<TSignInCode> code;
  // Only a code someone can see is made.
  if (signsIn && isVisible()) code = state_.SignInTokens().Current();
  const QByteArray text =
      code ? QByteArray::fromStdString(SignInUrl(baseUrl_.toStdString(), code->Token)) : baseUrl_;
  if (text != shown_) {
    shown_ = text;
    if (text.isEmpty() || !QrCodeAvailable()) {
      Code->clear();
    } else {
      Code->setPixmap(QPixmap::fromImage(MakeQrImage(text, modulePixels_)));
    }
  }
  // Room for a code with a sign-in code and the lines below it before the window is shown: a
  // layout that grows while shown squeezes them over each other.
  const QByteArray largest =
      signsIn ? QByteArray::fromStdString(SignInUrl(
                    baseUrl_.toStdString(), std::string(2 * TSignInTokens::kTokenBytes, '0')))
              : baseUrl_;
  if (largest != sizedFor_) {
    sizedFor_ = largest;
    Code->setMinimumSize(largest.isEmpty() || !QrCodeAvailable()
                             ? QSize()
                             : MakeQrImage(largest, modulePixels_).size());
  }
  TimeLeft->setVisible(signsIn);
  NewCode->setVisible(signsIn);
  NewCode->setText(tr("新しいコード"));
  NewCode->setToolTip(tr("表示中のコードを使えなくして、新しいコードを作ります。"));
  const long long seconds =
      code ? std::max<long long>(std::chrono::ceil<std::chrono::seconds>(
                                     code->Expires - std::chrono::steady_clock::now())
                                     .count(),
                                 0)
           : settings.SignInValidity.count();
  // Two lines of their own, not wrapped: a wrapped label is given the height of one line.
  TimeLeft->setText(
      tr("パスワードなしで1回ログインできるコード") + QLatin1Char('\n') +
      tr("有効期限: あと %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0')));
  if (!code) {
    tick_.stop();
  } else if (!tick_.isActive()) {
    tick_.start(kTickMilliseconds);
  }
}

void TSignInQr::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
}

void TSignInQr::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  tick_.stop();
}

void TSignInQr::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) Refresh();
  QWidget::changeEvent(event);
}

}  // namespace vm
