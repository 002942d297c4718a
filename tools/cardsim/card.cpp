#include "card.h"

#include <sys/socket.h>

#include <QDateTime>
#include <QDirIterator>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStorageInfo>
#include <QTextStream>
#include <cstdio>
#include <set>

#include "link/frame.h"
#include "settings/file_io.h"

namespace aqled::cardsim {
namespace {

constexpr int kPollStepMs = 50;

QByteArray ReadWhole(const QString& path, bool* ok) {
  QFile f(path);
  *ok = f.open(QIODevice::ReadOnly);
  return *ok ? f.readAll() : QByteArray();
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

CardSimulator::CardSimulator(CardOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
  connect(&socket_, &QTcpSocket::connected, this, &CardSimulator::OnConnected);
  connect(&socket_, &QTcpSocket::readyRead, this, &CardSimulator::OnReadyRead);
  connect(&socket_, &QTcpSocket::disconnected, this, &CardSimulator::OnGone);
  connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
    if (socket_.state() != QAbstractSocket::ConnectedState) OnGone();
  });
  connect(&heartbeat_, &QTimer::timeout, this, &CardSimulator::Heartbeat);
  pieces_.setInterval(options_.splitPauseMs);
  connect(&pieces_, &QTimer::timeout, this, &CardSimulator::PumpPieces);
}

void CardSimulator::Start() {
  QDir().mkpath(options_.storageDir);
  QDir().mkpath(options_.outputDir);
  if (options_.exitAfterSeconds > 0) {
    QTimer::singleShot(options_.exitAfterSeconds * 1000, this, [this] {
      Log("time is up");
      Finish(3);
    });
  }
  Connect();
}

void CardSimulator::Connect() {
  if (finished_) return;
  if (socket_.state() != QAbstractSocket::UnconnectedState) return;
  reader_.Clear();
  loggedIn_ = false;
  Log(QString("connecting to %1:%2").arg(options_.host).arg(options_.port));
  socket_.connectToHost(options_.host, options_.port);
}

void CardSimulator::OnConnected() {
  Log("connected");
  nlohmann::json input;
  input["barcode"] = options_.barcode.toStdString();
  input["controllername"] = options_.name.toStdString();
  input["width"] = std::to_string(options_.width);
  input["height"] = std::to_string(options_.height);
  nlohmann::json login;
  login["name"] = "LOGIN";
  login["input"] = input;
  SendNow(login.dump());
}

void CardSimulator::OnGone() {
  heartbeat_.stop();
  pieces_.stop();
  pendingPieces_.clear();
  if (finished_) return;
  if (socket_.state() != QAbstractSocket::UnconnectedState) return;
  Log("connection lost: " + socket_.errorString());
  if (options_.reconnectMs > 0) {
    QTimer::singleShot(options_.reconnectMs, this, &CardSimulator::Connect);
  } else {
    Finish(2);
  }
}

void CardSimulator::OnReadyRead() {
  const QByteArray bytes = socket_.readAll();
  reader_.Append(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  while (auto chunk = reader_.Next()) {
    if (chunk->kind == ReceivedChunk::Kind::kFrame) {
      Handle(chunk->bytes, chunk->frameKind);
    } else if (chunk->kind == ReceivedChunk::Kind::kForeign) {
      Log("RECV bytes without the frame magic, dropped");
    } else {
      Log(QString("RECV frame length %1 out of range, dropped").arg(chunk->totalLength));
    }
  }
}

void CardSimulator::Handle(const std::string& payload, int frameKind) {
  Log(QString("RECV kind=%1 %2")
          .arg(frameKind)
          .arg(QString::fromUtf8(payload.data(), static_cast<qsizetype>(payload.size()))));
  nlohmann::json command;
  try {
    command = ParseCommand(payload);
  } catch (const CardError& e) {
    Log(QString("not a command: %1").arg(e.what()));
    return;
  }
  const std::string name = TextOf(command, "name");
  const std::string key = Lower(name);
  const nlohmann::json input =
      command.is_object() && command.contains("input") ? command["input"] : nlohmann::json();
  if (key == "login") {
    if (!loggedIn_) {
      loggedIn_ = true;
      heartbeat_.start(options_.heartbeatMs);
      Log("logged in");
    }
  } else if (const auto fail = options_.failures.find(key);
             fail != options_.failures.end() && fail->second > 0) {
    // Told to fail: the command is not carried out.
    --fail->second;
    Log(QString("answering %1 with a failure").arg(QString::fromStdString(name)));
    Reply(Answer(name, {{"result", "fail"}, {"message", kSimulatedFailure}}));
  } else if (key == "querydisk") {
    Reply(Answer(name, DiskOutput()));
  } else if (key == "stopplay") {
    currentPlaylist_.clear();
    Reply(Answer(name, {{"result", "ok"}}));
  } else if (key == "clearallprogram") {
    ClearAll();
    Reply(Answer(name, {{"result", "ok"}}));
  } else if (key == "clearuselessmaterial") {
    const int removed = ClearUseless();
    Reply(Answer(name, {{"result", "ok"}, {"removed", std::to_string(removed)}}));
  } else if (key == "downloadfilefromurl") {
    StartJob(input);
  } else if (key == "querydownloadprogress") {
    const std::string id = TextOf(input, "id");
    const int delaySeconds = std::atoi(TextOf(input, "delay", "0").c_str());
    const int wait =
        options_.progressWaitMs >= 0 ? options_.progressWaitMs : std::max(0, delaySeconds) * 1000;
    AnswerProgress(id, wait, ++progressSeq_);
  } else if (key == "play") {
    Play(input);
  } else if (key == "updatedynamic") {
    UpdateDynamic(input);
  } else if (!name.empty()) {
    Reply(Answer(name, {{"result", "unsupported"}}));
  }
}

void CardSimulator::Reply(const std::string& json) {
  if (options_.answerDelayMs > 0) {
    QTimer::singleShot(options_.answerDelayMs, this, [this, json] { SendNow(json); });
  } else {
    SendNow(json);
  }
}

void CardSimulator::SendNow(const std::string& json) {
  if (socket_.state() != QAbstractSocket::ConnectedState) {
    Log(QString("not connected, dropped: %1").arg(QString::fromStdString(json)));
    return;
  }
  QByteArray bytes;
  if (options_.coalesce && loggedIn_) {
    const std::string beat =
        R"({"name":"heartbeat","input":{"barcode":")" + options_.barcode.toStdString() + "\"}}";
    Log(QString("SEND kind=2 %1").arg(QString::fromStdString(beat)));
    const std::string f = BuildFrameUtf8(kFrameKindCommand, beat);
    bytes.append(f.data(), static_cast<qsizetype>(f.size()));
    ++framesSent_;
  }
  Log(QString("SEND kind=2 %1").arg(QString::fromStdString(json)));
  const std::string f = BuildFrameUtf8(kFrameKindCommand, json);
  bytes.append(f.data(), static_cast<qsizetype>(f.size()));
  ++framesSent_;
  WriteBytes(bytes);
}

void CardSimulator::WriteBytes(const QByteArray& bytes) {
  if (options_.splitBytes > 0) {
    for (qsizetype at = 0; at < bytes.size(); at += options_.splitBytes)
      pendingPieces_.push_back(bytes.mid(at, options_.splitBytes));
    if (!pieces_.isActive()) {
      PumpPieces();
      if (!pendingPieces_.empty()) pieces_.start();
    }
  } else {
    socket_.write(bytes);
    socket_.flush();
  }
  if (options_.resetAfterFrames > 0 && !resetDone_ && framesSent_ >= options_.resetAfterFrames) {
    resetDone_ = true;
    // Let what was written leave first; then end the connection with a reset, not a close.
    QTimer::singleShot(200, this, [this] {
      Log("resetting the connection");
      linger l{1, 0};
      ::setsockopt(static_cast<int>(socket_.socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
      socket_.abort();
      OnGone();
    });
  }
}

void CardSimulator::PumpPieces() {
  if (pendingPieces_.empty()) {
    pieces_.stop();
    return;
  }
  socket_.write(pendingPieces_.front());
  socket_.flush();
  pendingPieces_.pop_front();
  if (pendingPieces_.empty()) pieces_.stop();
}

void CardSimulator::Heartbeat() {
  SendNow(R"({"name":"heartbeat","input":{"barcode":")" + options_.barcode.toStdString() + "\"}}");
}

void CardSimulator::Log(const QString& line) {
  const QString stamped = QDateTime::currentDateTime().toString("hh:mm:ss.zzz ") + line;
  if (options_.verbose) {
    std::fputs((stamped + "\n").toUtf8().constData(), stdout);
    std::fflush(stdout);
  }
  if (!options_.logFile.isEmpty()) {
    QFile f(options_.logFile);
    if (f.open(QIODevice::Append | QIODevice::Text)) f.write((stamped + "\n").toUtf8());
  }
}

void CardSimulator::Finish(int code) {
  if (finished_) return;  // the first reason to end stands
  finished_ = true;
  heartbeat_.stop();
  LeaveWhenSent(code);
}

void CardSimulator::LeaveWhenSent(int code) {
  // Whatever is still on its way to the server leaves first.
  if (!pendingPieces_.empty() || socket_.bytesToWrite() > 0) {
    QTimer::singleShot(kPollStepMs, this, [this, code] { LeaveWhenSent(code); });
    return;
  }
  QTimer::singleShot(100, this, [this, code] {
    Log(QString("exit %1").arg(code));
    socket_.disconnectFromHost();
    emit Finished(code);
  });
}

QString CardSimulator::StoragePath(const std::string& relative) const {
  return QDir(options_.storageDir).filePath(QString::fromStdString(relative));
}

nlohmann::json CardSimulator::DiskOutput() const {
  qint64 used = 0;
  QDirIterator it(options_.storageDir, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    used += it.fileInfo().size();
  }
  const QStorageInfo info(options_.storageDir);
  return {{"storagemedia", "emmc"},
          {"total", std::to_string(info.bytesTotal())},
          {"free", std::to_string(info.bytesAvailable())},
          {"used", std::to_string(used)}};
}

void CardSimulator::ClearAll() {
  QDir(StoragePath("share")).removeRecursively();
  currentPlaylist_.clear();
  Log("all programs deleted");
}

int CardSimulator::ClearUseless() {
  // Material is useless when the playing program does not name it.
  std::set<QString> keep;
  if (!currentPlaylist_.empty()) {
    keep.insert(QFileInfo(StoragePath(currentPlaylist_)).absoluteFilePath());
    try {
      bool ok = false;
      const auto programFile =
          SafeStoragePath(PlaylistProgramFile(ReadWhole(StoragePath(currentPlaylist_), &ok)));
      if (programFile) {
        keep.insert(QFileInfo(StoragePath(*programFile)).absoluteFilePath());
        for (const auto& p : ParseProgramFile(ReadWhole(StoragePath(*programFile), &ok)).pictures)
          if (auto path = SafeStoragePath(p.file))
            keep.insert(QFileInfo(StoragePath(*path)).absoluteFilePath());
      }
    } catch (const CardError&) {
    }
  }
  int removed = 0;
  QDirIterator it(StoragePath("share"), QDir::Files);
  while (it.hasNext()) {
    const QString path = QFileInfo(it.next()).absoluteFilePath();
    if (!keep.count(path) && QFile::remove(path)) ++removed;
  }
  Log(QString("useless material removed: %1 files").arg(removed));
  return removed;
}

void CardSimulator::StartJob(const nlohmann::json& input) {
  auto job = std::make_shared<Job>();
  job->id = std::to_string(nextJobId_++);
  try {
    job->items = ParseDownloadItems(input);
  } catch (const CardError& e) {
    job->failed = true;
    job->started = true;
    job->reason = e.what();
  }
  job->attempts = std::clamp(std::atoi(TextOf(input, "downloadtimes", "1").c_str()), 1, 5);
  const int timeout = std::atoi(TextOf(input, "failonwaitingtimeout", "10").c_str());
  job->timeoutMs = (timeout > 0 ? timeout : 10) * 1000;
  jobs_[job->id] = job;
  if (!job->failed) queue_.push_back(job);
  Reply(Answer("downloadfilefromurl", {{"id", job->id}}));
  // The queue starts after the answer, so a quick first query sees the job waiting.
  QTimer::singleShot(0, this, &CardSimulator::RunQueue);
}

void CardSimulator::RunQueue() {
  while (!queue_.empty() &&
         (queue_.front()->failed || queue_.front()->done == queue_.front()->items.size()) &&
         queue_.front()->started)
    queue_.pop_front();
  if (queue_.empty() || queue_.front()->started) return;
  auto& job = *queue_.front();
  job.started = true;
  Log(QString("download %1: %2 files").arg(QString::fromStdString(job.id)).arg(job.items.size()));
  FetchNext(job, 1);
}

void CardSimulator::FetchNext(Job& job, int attempt) {
  auto fail = [this, &job](const std::string& reason) {
    job.failed = true;
    job.reason = reason;
    Log(QString("download %1 failed: %2")
            .arg(QString::fromStdString(job.id), QString::fromStdString(reason)));
    QTimer::singleShot(0, this, &CardSimulator::RunQueue);
  };
  if (job.done == job.items.size()) {
    Log(QString("download %1 complete").arg(QString::fromStdString(job.id)));
    QTimer::singleShot(0, this, &CardSimulator::RunQueue);
    return;
  }
  const DownloadItem item = job.items[job.done];
  if (!options_.allowRemote && !IsLoopbackUrl(item.url)) {
    fail("refused, not a loopback address: " + item.url.toStdString());
    return;
  }
  QNetworkRequest request{QUrl(item.url)};
  request.setTransferTimeout(job.timeoutMs);
  QNetworkReply* reply = net_.get(request);
  const std::shared_ptr<Job> keep = jobs_[job.id];
  connect(reply, &QNetworkReply::finished, this, [this, reply, keep, item, attempt, fail] {
    reply->deleteLater();
    Job& j = *keep;
    if (reply->error() != QNetworkReply::NoError) {
      if (attempt < j.attempts) {
        FetchNext(j, attempt + 1);
        return;
      }
      fail(item.url.toStdString() + ": " + reply->errorString().toStdString());
      return;
    }
    const QByteArray body = reply->readAll();
    if (body.size() != item.size) {
      fail(item.storagePath + ": size " + std::to_string(body.size()) + " where " +
           std::to_string(item.size) + " was announced");
      return;
    }
    const QString path = StoragePath(item.storagePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    const FileWriteResult written = WriteFileWhole(
        path.toStdString(), std::string_view(body.constData(), static_cast<size_t>(body.size())));
    if (!written) {
      fail("cannot write " + path.toStdString() + ": " + written.error);
      return;
    }
    Log(QString("stored %1 (%2 bytes)").arg(QString::fromStdString(item.storagePath)).arg(body.size()));
    ++j.done;
    FetchNext(j, 1);
  });
}

void CardSimulator::AnswerProgress(const std::string& id, int waitMs, int seq) {
  const auto it = jobs_.find(id);
  nlohmann::json out{{"id", id}};
  if (it == jobs_.end()) {
    out["status"] = "failed";
    out["reason"] = "unknown id";
    Reply(Answer("querydownloadprogress", out));
    return;
  }
  const Job& job = *it->second;
  const bool ended = job.failed || (job.started && job.done == job.items.size());
  if (!ended && waitMs > 0) {
    // The card holds the answer until the download ends or the asked-for delay is over.
    const int step = std::min(waitMs, kPollStepMs);
    QTimer::singleShot(step, this, [this, id, waitMs, step, seq] { AnswerProgress(id, waitMs - step, seq); });
    return;
  }
  out["status"] = job.failed ? "failed" : ended ? "complete" : job.started ? "downloading" : "waiting";
  out["progress"] = std::to_string(job.done) + "/" + std::to_string(job.items.size());
  if (job.failed) out["reason"] = job.reason;
  Reply(Answer("querydownloadprogress", out));
}

void CardSimulator::Play(const nlohmann::json& input) {
  std::vector<QImage> screens;
  std::string failure;
  try {
    const auto playlist = SafeStoragePath(TextOf(input, "playlist"));
    if (!playlist) throw CardError("play without a usable \"playlist\"");
    bool ok = false;
    const QByteArray list = ReadWhole(StoragePath(*playlist), &ok);
    if (!ok) throw CardError("playlist not found: " + *playlist);
    const auto programFile = SafeStoragePath(PlaylistProgramFile(list));
    if (!programFile) throw CardError("playlist names an unusable program file");
    const QByteArray program = ReadWhole(StoragePath(*programFile), &ok);
    if (!ok) throw CardError("program file not found: " + *programFile);
    const ProgramLayout layout = ParseProgramFile(program);
    for (const auto& picture : layout.pictures) {
      const auto path = SafeStoragePath(picture.file);
      if (!path) throw CardError("unusable picture path: " + picture.file);
      QImage image;
      const QByteArray bytes = ReadWhole(StoragePath(*path), &ok);
      if (!ok) throw CardError("picture not found: " + *path);
      if (!image.loadFromData(bytes)) throw CardError("picture cannot be decoded: " + *path);
      screens.push_back(
          ComposeScreen(image, options_.width, options_.height, layout.x, layout.y, layout.w, layout.h));
    }
    currentPlaylist_ = *playlist;
  } catch (const CardError& e) {
    failure = e.what();
  }
  if (!failure.empty()) {
    Log(QString("play failed: %1").arg(QString::fromStdString(failure)));
    Reply(Answer("play", {{"result", "fail"}, {"reason", failure}}));
    if (options_.exitAfterPlay) QTimer::singleShot(options_.answerDelayMs, this, [this] { Finish(4); });
    return;
  }
  WriteScreens("program_", screens);
  Log(QString("playing %1 pictures").arg(screens.size()));
  Reply(Answer("play", {{"result", "ok"}, {"pictures", std::to_string(screens.size())}}));
  if (options_.exitAfterPlay) QTimer::singleShot(options_.answerDelayMs, this, [this] { Finish(0); });
}

void CardSimulator::UpdateDynamic(const nlohmann::json& input) {
  DynamicArea area;
  try {
    area = ParseDynamicArea(input);
  } catch (const CardError& e) {
    Log(QString("dynamic area refused: %1").arg(e.what()));
    Reply(Answer("UpdateDynamic", {{"result", "fail"}, {"reason", e.what()}}));
    if (options_.exitAfterDynamic) QTimer::singleShot(options_.answerDelayMs, this, [this] { Finish(4); });
    return;
  }
  FetchDynamic(std::make_shared<std::vector<QByteArray>>(), area.addresses, 0, area);
}

void CardSimulator::FetchDynamic(std::shared_ptr<std::vector<QByteArray>> got, std::vector<QString> addresses,
                                 size_t k, DynamicArea area) {
  auto fail = [this](const std::string& reason) {
    Log(QString("dynamic area failed: %1").arg(QString::fromStdString(reason)));
    Reply(Answer("UpdateDynamic", {{"result", "fail"}, {"reason", reason}}));
    if (options_.exitAfterDynamic) QTimer::singleShot(options_.answerDelayMs, this, [this] { Finish(4); });
  };
  if (k == addresses.size()) {
    std::vector<QImage> screens;
    for (size_t i = 0; i < got->size(); ++i) {
      QImage image;
      if (!image.loadFromData((*got)[i])) {
        fail("picture cannot be decoded: " + addresses[i].toStdString());
        return;
      }
      screens.push_back(
          ComposeScreen(image, options_.width, options_.height, area.x, area.y, area.w, area.h));
    }
    WriteScreens("dynamic_", screens);
    Log(QString("dynamic area shows %1 pictures").arg(screens.size()));
    Reply(Answer("UpdateDynamic", {{"result", "ok"}, {"pictures", std::to_string(screens.size())}}));
    if (options_.exitAfterDynamic) QTimer::singleShot(options_.answerDelayMs, this, [this] { Finish(0); });
    return;
  }
  const QString url = addresses[k];
  if (!options_.allowRemote && !IsLoopbackUrl(url)) {
    fail("refused, not a loopback address: " + url.toStdString());
    return;
  }
  QNetworkRequest request{QUrl(url)};
  request.setTransferTimeout(10000);
  QNetworkReply* reply = net_.get(request);
  connect(reply, &QNetworkReply::finished, this, [this, reply, got, addresses, k, area, fail] {
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
      fail(addresses[k].toStdString() + ": " + reply->errorString().toStdString());
      return;
    }
    got->push_back(reply->readAll());
    FetchDynamic(got, addresses, k + 1, area);
  });
}

void CardSimulator::WriteScreens(const QString& prefix, const std::vector<QImage>& screens) {
  QDir out(options_.outputDir);
  out.mkpath(".");
  for (const QString& old : out.entryList({prefix + "*.png"}, QDir::Files)) out.remove(old);
  for (size_t k = 0; k < screens.size(); ++k) {
    const QString name = prefix + QString("%1.png").arg(k + 1, 3, 10, QChar('0'));
    if (!screens[k].save(out.filePath(name), "PNG")) Log("cannot write " + out.filePath(name));
  }
}

}  // namespace aqled::cardsim
