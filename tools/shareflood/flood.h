#pragma once
// Loopback floods of the share server, driven by the Qt event loop: the share server in a child
// process (so that its memory can be read apart), idle connections, a request head without an
// end, a huge request body, parallel downloads checked byte for byte, and single requests. Every
// wait is bounded by a deadline; nothing goes to any address but 127.0.0.1. Used by the
// aqled-shareflood tool and by the link tests.

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace aqled::shareflood {

// The resident memory of a process in KiB ("VmRSS" of /proc/<pid>/status), and its peak
// ("VmHWM"); -1 when it cannot be read.
long ResidentKiB(qint64 pid);
long PeakResidentKiB(qint64 pid);

// Settings of a served folder; 0 keeps the server's default.
struct ServeOptions {
  QString folder;                                   // the folder published
  QString httpBaseDir = "http://127.0.0.1/share/";  // the path it is published under
  unsigned idleTimeoutSeconds = 0;
  unsigned requestTimeoutSeconds = 0;
  unsigned maxConnections = 0;  // connections held at once
  QStringList cardAddresses;    // the addresses of logged-in cards
};

// The share server in a child process: `program serve ...` (program: an aqled-shareflood).
class ServerProcess {
 public:
  ~ServerProcess();
  // Starts it on a free loopback port and waits (up to `timeoutMs`) for its port.
  bool Start(const QString& program, const ServeOptions& options, int timeoutMs = 10000);
  void Stop();
  quint16 Port() const { return port_; }
  qint64 Pid() const { return process_.processId(); }
  QString Error() const { return error_; }

 private:
  QProcess process_;
  quint16 port_ = 0;
  QString error_;
};

// Runs the share server for `options` on 127.0.0.1 until standard input closes; prints
// "port <n>" once it listens. Returns the process's exit code.
int Serve(const ServeOptions& options);

// One answer as read from the socket.
struct Answer {
  std::string statusLine;                      // empty when none arrived
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  bool closedByServer = false;  // the server closed the connection before the deadline
  qint64 ms = 0;                // from connecting to the end of the answer (or the close)
};

// Sends `request` (raw bytes) and reads one answer (a body of Content-Length bytes unless
// `head`). With `untilClosed` it then waits for the server to close the connection.
Answer Exchange(quint16 port, const QByteArray& request, bool head, bool untilClosed, int timeoutMs);

// The outcome of pushing bytes at the server until it gives up or `limit` bytes are sent.
struct Push {
  qint64 sent = 0;
  bool closedByServer = false;
  std::string statusLine;  // the first line the server answered, if any arrived
  qint64 ms = 0;
};

// A request head that never ends: one header line after the other.
Push EndlessHead(quint16 port, qint64 limit, int timeoutMs);
// A POST announcing `bodyBytes` and sending them.
Push HugeBody(quint16 port, qint64 bodyBytes, int timeoutMs);

// Connections that send nothing.
class IdleConnections {
 public:
  // Opens `count` connections to 127.0.0.1:port, from 127.0.0.1, or with `perSource` > 0 from
  // 127.0.0.2 onwards, `perSource` connections from each address.
  void Open(quint16 port, int count, int perSource = 0);
  // Waits until every connection is connected (or closed); false at the deadline.
  bool WaitConnected(int timeoutMs);
  // Waits until the server has closed every connection; false at the deadline.
  bool WaitAllClosed(int timeoutMs);
  int Connected() const;
  int Closed() const { return closed_; }
  // The time from opening to the first and the last close, in ms (-1 before any).
  qint64 FirstCloseMs() const { return firstCloseMs_; }
  qint64 LastCloseMs() const { return lastCloseMs_; }

 private:
  std::vector<std::unique_ptr<QTcpSocket>> sockets_;
  QElapsedTimer clock_;
  int closed_ = 0;
  qint64 firstCloseMs_ = -1;
  qint64 lastCloseMs_ = -1;
};

// `count` parallel GETs of `target`, each answer compared byte for byte with `expected` as it
// arrives (nothing is kept whole). Returns how many were 200 with exactly those bytes. Sources
// as IdleConnections::Open.
struct Downloads {
  int exact = 0;
  int failed = 0;
  qint64 ms = 0;
};
Downloads ParallelDownloads(quint16 port, const QByteArray& target, const QByteArray& expected, int count,
                            int timeoutMs, int perSource = 0);

}  // namespace aqled::shareflood
