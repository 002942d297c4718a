// aqled-sendbench [--runs N]
// Times the part of a send that follows the fetch of the four stations, at 576 x 336: the
// picture list with all three boxes checked (4 station pages, the text page drawn anew, 5
// advertisements), the staging of those ten pictures as 001.bmp to 010.bmp, ll.xml and pp.xml,
// and the download, play and dynamic-area commands. Beside it, in the same loop, two copies of
// the same bytes into other folders: a plain one (the ten pictures copied and the two XML texts
// written, nothing synced) and a durable one (each file written to a temporary file, synced,
// renamed over its name and the folder synced: what the send would cost if it copied).
// Everything happens in a temporary folder; N runs (default 50) after one warm-up run of each.
#include <fcntl.h>
#include <unistd.h>

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "compose/picture_list.h"
#include "link/packaging.h"
#include "logging/operation_log.h"
#include "render/bmp.h"
#include "render/station_pages.h"
#include "render/text_page.h"
#include "sample_pages.h"
#include "text/datetime.h"
#include "text/gbk.h"

namespace {

namespace fs = std::filesystem;
using namespace aqled;

constexpr int kWidth = 576;
constexpr int kHeight = 336;
constexpr int kAdvertisements = 5;
constexpr int kPictures = 4 + 1 + kAdvertisements;
constexpr const char* kHttpBaseDir = "http://127.0.0.1:8080/";

// Throws away every line but counts them, so that a run can be checked for errors.
class DiscardLog : public LogSink {
 public:
  void AppendLog(int kind, const std::string&) override {
    ++lines;
    if (kind == kLogError) ++errors;
  }
  int lines = 0;
  int errors = 0;
};

using samples::Gbk;

// The benchmark's pages: no dash anywhere, so all four stations take part in the list.
StationPageInput SampleStations() {
  StationPageInput in = samples::SampleStations();
  in.readings[4].pm25 = "21";
  return in;
}

TextPageInput SampleText() { return samples::SampleText(kFlowingLayout); }

// A full-size advertisement picture, different for each k.
QImage Advertisement(int k) {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient gradient(0, 0, kWidth, kHeight);
  gradient.setColorAt(0, QColor::fromHsv(k * 60 % 360, 200, 220));
  gradient.setColorAt(1, QColor::fromHsv((k * 60 + 120) % 360, 255, 90));
  painter.fillRect(image.rect(), gradient);
  QFont font(QString::fromLatin1(kFallbackFace));
  font.setPixelSize(64);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(image.rect(), Qt::AlignCenter, QString::fromLatin1("AD %1").arg(k));
  return image;
}

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

void Write(const fs::path& path, const QByteArray& bytes) {
  const WriteStatus status = WritePicture(path, bytes);
  Check(status.ok(), GbkToUtf8(status.error));
}

struct Setup {
  std::string appFolder;    // GBK, ending with "/"
  std::string shareFolder;  // GBK, ending with "/"
  fs::path pictureFolder;
  fs::path copyFolder;
  fs::path durableFolder;
  StationReadings readings;
  std::vector<std::string> advertisements;  // the originals, outside PictureFolder
};

// AppFolder with file/ holding 1.bmp to 4.bmp and the copies of the five advertisements.
Setup Prepare(const fs::path& root) {
  Setup s;
  s.appFolder = GbkFromPath(root / "app") + "/";
  s.shareFolder = GbkFromPath(root / "share") + "/";
  s.pictureFolder = PathFromGbk(PictureFolderOf(s.appFolder));
  s.copyFolder = root / "copy";
  s.durableFolder = root / "durable";
  const fs::path originals = root / "ads";
  fs::create_directories(s.pictureFolder);
  fs::create_directories(s.copyFolder);
  fs::create_directories(s.durableFolder);
  fs::create_directories(originals);

  const StationPageInput stations = SampleStations();
  const StationPagesResult pages = RenderStationPages(stations, s.pictureFolder);
  Check(pages.ok(), GbkToUtf8(pages.error));
  s.readings = stations.readings;

  for (int k = 1; k <= kAdvertisements; ++k) {
    const std::string name = "ad" + std::to_string(k) + ".bmp";
    const QByteArray bytes = EncodeBmp32(Advertisement(k));
    Write(originals / name, bytes);
    Write(s.pictureFolder / name, bytes);  // the copy the advertisement list keeps
    s.advertisements.push_back(GbkFromPath(originals / name));
  }
  return s;
}

struct SendOutcome {
  std::string pictureList;
  size_t commandBytes = 0;
  double textPageMs = 0;  // parts of the whole, for the record
  double stagingMs = 0;
  double programFilesMs = 0;
};

// One send after the fetch, as the program route and the dynamic route together build it.
SendOutcome Send(const Setup& s, const std::string& programId) {
  DiscardLog log;
  SendOutcome out;
  PictureListInputs in;
  in.appFolder = s.appFolder;
  in.choice = {true, true, true};
  in.readings = s.readings;
  in.advertisements = s.advertisements;
  in.renderTextPage = [&]() {
    QElapsedTimer timer;
    timer.start();
    const TextPageResult page = RenderTextPage(SampleText(), s.pictureFolder);
    out.textPageMs = timer.nsecsElapsed() / 1e6;
    Check(page.ok(), GbkToUtf8(page.error));
  };
  AssemblePictureList(in, out.pictureList, log);
  QElapsedTimer timer;
  timer.start();
  const int n = StagePictures(out.pictureList, s.shareFolder, log, GbkFromPath(s.pictureFolder));
  out.stagingMs = timer.nsecsElapsed() / 1e6;
  timer.restart();
  WriteProgramFiles(s.shareFolder, kWidth, kHeight, programId, n);
  out.programFilesMs = timer.nsecsElapsed() / 1e6;
  const std::string download = BuildDownloadCommand(kHttpBaseDir, s.shareFolder, programId, n);
  const std::string play = BuildPlayCommand(programId);
  const std::string dynamic = BuildDynamicCommand(kHttpBaseDir, kWidth, kHeight, n, 0, 16, 10);

  Check(n == kPictures, "staged " + std::to_string(n) + " pictures, expected " + std::to_string(kPictures));
  Check(std::count(out.pictureList.begin(), out.pictureList.end(), ';') == kPictures,
        "picture list: " + GbkToUtf8(out.pictureList));
  Check(log.errors == 0 && log.lines == kPictures, "unexpected log lines");
  // A size of -1 would mean a staged file the card could not be told about.
  Check(download.find("\"size\": \"-1\"") == std::string::npos, "download command names a missing file");
  out.commandBytes = download.size() + play.size() + dynamic.size();
  return out;
}

std::vector<fs::path> ListedPictures(const std::string& pictureList) {
  std::vector<fs::path> paths;
  size_t start = 0;
  for (size_t semi = pictureList.find(';'); semi != std::string::npos; semi = pictureList.find(';', start)) {
    paths.push_back(PathFromGbk(pictureList.substr(start, semi - start)));
    start = semi + 1;
  }
  return paths;
}

// The baseline's plain, unsynced write: the yardstick the application's whole-file writer is
// measured against, never used for the application's files.
void WriteText(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  Check(!out.fail(), "cannot write " + path.string());
}

// The same bytes moved without the application's logic: each picture copied, the XML written.
void PlainCopy(const std::vector<fs::path>& pictures, const fs::path& folder, const std::string& playlist,
               const std::string& program) {
  // Each old file is removed first, as the staging does: on ext4 a file cut to nothing and
  // written again is pushed to disk when closed, which would time the file system's caution
  // rather than the copy.
  int k = 0;
  for (const fs::path& picture : pictures) {
    const fs::path target = folder / StagedPictureName(++k);
    fs::remove(target);
    fs::copy_file(picture, target, fs::copy_options::overwrite_existing);
  }
  fs::remove(folder / "ll.xml");
  fs::remove(folder / "pp.xml");
  WriteText(folder / "ll.xml", playlist);
  WriteText(folder / "pp.xml", program);
}

// `bytes` under `path` as a careful program writes it: a temporary file in the same folder,
// synced, renamed over the name, the folder synced.
void WriteDurably(const fs::path& path, const std::string& bytes) {
  const fs::path temporary = path.parent_path() / ("." + path.filename().string() + ".tmp");
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Check(fd >= 0, "cannot create " + temporary.string());
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    Check(n > 0, "cannot write " + temporary.string());
    done += static_cast<size_t>(n);
  }
  Check(::fsync(fd) == 0 && ::close(fd) == 0, "cannot sync " + temporary.string());
  Check(::rename(temporary.c_str(), path.c_str()) == 0, "cannot rename to " + path.string());
  const int folder = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Check(folder >= 0 && ::fsync(folder) == 0 && ::close(folder) == 0,
        "cannot sync " + path.parent_path().string());
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The same bytes copied durably: each picture read and written as WriteDurably does, the XML too.
void DurableCopy(const std::vector<fs::path>& pictures, const fs::path& folder, const std::string& playlist,
                 const std::string& program) {
  int k = 0;
  for (const fs::path& picture : pictures) WriteDurably(folder / StagedPictureName(++k), ReadAll(picture));
  WriteDurably(folder / "ll.xml", playlist);
  WriteDurably(folder / "pp.xml", program);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// The smallest time that at least 90 % of the runs did not exceed.
double P90(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t rank = static_cast<size_t>(std::ceil(0.9 * v.size()));
  return v[std::max<size_t>(rank, 1) - 1];
}

int Run(int runs) {
  QTemporaryDir dir;
  Check(dir.isValid(), "cannot create a temporary folder");
  const Setup s = Prepare(dir.path().toStdString());
  const std::string programId = FormatDateTime("yyyymmddhhnnss", QDateTime::currentDateTime());

  // Warm-up: fonts loaded, caches filled, every target file already there for both ways.
  const SendOutcome first = Send(s, programId);
  const std::vector<fs::path> pictures = ListedPictures(first.pictureList);
  const std::string playlist = PlaylistXml(kWidth, kHeight, programId);
  const std::string program = ProgramXml(kWidth, kHeight, programId, kPictures);
  PlainCopy(pictures, s.copyFolder, playlist, program);
  DurableCopy(pictures, s.durableFolder, playlist, program);

  uintmax_t pictureBytes = 0;
  for (const fs::path& p : pictures) pictureBytes += fs::file_size(p);
  const size_t xmlBytes = playlist.size() + program.size();

  // The three ways alternate so that all meet the same load of a shared machine.
  std::vector<double> send, copy, durable, textPage, staging, programFiles;
  for (int i = 0; i < runs; ++i) {
    QElapsedTimer timer;
    timer.start();
    const SendOutcome outcome = Send(s, programId);
    send.push_back(timer.nsecsElapsed() / 1e6);
    textPage.push_back(outcome.textPageMs);
    staging.push_back(outcome.stagingMs);
    programFiles.push_back(outcome.programFilesMs);

    timer.restart();
    PlainCopy(pictures, s.copyFolder, playlist, program);
    copy.push_back(timer.nsecsElapsed() / 1e6);

    timer.restart();
    DurableCopy(pictures, s.durableFolder, playlist, program);
    durable.push_back(timer.nsecsElapsed() / 1e6);
  }

  const double sendMedian = Median(send), copyMedian = Median(copy), durableMedian = Median(durable);
  std::printf(
      "%d pictures at %dx%d (%ju bytes) + ll.xml and pp.xml (%zu bytes); commands %zu bytes; %d runs\n",
      kPictures, kWidth, kHeight, pictureBytes, xmlBytes, first.commandBytes, runs);
  std::printf("send after the fetch: median %.2f ms, p90 %.2f ms\n", sendMedian, P90(send));
  std::printf(
      "  of which (medians): text page drawn and written %.2f ms, staging %.2f ms, ll.xml and pp.xml %.2f "
      "ms\n",
      Median(textPage), Median(staging), Median(programFiles));
  std::printf("plain copy:           median %.2f ms, p90 %.2f ms\n", copyMedian, P90(copy));
  std::printf("durable copy:         median %.2f ms, p90 %.2f ms\n", durableMedian, P90(durable));
  std::printf("ratio send / copy:    %.2f (medians), %.2f (p90)\n", sendMedian / copyMedian,
              P90(send) / P90(copy));
  std::printf("ratio send / durable: %.2f (medians), %.2f (p90)\n", sendMedian / durableMedian,
              P90(send) / P90(durable));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  int runs = 50;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: aqled-sendbench [--runs N]\n");
      return 2;
    }
  }
  try {
    return Run(runs);
  } catch (const PackagingError& e) {
    std::fprintf(stderr, "aqled-sendbench: %s\n", GbkToUtf8(e.what()).c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "aqled-sendbench: %s\n", e.what());
    return 1;
  }
}
