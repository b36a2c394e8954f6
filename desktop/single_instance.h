// One desktop instance per user. The first start holds a lock and listens on a local socket in
// the user's runtime folder; a later start hands its command to it there and ends. The lock is
// the kernel's (flock), so a run that crashed leaves nothing that blocks the next start.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace vm {

// What a start asks for, from its command line.
enum class TStartCommand {
  ShowSettings,  // no argument: the settings window
  IconOnly,      // any other argument ("-j" of the log-in start): the icon only
  Settings,      // "--settings" (menu entry action): the settings window
  OpenUrl,       // "--open-url" (menu entry action): the start page in the browser
  Quit,          // "--quit" (menu entry action): end the running program
};

// The command of a start's arguments (argv[0] is the program): see TStartCommand.
TStartCommand StartCommandOf(int argc, char** argv);

class TInstanceChannel : public QObject {
  Q_OBJECT

 public:
  // folder: where the lock and the socket live; empty: the user's runtime folder.
  explicit TInstanceChannel(QString folder = QString(), QObject* parent = nullptr);
  ~TInstanceChannel() override;  // stops listening and lets the lock go

  // Becomes the instance: true when this process now holds the lock and listens (a socket a
  // crashed run left is replaced); false when another instance runs.
  bool Claim();
  // Hands command to the running instance; false when it could not be reached in time.
  bool Forward(TStartCommand command);

 signals:
  // A later start's command, received by the instance.
  void CommandReceived(vm::TStartCommand command);

 private:
  void Accept();
  QString LockPath() const;
  QString SocketPath() const;

  QString folder_;
  int lockFd_ = -1;
  QLocalServer server_;
};

}  // namespace vm
