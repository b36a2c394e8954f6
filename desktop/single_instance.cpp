#include "desktop/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <cstring>

namespace vm {
namespace {

const char kLockName[] = "velmarind.lock";
const char kSocketName[] = "velmarind.socket";
// The words on the socket: one line per start, answered with kDone.
const char kShowWord[] = "show";
const char kSettingsWord[] = "settings";
const char kOpenUrlWord[] = "open-url";
const char kQuitWord[] = "quit";
const char kDone[] = "ok\n";
// Longer than any command line: a peer that sends more is not a start of ours.
const int kMaxCommandBytes = 64;
// A start hands over its command within this time, or gives up: the instance may itself be
// starting (it holds the lock before it listens), so connecting is tried again meanwhile.
const int kForwardMilliseconds = 5000;
const int kRetryMilliseconds = 100;
// A connection that has not sent its line by then is dropped.
const int kReceiveMilliseconds = 2000;

const char* WordOf(TStartCommand command) {
  switch (command) {
    case TStartCommand::Settings:
      return kSettingsWord;
    case TStartCommand::OpenUrl:
      return kOpenUrlWord;
    case TStartCommand::Quit:
      return kQuitWord;
    case TStartCommand::ShowSettings:
    case TStartCommand::IconOnly:
      break;
  }
  return kShowWord;
}

bool CommandOfWord(const QByteArray& word, TStartCommand& command) {
  for (TStartCommand known : {TStartCommand::ShowSettings, TStartCommand::Settings,
                              TStartCommand::OpenUrl, TStartCommand::Quit}) {
    if (word == WordOf(known)) {
      command = known;
      return true;
    }
  }
  return false;
}

}  // namespace

TStartCommand StartCommandOf(int argc, char** argv) {
  if (argc <= 1) return TStartCommand::ShowSettings;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--settings") == 0) return TStartCommand::Settings;
    if (std::strcmp(argv[i], "--open-url") == 0) return TStartCommand::OpenUrl;
    if (std::strcmp(argv[i], "--quit") == 0) return TStartCommand::Quit;
  }
  return TStartCommand::IconOnly;
}

TInstanceChannel::TInstanceChannel(QString folder, QObject* parent)
    : QObject(parent), folder_(std::move(folder)) {
  // The runtime folder is the user's own (mode 0700), so the socket is reachable by no one else.
  if (folder_.isEmpty()) {
    folder_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  }
  // Qt gives none when the runtime folder is not the user's alone: a folder of the user's own
  // under the temporary folder then.
  if (folder_.isEmpty()) {
    folder_ = QDir::tempPath() + QStringLiteral("/velmarind-%1").arg(getuid());
    QDir().mkpath(folder_);
    QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &TInstanceChannel::Accept);
}

TInstanceChannel::~TInstanceChannel() {
  server_.close();
  if (lockFd_ >= 0) close(lockFd_);
}

QString TInstanceChannel::LockPath() const { return folder_ + "/" + kLockName; }
QString TInstanceChannel::SocketPath() const { return folder_ + "/" + kSocketName; }

bool TInstanceChannel::Claim() {
  QDir().mkpath(folder_);
  // A folder that another user could change is no place for our socket: run alone instead.
  const QFileInfo folder(folder_);
  if (folder.isSymLink() || folder.ownerId() != getuid()) return true;
  const QByteArray lockPath = QFile::encodeName(LockPath());
  const int fd = open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // Without a lock file nothing can be told apart: run as the only instance.
  if (fd < 0) return true;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  lockFd_ = fd;
  // Whatever socket is there was left by a run that ended: the lock was free.
  QLocalServer::removeServer(SocketPath());
  server_.listen(SocketPath());
  return true;
}

bool TInstanceChannel::Forward(TStartCommand command) {
  QElapsedTimer elapsed;
  elapsed.start();
  const QByteArray line = QByteArray(WordOf(command)) + "\n";
  while (elapsed.elapsed() < kForwardMilliseconds) {
    QLocalSocket socket;
    socket.connectToServer(SocketPath());
    if (socket.waitForConnected(kRetryMilliseconds * 5)) {
      socket.write(line);
      if (!socket.waitForBytesWritten(kReceiveMilliseconds)) return false;
      // The answer says that the instance has the command; it acts on it in its own time.
      while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kReceiveMilliseconds)) return false;
      }
      return socket.readLine() == kDone;
    }
    QThread::msleep(kRetryMilliseconds);
  }
  return false;
}

void TInstanceChannel::Accept() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kReceiveMilliseconds, socket, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxCommandBytes) socket->abort();
        return;
      }
      const QByteArray word = socket->readLine(kMaxCommandBytes).trimmed();
      TStartCommand command;
      if (!CommandOfWord(word, command)) {
        socket->abort();
        return;
      }
      // Sent before the command runs: "quit" ends this process before the event loop would.
      socket->write(kDone);
      socket->flush();
      socket->disconnectFromServer();
      emit CommandReceived(command);
    });
  }
}

}  // namespace vm
