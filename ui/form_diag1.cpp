#include "ui/form_diag1.h"

#include "ui/handler_guard.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vm {
namespace {

const int kWidth = 360;
const int kHeight = 200;
const int kNameEditWidth = 125;
const int kPathEditWidth = 280;
const int kPanelHeight = 45;

QString PickWithQtDialog(QWidget* parent, const QString& title) {
  return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
}

}  // namespace

QString PickedFolderText(const QString& picked) {
  if (picked.isEmpty() || picked.endsWith(QLatin1Char('/'))) return picked;
  return picked + QLatin1Char('/');
}

TFormDiag1::TFormDiag1(QWidget* parent) : QDialog(parent), picker_(PickWithQtDialog) {
  setWindowTitle(QStringLiteral("選択"));
  CreateControls();
  resize(kWidth, kHeight);
  CenterOnScreen(this);
}

void TFormDiag1::CreateControls() {
  auto* label1 = new QLabel(QStringLiteral("名前"), this);
  Edit1 = new QLineEdit(this);
  Edit1->setFixedWidth(kNameEditWidth);
  auto* label2 = new QLabel(QStringLiteral("Path"), this);
  Edit2 = new QLineEdit(this);
  Edit2->setMinimumWidth(kPathEditWidth);
  Button3 = new QPushButton(QStringLiteral("..."), this);
  Button3->setFixedWidth(Button3->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);

  auto* panel1 = new QWidget(this);
  panel1->setFixedHeight(kPanelHeight);
  Button2 = new QPushButton(QStringLiteral("Cancel"), panel1);
  Button1 = new QPushButton(QStringLiteral("OK"), panel1);
  // Neither button is a default button: Enter in an edit does not close the dialog.
  for (QPushButton* button : {Button1, Button2, Button3}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  auto* panelLayout = new QHBoxLayout(panel1);
  panelLayout->addWidget(Button2);
  panelLayout->addStretch();
  panelLayout->addWidget(Button1);

  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(Edit2, 1);
  pathRow->addWidget(Button3);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label1);
  layout->addWidget(Edit1, 0, Qt::AlignLeft);
  layout->addWidget(label2);
  layout->addLayout(pathRow);
  layout->addStretch();
  layout->addWidget(panel1);

  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Edit1);
  setTabOrder(Edit1, Edit2);
  setTabOrder(Edit2, Button3);

  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  connect(Button3, &QPushButton::clicked, this, &TFormDiag1::Button3Click);
}

void TFormDiag1::Button3Click() {
  QString path = PickedFolderText(picker_(this, QStringLiteral("フォルダを選択してください")));
  // Cancelling the picker leaves a typed path alone.
  if (!path.isEmpty()) Edit2->setText(path);
}

void TFormDiag1::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void TFormDiag1::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Typing starts in the name; the buttons still come first in the tab order.
  Edit1->setFocus(Qt::OtherFocusReason);
}

}  // namespace vm
