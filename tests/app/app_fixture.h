#pragma once
// Shared pieces of the window tests: dialogs that answer as told, an application folder in a
// temporary directory, and a window started on it.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "link/controller_link.h"
#include "programs.h"
#include "settings/file_io.h"
#include "test_support.h"

namespace aqled::testing {

// A control of the window found by its object name; a missing one fails the test (the
// exception ends it with the name).
template <typename W>
W* Control(const TForm1& form, const char* name) {
  W* w = form.findChild<W*>(QString::fromLatin1(name));
  if (w == nullptr) throw std::runtime_error(std::string("the window has no control named ") + name);
  return w;
}

class FakeDialogs : public Dialogs {
 public:
  void Message(const std::string& text) override { messages.push_back(text); }
  bool Confirm(const std::string& text, const std::string& caption) override {
    messages.push_back(text);
    captions.push_back(caption);
    // What happens while the box is open, once.
    if (whileConfirming) std::exchange(whileConfirming, nullptr)();
    return confirm;
  }
  bool ChooseFont(FontChoice& font) override {
    fontPresets.push_back(font);
    if (!fontAnswer) return false;
    font = *fontAnswer;
    return true;
  }
  bool ChooseColour(int& colourWord) override {
    colourPresets.push_back(colourWord);
    if (!colourAnswer) return false;
    colourWord = *colourAnswer;
    return true;
  }
  std::optional<std::string> OpenFile(const std::string& filter) override {
    filters.push_back(filter);
    return fileAnswer;
  }

  std::vector<std::string> messages;  // GBK
  std::vector<std::string> captions;  // of the confirmations, GBK
  bool confirm = false;
  std::function<void()> whileConfirming;
  std::optional<FontChoice> fontAnswer;  // nothing: the operator cancels
  std::vector<FontChoice> fontPresets;
  std::optional<int> colourAnswer;
  std::vector<int> colourPresets;
  std::optional<std::string> fileAnswer;
  std::vector<std::string> filters;  // one per file-open dialog shown
};

// Records what would have been opened in the picture viewer; `starts` false plays a desktop
// without any viewer.
class RecordingViewer : public PictureViewer {
 public:
  bool Open(const std::string& gbkPath) override {
    opened.push_back(gbkPath);
    return starts;
  }
  std::vector<std::string> opened;
  bool starts = true;
};

inline std::string ReadAll(const std::filesystem::path& p) {
  return ReadFileWhole(p, std::numeric_limits<std::uintmax_t>::max()).value_or("<missing>");
}
inline void WriteAll(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

struct AppFolderFixture : ::testing::Test {
  QTemporaryDir dir;
  std::filesystem::path folder{dir.path().toStdString()};
  std::string appFolder = dir.path().toStdString() + "/";
  FakeClock clock;
  FakeDialogs dialogs;
  RecordingViewer viewer;
  quint16 port = FreePort();  // the controller port: one nothing else on the machine holds

  // config.ini with `bytes`. Unless they name ShareServer, the share server is switched off, so
  // that a window test neither opens the default share port nor gets a third start-up line.
  void WithConfig(std::string bytes = "") {
    if (bytes.find("ShareServer") == std::string::npos) {
      const size_t set = bytes.find("[Set]\r\n");
      if (set == std::string::npos)
        bytes += "\r\n[Set]\r\nShareServer=0\r\n";
      else
        bytes.insert(set + 7, "ShareServer=0\r\n");
    }
    WriteAll(folder / "config.ini", bytes);
  }
  void WithLogFolder() { std::filesystem::create_directory(folder / "log"); }

  // A window on the folder whose start-up has run.
  std::unique_ptr<TForm1> Start() {
    auto form = std::make_unique<TForm1>(FormOptions{appFolder, &clock, &dialogs, port, &viewer});
    form->FormCreate();
    return form;
  }
};

}  // namespace aqled::testing
