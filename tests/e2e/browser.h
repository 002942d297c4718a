#pragma once
// Headless Chromium driven over its DevTools protocol on a pipe (descriptors 3 and 4 of the
// browser, messages ended by NUL): one page, its load awaited by the load event.

#include <fcntl.h>
#include <unistd.h>

#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "app_fixture.h"

namespace aqled::testing {

inline constexpr const char* kChromium = "/usr/bin/chromium";

class Browser {
 public:
  ~Browser() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
    if (toBrowser_ >= 0) ::close(toBrowser_);
    if (fromBrowser_ >= 0) ::close(fromBrowser_);
  }

  // Starts the browser and opens one page of `width` pixels, as a phone shows it.
  bool Start(int width) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return false;
    process_.setChildProcessModifier([in, out] {
      ::dup2(in[0], 3);
      ::dup2(out[1], 4);
    });
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());  // its complaints about D-Bus and the GPU
    process_.start(kChromium,
                   {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--no-proxy-server",
                    "--remote-debugging-pipe", "--user-data-dir=" + profile_.path(), "about:blank"});
    ::close(in[0]);
    ::close(out[1]);
    toBrowser_ = in[1];
    fromBrowser_ = out[0];
    if (!process_.waitForStarted(10000)) return false;
    reader_ = std::make_unique<QSocketNotifier>(fromBrowser_, QSocketNotifier::Read);
    QObject::connect(reader_.get(), &QSocketNotifier::activated, [this] { Read(); });
    const auto target = Call("Target.createTarget", {{"url", "about:blank"}}, false);
    if (!target.contains("targetId")) return false;
    session_ = Call("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}}, false)
                   .value("sessionId", "");
    Call("Page.enable", nlohmann::json::object());
    Resize(width, 800);
    return !session_.empty();
  }

  void Resize(int width, int height) {
    Call("Emulation.setDeviceMetricsOverride",
         {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", true}});
  }

  // Loads `url` and returns once its load event (its pictures loaded or failed) has fired.
  bool Load(const std::string& url) {
    loaded_ = false;
    Call("Page.navigate", {{"url", url}});
    return WaitFor([&] { return loaded_; }, 30000);
  }

  // The value of a JavaScript expression in the page.
  nlohmann::json Evaluate(const std::string& expression) {
    return Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}})["result"]["value"];
  }

  // The page as a PNG picture.
  QByteArray Screenshot() {
    const std::string data = Call("Page.captureScreenshot", {{"format", "png"}}).value("data", "");
    return QByteArray::fromBase64(QByteArray::fromStdString(data));
  }

 private:
  // Sends one command (to the page's session unless `toPage` is false) and returns its result,
  // an empty object when it fails or no answer comes.
  nlohmann::json Call(const std::string& method, const nlohmann::json& params, bool toPage = true) {
    const int id = ++lastId_;
    nlohmann::json message = {{"id", id}, {"method", method}, {"params", params}};
    if (toPage) message["sessionId"] = session_;
    const std::string bytes = message.dump() + '\0';
    if (::write(toBrowser_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return {};
    if (!WaitFor([&] { return answers_.count(id) > 0; }, 30000)) return nlohmann::json::object();
    return answers_[id].value("result", nlohmann::json::object());
  }

  void Read() {
    char chunk[65536];
    const ssize_t n = ::read(fromBrowser_, chunk, sizeof chunk);
    if (n <= 0) {
      reader_->setEnabled(false);
      return;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
    for (size_t end = buffer_.find('\0'); end != std::string::npos; end = buffer_.find('\0')) {
      const nlohmann::json message = nlohmann::json::parse(buffer_.substr(0, end), nullptr, false);
      buffer_.erase(0, end + 1);
      if (message.contains("id")) answers_[message["id"].get<int>()] = message;
      if (message.value("method", "") == "Page.loadEventFired") loaded_ = true;
    }
  }

  QTemporaryDir profile_;
  QProcess process_;
  int toBrowser_ = -1, fromBrowser_ = -1;
  std::unique_ptr<QSocketNotifier> reader_;
  std::string buffer_, session_;
  std::map<int, nlohmann::json> answers_;
  int lastId_ = 0;
  bool loaded_ = false;
};

}  // namespace aqled::testing
