#include "ui/form_qr.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/qt_text.h"
#include "ui/signin_qr.h"

namespace vm {
namespace {

// Larger than in the settings window: this window is for scanning and nothing else.
const int kModulePixels = 5;

}  // namespace

TFormQr::TFormQr(TMainState& state, QWidget* parent) : QWidget(parent, Qt::Window) {
  caption_ = new QLabel(this);
  caption_->setAlignment(Qt::AlignCenter);
  SignInQr = new TSignInQr(state, kModulePixels, this);
  UrlLine = new QLabel(this);
  UrlLine->setAlignment(Qt::AlignCenter);
  UrlLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption_);
  layout->addWidget(SignInQr, 1);
  layout->addWidget(UrlLine);
  RetranslateUi();
}

void TFormQr::ShowUrl(const QByteArray& url) {
  url_ = url;
  SignInQr->SetUrl(url);
  RetranslateUi();
}

void TFormQr::RetranslateUi() {
  setWindowTitle(tr("Velmarind QRコード"));
  caption_->setText(tr("スマートフォンのカメラで読み取ってください"));
  caption_->setVisible(!url_.isEmpty());
  UrlLine->setText(url_.isEmpty() ? tr("公開していません。") : SystemToQString(url_.toStdString()));
}

void TFormQr::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
  QWidget::changeEvent(event);
}

void TFormQr::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace vm
