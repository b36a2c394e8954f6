// A tray icon that stands in for the desktop's tray: present or not as the test says, and
// recording the notices it is asked to show.
#pragma once

#include <QString>
#include <QStringList>

#include "desktop/ta_tray_icon.h"

namespace vm::uitest {

class TFakeTray : public TTaTrayIcon {
 public:
  explicit TFakeTray(bool present) : present_(present) {}

  bool HostPresent() const override { return present_; }
  // Records every call, tray or not: whether to call is the caller's decision.
  void ShowNotice(const QString& title, const QString& text, const QString& action) override {
    Notices << title + ": " + text;
    Actions << action;
  }
  // The tray host comes or goes, as the icon's watch would see it.
  void SetPresent(bool present) {
    present_ = present;
    emit HostPresenceChanged(present);
  }

  QStringList Notices;
  QStringList Actions;  // the action offered with each notice

 private:
  bool present_;
};

}  // namespace vm::uitest
