// The settings window's 接続 tab: the browsers seen in the last hour, what each asked for last,
// whether it is admitted, and its transfers with their progress; a button ends every admission.
#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace vm {

class TMainState;

class TClientsTab : public QWidget {
  Q_OBJECT

 public:
  // Shows the record of state (which outlives the tab).
  explicit TClientsTab(TMainState& state, QWidget* parent = nullptr);

  // One row per client: address, time of the last request, the request, admission; each
  // running transfer a row below its client: its kind, then the file's name and the bytes so
  // far of the total.
  QTreeWidget* ClientList = nullptr;
  QPushButton* RevokeButton = nullptr;  // "ログインをすべて取り消す"

  // Reads the record again; done every second while the tab is shown.
  void Refresh();

 public slots:
  // Ends every admission: each browser must log in again.
  void RevokeButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void RetranslateUi();

  TMainState& state_;
  QLabel* caption_ = nullptr;
  QTimer refreshTimer_;
};

// "1.5 MB / 4.0 MB (37%)", or only the bytes so far while the total is unknown.
QString TransferProgressText(int64_t done, int64_t total);

}  // namespace vm
