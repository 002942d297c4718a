#pragma once
// A stand-in for the LED controller card: a TCP client of the application's controller
// server that logs in, heartbeats and answers every command as a card would, fetching the
// program over HTTP and writing what its screen shows as PNG files.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "card_logic.h"
#include "link/frame_reader.h"

namespace aqled::cardsim {

// The message of a failure the card is told to give (--fail).
inline constexpr const char* kSimulatedFailure = "simulated failure";

struct CardOptions {
  QString host = "127.0.0.1";
  quint16 port = 8115;
  QString barcode = "CARDSIM-0001";
  QString name = "cardsim";
  int width = 128;
  int height = 64;
  int heartbeatMs = 10000;
  QString storageDir = "cardsim-storage";
  QString outputDir = "cardsim-screen";
  QString logFile;           // empty: no log file
  bool verbose = false;      // every log line also on stdout
  int reconnectMs = 3000;    // after the connection is lost; 0: exit instead
  bool allowRemote = false;  // downloads from hosts other than loopback
  // Misbehaviour for tests.
  int splitBytes = 0;        // > 0: every frame goes out in pieces of this many bytes
  int splitPauseMs = 20;     // between the pieces
  bool coalesce = false;     // every answer goes out in one write together with a heartbeat
  int resetAfterFrames = 0;  // > 0: reset the connection after sending this many frames (once)
  int answerDelayMs = 0;     // every answer waits this long
  int progressWaitMs = -1;   // how long a progress answer is held while downloading; -1: "delay"
  // Commands (lower-case names) answered with result "fail" and kSimulatedFailure as message,
  // without being carried out, as many times as the count says; after that as usual.
  std::map<std::string, int> failures;
  // Ending, so tests finish.
  bool exitAfterPlay = false;
  bool exitAfterDynamic = false;
  int exitAfterSeconds = 0;  // > 0: give up with exit code 3
};

class CardSimulator : public QObject {
  Q_OBJECT

 public:
  explicit CardSimulator(CardOptions options, QObject* parent = nullptr);
  // Connects and starts; the event loop does the rest.
  void Start();

 signals:
  // The simulator is done; the program exits with this code.
  void Finished(int exitCode);

 private:
  struct Job {
    std::string id;
    std::vector<DownloadItem> items;
    size_t done = 0;
    bool started = false;
    bool failed = false;
    std::string reason;
    int attempts = 1;
    int timeoutMs = 10000;
  };

  void Connect();
  void OnConnected();
  void OnReadyRead();
  void OnGone();
  void Handle(const std::string& payload, int frameKind);
  void Reply(const std::string& json);
  void SendNow(const std::string& json);
  void WriteBytes(const QByteArray& bytes);
  void PumpPieces();
  void Heartbeat();
  void Log(const QString& line);
  void Finish(int code);
  void LeaveWhenSent(int code);

  nlohmann::json DiskOutput() const;
  void ClearAll();
  int ClearUseless();
  void StartJob(const nlohmann::json& input);
  void RunQueue();
  void FetchNext(Job& job, int attempt);
  void AnswerProgress(const std::string& id, int waitMs, int seq);
  void Play(const nlohmann::json& input);
  void UpdateDynamic(const nlohmann::json& input);
  void FetchDynamic(std::shared_ptr<std::vector<QByteArray>> got, std::vector<QString> addresses, size_t k,
                    DynamicArea area);
  void WriteScreens(const QString& prefix, const std::vector<QImage>& screens);
  QString StoragePath(const std::string& relative) const;

  CardOptions options_;
  QTcpSocket socket_;
  QNetworkAccessManager net_;
  QTimer heartbeat_;
  QTimer pieces_;
  std::deque<QByteArray> pendingPieces_;
  FrameReader reader_;
  bool loggedIn_ = false;
  bool resetDone_ = false;
  int framesSent_ = 0;
  int nextJobId_ = 1;
  std::deque<std::shared_ptr<Job>> queue_;
  std::map<std::string, std::shared_ptr<Job>> jobs_;
  std::string currentPlaylist_;  // storage path of the playing playlist
  int progressSeq_ = 0;
  bool finished_ = false;
};

}  // namespace aqled::cardsim
