#include "ui/clients_tab.h"

#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "state/main_state.h"
#include "ui/qt_text.h"

namespace vm {
namespace {

// Often enough for a progress to move visibly, rarely enough to cost nothing.
const int kRefreshMilliseconds = 1000;
const int kAddressColumnWidth = 110;
const int kTimeColumnWidth = 70;
// Wide enough for a file's name with its bytes so far and in all; the last column (logged in,
// and a transfer's percentage) needs little.
const int kRequestColumnWidth = 260;
enum TColumn { kAddressColumn, kTimeColumn, kRequestColumn, kAdmittedColumn };
// Where a client row keeps its address, to find it again at the next refresh.
const int kAddressRole = Qt::UserRole;

QString SizeText(int64_t bytes) {
  return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

}  // namespace

QString TransferProgressText(int64_t done, int64_t total) {
  if (total < 0) return SizeText(done);
  const int percent =
      total > 0 ? static_cast<int>(std::min<int64_t>(done, total) * 100 / total) : 100;
  return QStringLiteral("%1 / %2 (%3%)").arg(SizeText(done), SizeText(total)).arg(percent);
}

TClientsTab::TClientsTab(TMainState& state, QWidget* parent) : QWidget(parent), state_(state) {
  caption_ = new QLabel(this);
  caption_->setWordWrap(true);
  ClientList = new QTreeWidget(this);
  ClientList->setColumnCount(4);
  ClientList->setColumnWidth(kAddressColumn, kAddressColumnWidth);
  ClientList->setColumnWidth(kTimeColumn, kTimeColumnWidth);
  ClientList->setColumnWidth(kRequestColumn, kRequestColumnWidth);
  ClientList->setSelectionMode(QAbstractItemView::NoSelection);
  ClientList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ClientList->setItemsExpandable(false);
  RevokeButton = new QPushButton(this);
  RevokeButton->setAutoDefault(false);
  connect(RevokeButton, &QPushButton::clicked, this, &TClientsTab::RevokeButtonClick);
  connect(&refreshTimer_, &QTimer::timeout, this, &TClientsTab::Refresh);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(RevokeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption_);
  layout->addWidget(ClientList, 1);
  layout->addLayout(buttons);
  RetranslateUi();
}

void TClientsTab::RetranslateUi() {
  caption_->setText(tr("この1時間にアクセスしたブラウザと、転送中のファイル"));
  ClientList->setHeaderLabels({tr("アドレス"), tr("時刻"), tr("リクエスト"), tr("ログイン")});
  RevokeButton->setText(tr("ログインをすべて取り消す"));
  RevokeButton->setToolTip(
      tr("ログインしたブラウザはすべて、もう一度パスワードの入力が必要になります。"));
  Refresh();
}

void TClientsTab::Refresh() {
  const bool passwordRequired = state_.Settings().PassFlag;
  const std::vector<TClientView> clients = state_.Clients().Clients();
  // Rows are updated in place, so that the list does not jump under the reader's eyes.
  for (int i = ClientList->topLevelItemCount() - 1; i >= 0; --i) {
    const std::string address =
        ClientList->topLevelItem(i)->data(kAddressColumn, kAddressRole).toByteArray().toStdString();
    const bool seen = std::any_of(clients.begin(), clients.end(),
                                  [&](const TClientView& c) { return c.Address == address; });
    if (!seen) delete ClientList->takeTopLevelItem(i);
  }
  for (size_t index = 0; index < clients.size(); ++index) {
    const TClientView& client = clients[index];
    const QByteArray key = QByteArray::fromStdString(client.Address);
    QTreeWidgetItem* row = nullptr;
    for (int i = 0; i < ClientList->topLevelItemCount() && !row; ++i) {
      if (ClientList->topLevelItem(i)->data(kAddressColumn, kAddressRole).toByteArray() == key) {
        row = ClientList->topLevelItem(i);
      }
    }
    if (!row) {
      row = new QTreeWidgetItem;
      row->setData(kAddressColumn, kAddressRole, key);
    } else {
      ClientList->takeTopLevelItem(ClientList->indexOfTopLevelItem(row));
    }
    ClientList->insertTopLevelItem(static_cast<int>(index), row);
    row->setText(kAddressColumn, QString::fromStdString(client.Address));
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(client.LastSeen.time_since_epoch())
            .count();
    row->setText(kTimeColumn,
                 QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("HH:mm:ss")));
    row->setText(kRequestColumn, SystemToQString(client.LastRequest));
    row->setToolTip(kRequestColumn, row->text(kRequestColumn));
    const std::optional<TAdmission> admission = state_.AdmissionOf(client.Address);
    row->setText(kAdmittedColumn, !passwordRequired                   ? tr("不要")
                                  : !admission                        ? tr("未")
                                  : *admission == TAdmission::Scan    ? tr("済み（QRコード）")
                                                                      : tr("済み"));
    qDeleteAll(row->takeChildren());
    for (const TTransferView& transfer : client.Transfers) {
      auto* child = new QTreeWidgetItem(row);
      child->setText(kAddressColumn, transfer.Kind == TTransferKind::Download ? tr("ダウンロード")
                                                                              : tr("アップロード"));
      const QString progress = TransferProgressText(transfer.Done, transfer.Total);
      child->setText(kRequestColumn, transfer.Name.empty()
                                         ? progress
                                         : SystemToQString(transfer.Name) + "  " + progress);
      child->setToolTip(kRequestColumn, child->text(kRequestColumn));
      if (transfer.Total > 0) {
        child->setText(kAdmittedColumn, QStringLiteral("%1%").arg(std::min<int64_t>(
                                            100, transfer.Done * 100 / transfer.Total)));
      }
    }
    row->setExpanded(true);
  }
  RevokeButton->setEnabled(!state_.AdmittedClients().empty());
}

void TClientsTab::RevokeButtonClick() {
  state_.RevokeAdmissions();
  Refresh();
}

void TClientsTab::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
  refreshTimer_.start(kRefreshMilliseconds);
}

void TClientsTab::hideEvent(QHideEvent* event) {
  refreshTimer_.stop();
  QWidget::hideEvent(event);
}

void TClientsTab::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
  QWidget::changeEvent(event);
}

}  // namespace vm
