#pragma once
// What tests start outside their own process: the built programs, and TCP ports for servers
// that a test configures by number (the window's controller and share servers, the stand-in
// site) while test programs run in parallel.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QString>
#include <QTcpServer>
#include <fstream>
#include <stdexcept>
#include <string>

namespace aqled::testing {

// The built program `name` ("aqled", "aqled-cardsim", ...): in the folder AQLED_BIN_DIR names
// when it holds one, else in the program folder of the build these tests belong to.
inline QString BuiltProgram(const QString& name) {
  const QString dir = qEnvironmentVariable("AQLED_BIN_DIR");
  if (!dir.isEmpty() && QFile::exists(QDir(dir).filePath(name))) return QDir(dir).filePath(name);
  return QDir(QStringLiteral(AQLED_BUILD_BIN_DIR)).filePath(name);
}

// A TCP port that stays this test program's own: taken below the system's range of ephemeral
// ports (so no connection's own end and no server asking for port 0 gets it), held by a lock
// file in the user's folder of locks under the temporary folder for the rest of the program's
// life (so a test program running beside this one never gets the same number), and free on
// every address when handed out, as the controller server listens there. Never the same port
// twice in one program, so a port an earlier test's connections still hold in TIME_WAIT is not
// handed out again.
inline quint16 FreePort() {
  constexpr int kLowest = 20000;
  static int highest = [] {
    int low = 32768, high = 60999;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low >> high;
    return low > kLowest + 1000 ? low - 1 : kLowest + 9999;
  }();
  static int next = kLowest + static_cast<int>(::getpid() * 7919L % (highest - kLowest));
  // One folder a user: another user's folder (root's, say) is not writable.
  const QString folder = QDir::temp().filePath(QStringLiteral("aqled-test-ports-%1").arg(::getuid()));
  QDir().mkpath(folder);
  for (int tries = 0; tries <= highest - kLowest; ++tries) {
    const int port = next;
    next = next >= highest ? kLowest : next + 1;
    const QByteArray lockPath = QDir(folder).filePath(QString::number(port)).toLocal8Bit();
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock < 0) continue;
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
      ::close(lock);
      continue;
    }
    QTcpServer probe;
    if (probe.listen(QHostAddress::Any, static_cast<quint16>(port))) {
      return static_cast<quint16>(port);  // the lock stays held until the program ends
    }
    ::close(lock);
  }
  throw std::runtime_error("no free test port left");
}

}  // namespace aqled::testing
