#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QTimer>
#include <optional>
#include <system_error>

#include "app/platform.h"
#include "compose/advertisement_list.h"
#include "link/controller_link.h"
#include "link/exchange.h"
#include "render/drawing.h"
#include "settings/file_io.h"
#include "settings/startup_files.h"
#include "share/share_server.h"
#include "stations/trust.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

// A memo's text as the system holds it: GBK, lines separated by CR LF.
std::string MemoText(const QPlainTextEdit* memo) {
  std::string text = FromQString(memo->toPlainText());
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n')
      out += "\r\n";
    else
      out.push_back(c);
  }
  return out;
}

void SetMemoText(QPlainTextEdit* memo, const std::string& gbk) {
  QString text = ToQString(gbk);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  memo->setPlainText(text);
}

// The entry of a ListBox1 row as GBK bytes, beside its text on screen: a path GBK cannot hold
// keeps its escapes (text/gbk.h), which the shown text has turned into the characters.
constexpr int kGbkEntryRole = Qt::UserRole;

void SetIndex(QComboBox* combo, int index) {
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

}  // namespace

TForm1::TForm1(FormOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      appFolder_(options.appFolder.empty() ? ExecutableFolder() : std::move(options.appFolder)) {
  controllerPort = options.controllerPort;
  RegisterFontSubstitutions();
  if (options.screenDpi > 0) {
    screenDpi_ = options.screenDpi;
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    screenDpi_ = static_cast<int>(screen->logicalDotsPerInch() + 0.5);
  }
  if (options.clock) {
    clock_ = options.clock;
  } else {
    ownClock_ = std::make_unique<SystemClock>();
    clock_ = ownClock_.get();
  }
  if (options.dialogs) {
    dialogs_ = options.dialogs;
  } else {
    ownDialogs_ = std::make_unique<QtDialogs>(this);
    dialogs_ = ownDialogs_.get();
  }
  if (options.viewer) {
    viewer_ = options.viewer;
  } else {
    ownViewer_ = std::make_unique<DesktopViewer>();
    viewer_ = ownViewer_.get();
  }
  BuildPages();
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  operationLog_ = std::make_unique<OperationLog>(PathFromGbk(LogFolder()), *clock_, log);
  link_ = std::make_unique<ControllerLink>(*this, *clock_);
  road_ = std::make_unique<SendRoad>(*link_, *clock_, *this, static_cast<SendListener&>(*this),
                                     programSettings, appFolder_);
  // The hidden work box keeps the last decoded station page.
  road_->SetPageTextSink([this](const std::string& gbk) { SetMemoText(Memo1, gbk); });
  ConnectHandlers();
  ConnectStatus();
}

TForm1::~TForm1() {
  // Counts of refused peers and bad data still waiting for their summary line go to the log
  // while it is there.
  if (link_) link_->WritePendingSummaries();
  if (shareServer_) shareServer_->WritePendingSummary();
}

std::string TForm1::PictureFolder() const { return PictureFolderOf(appFolder_); }

std::string TForm1::LogFolder() const { return appFolder_ + "log/"; }

PictureBox* TForm1::StationPreview(int station) const {
  switch (station) {
    case 1:
      return Image3;
    case 2:
      return Image4;
    case 3:
      return Image5;
    case 4:
      return Image6;
    default:
      return nullptr;
  }
}

const TForm1::FontButton TForm1::kFontButtons[] = {
    {&TForm1::Button12, &TForm1::Button12Click, &DisplayFonts::zd, BoldTest::kAnyStyle},
    {&TForm1::Button5, &TForm1::Button5Click, &DisplayFonts::bt, BoldTest::kAnyStyle},
    {&TForm1::Button1, &TForm1::Button1Click, &DisplayFonts::dw, BoldTest::kBoldOnly},
    {&TForm1::Button13, &TForm1::Button13Click, &DisplayFonts::qxdj, BoldTest::kAnyStyle},
    {&TForm1::Button3, &TForm1::Button3Click, &DisplayFonts::dt, BoldTest::kBoldOnly},
    {&TForm1::Button9, &TForm1::Button9Click, &DisplayFonts::bz2, BoldTest::kBoldOnly},
    {&TForm1::Button6, &TForm1::Button6Click, &DisplayFonts::bz, BoldTest::kBoldOnly},
    {&TForm1::Button10, &TForm1::Button10Click, &DisplayFonts::clock, BoldTest::kBoldOnly},
    {&TForm1::Button8, &TForm1::Button8Click, &DisplayFonts::time, BoldTest::kAnyStyle},
};

void TForm1::ConnectHandlers() {
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  for (const FontButton& b : kFontButtons) connect(this->*b.button, &QPushButton::clicked, this, b.handler);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button14, &QPushButton::clicked, this, &TForm1::Button14Click);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
  connect(Button11, &QPushButton::clicked, this, &TForm1::Button11Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
  connect(BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
  connect(ListBox1, &QListWidget::itemDoubleClicked, this, &TForm1::ListBox1DblClick);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, &TForm1::EscapePressed);
}

void TForm1::FormCreate() {
  // 1. AppFolder (taken when the window was built).
  const std::filesystem::path folder = PathFromGbk(appFolder_);

  // 2. config.ini must be there.
  std::error_code ec;
  if (!std::filesystem::exists(folder / "config.ini", ec)) {
    dialogs_->Message(Gbk<"配置文件config.ini丢失,请联系技术人员.">());
    quitRequested_ = true;
    return;
  }
  // The kind-1 lines of the steps that fail, written after the first line of the log.
  StartupProblems problems;
  // 3. ProgramSettings; a config.ini that cannot be read gives the defaults.
  programSettings = ReadConfigFile(
      folder, MakeProgramDefaults(appFolder_, FirstLocalIpv4(), std::string(kDefaultStationSite)), problems);
  RefreshStatus();
  // The TLS library, loaded before peers can spend the descriptors, and what the station fetch
  // trusts of the site's certificate.
  if (!LoadTlsBackend()) problems.lines.push_back(TlsMissingText());
  const StationTrust trust = LoadStationTrust(programSettings, appFolder_);
  if (!trust.problem.empty()) problems.lines.push_back(trust.problem);
  road_->SetTrust(trust.trust);
  // 4, 5. The controller server and the session table (its slotCount starts at 0), with the
  // cards it takes.
  CreateControllerServer();
  link_->SetCards(programSettings.Cards, programSettings.MaxCards);
  // 6 to 9. The station URL table; setup.ini into the controls and the variables, PictureFolder,
  // the three text files. A file that exists but cannot be read is not replaced by a save.
  road_->SetStationUrls(BuildStationUrls(programSettings.StationSite));
  DisplayTexts texts = CollectDisplayTexts();
  const DisplaySettings stored = ReadDisplayFiles(appFolder_, texts, problems);
  unloadedFiles_ = problems.unloaded;
  captions = stored.captions;
  fonts = stored.fonts;
  ApplyDisplayControls(stored.controls);
  ApplyDisplayTexts(texts);
  // The whole-file writer's temporary files that a killed run left, in every folder it writes.
  for (const std::string& written : {appFolder_, PictureFolder(), programSettings.FileBaseDir})
    RemoveLeftoverTemporaries(PathFromGbk(written));
  // 10. The previews black, and the timer re-armed.
  for (int station = 1; station <= kStationCount; ++station) StationPreview(station)->Clear(Qt::black);
  Timer1->stop();
  Timer1->setInterval(60000);
  Timer1->start();
  // 11 to 13. The log page, the housekeeping of old daily files, the first line and what failed.
  PageControl1->setCurrentIndex(4);
  operationLog_->Housekeep(clock_->Now().date());
  AppendLog(kLogInfo, Gbk<"程序开始运行">());
  for (const std::string& line : problems.lines) AppendLog(kLogError, line);
  // 14. Open the server.
  const std::string port = std::to_string(controllerPort);
  if (OpenControllerServer()) {
    AppendLog(kLogSent, Gbk<"启动端口成功: ">() + port);
  } else {
    AppendLog(kLogError, Gbk<"启动端口失败: ">() + port);
  }
  link_->ArmCardReset();
  // The share server publishes ShareFolder itself unless an outside server does.
  if (programSettings.ShareServer == 1) {
    ShareServerOptions options;
    options.linkConnections = kMaxConnections;
    shareServer_ =
        std::make_unique<ShareServer>(programSettings.FileBaseDir, programSettings.HttpBaseDir, options);
    StartShareServer(*shareServer_, programSettings.HttpBaseDir, *this);
    if (programSettings.StatusPage != 0) PublishStatus();
    // The share server keeps places for the addresses of the cards logged in on the link.
    const auto shareCards = [this] {
      if (!shareServer_) return;  // going away
      std::vector<QHostAddress> cards;
      for (int k = 1; k <= link_->slotCount(); ++k) {
        if (link_->SlotConnected(k)) cards.emplace_back(QString::fromStdString(link_->Slot(k).remoteAddress));
      }
      shareServer_->SetCardAddresses(std::move(cards));
    };
    connect(link_.get(), &ControllerLink::BytesHandled, this, shareCards);
    connect(link_.get(), &ControllerLink::ConnectionClosed, this, shareCards);
  }
}

void TForm1::CreateControllerServer() { ServerSvr1 = &link_->ServerSvr1(); }

bool TForm1::OpenControllerServer() { return link_->Listen(controllerPort); }

void TForm1::AppendLog(int kind, const std::string& text) {
  operationLog_->AppendLog(kind, text);
  if (kind == kLogError && road_) road_->NoteError(text);
}

void TForm1::AppendHeartbeat(const std::string& text, const HeartbeatSource& source) {
  operationLog_->AppendHeartbeat(text, source);
}

const TForm1::Binding<SpinEdit, int> TForm1::kSpinBindings[] = {
    {&TForm1::pagetime, &DisplayControls::pagetime},
    {&TForm1::xx1, &DisplayControls::col1},
    {&TForm1::xx2, &DisplayControls::col2},
    {&TForm1::dtx, &DisplayControls::dtx},
    {&TForm1::dty, &DisplayControls::dty},
    {&TForm1::dtw, &DisplayControls::dtw},
    {&TForm1::dth, &DisplayControls::dth},
    {&TForm1::zmx, &DisplayControls::zmx},
    {&TForm1::zmy, &DisplayControls::zmy},
    {&TForm1::zmw, &DisplayControls::zmw},
    {&TForm1::zmh, &DisplayControls::zmh},
    {&TForm1::tx, &DisplayControls::tx},
    {&TForm1::ty, &DisplayControls::ty},
    {&TForm1::tw, &DisplayControls::tw},
    {&TForm1::th, &DisplayControls::th},
    {&TForm1::hjj, &DisplayControls::hjj},
};
const TForm1::Binding<QCheckBox, bool> TForm1::kCheckBindings[] = {
    {&TForm1::zmcheck, &DisplayControls::zmcheck}, {&TForm1::dt1check, &DisplayControls::dt1check},
    {&TForm1::ggcheck, &DisplayControls::ggcheck}, {&TForm1::gg2check, &DisplayControls::ggcheck2},
    {&TForm1::year_, &DisplayControls::year_},     {&TForm1::week_, &DisplayControls::week_},
    {&TForm1::time_, &DisplayControls::time_},
};
const TForm1::Binding<QComboBox, int> TForm1::kComboBindings[] = {
    {&TForm1::ggshowkind, &DisplayControls::ggshowkind},
    {&TForm1::bm, &DisplayControls::bmsel},
    {&TForm1::dtk, &DisplayControls::dtk},
};

DisplayControls TForm1::CollectDisplayControls() const {
  DisplayControls c;
  for (const auto& b : kSpinBindings) c.*b.field = (this->*b.control)->Value();
  for (const auto& b : kCheckBindings) c.*b.field = (this->*b.control)->isChecked();
  for (const auto& b : kComboBindings) c.*b.field = (this->*b.control)->currentIndex();
  c.left = x();
  c.top = y();
  return c;
}

void TForm1::ApplyDisplayControls(const DisplayControls& c) {
  for (const auto& b : kSpinBindings) (this->*b.control)->SetValue(c.*b.field);
  for (const auto& b : kCheckBindings) (this->*b.control)->setChecked(c.*b.field);
  for (const auto& b : kComboBindings) SetIndex(this->*b.control, c.*b.field);
}

DisplayTexts TForm1::CollectDisplayTexts() const {
  DisplayTexts t;
  t.fly = MemoText(fly);
  t.txt = MemoText(Memo2);
  t.gg = AdvertisementEntries();
  return t;
}

void TForm1::ApplyDisplayTexts(const DisplayTexts& t) {
  SetMemoText(fly, t.fly);
  SetMemoText(Memo2, t.txt);
  ListBox1->clear();
  for (const std::string& entry : t.gg) AddAdvertisementItem(entry);
}

void TForm1::Timer1Timer() {
  Timer1->stop();
  Timer1->setInterval(600000);
  Timer1->start();
  road_->OnTick(CollectSendControls());
}

void TForm1::Button7Click() { close(); }

void TForm1::Button4Click() {
  const std::filesystem::path folder = PathFromGbk(appFolder_);
  const std::filesystem::path setupIni = folder / "setup.ini";
  if (!KeepUnloadedFile(setupIni, unloadedFiles_, *this) &&
      !SaveDisplaySettings(setupIni, CollectDisplayControls(), fonts, *this)) {
    return;
  }
  if (!SaveDisplayTexts(folder, CollectDisplayTexts(), *this, unloadedFiles_)) return;
  PageControl1->setCurrentIndex(4);
  Timer1Timer();
  road_->ClearLastSendHour();
}

void TForm1::ChooseButtonFont(QPushButton* TForm1::*button) {
  for (const FontButton& b : kFontButtons) {
    if (b.button != button) continue;
    FontChoice choice = ChoiceFromSlot(fonts.*b.slot, b.test);
    if (dialogs_->ChooseFont(choice)) fonts.*b.slot = SlotFromChoice(choice, b.test);
    return;
  }
}

void TForm1::Button12Click() { ChooseButtonFont(&TForm1::Button12); }
void TForm1::Button5Click() { ChooseButtonFont(&TForm1::Button5); }
void TForm1::Button1Click() { ChooseButtonFont(&TForm1::Button1); }
void TForm1::Button13Click() { ChooseButtonFont(&TForm1::Button13); }
void TForm1::Button3Click() { ChooseButtonFont(&TForm1::Button3); }
void TForm1::Button9Click() { ChooseButtonFont(&TForm1::Button9); }
void TForm1::Button6Click() { ChooseButtonFont(&TForm1::Button6); }
void TForm1::Button10Click() { ChooseButtonFont(&TForm1::Button10); }
void TForm1::Button8Click() { ChooseButtonFont(&TForm1::Button8); }

void TForm1::Button2Click() {
  int colour = fonts.wgcolor;
  if (dialogs_->ChooseColour(colour)) fonts.wgcolor = colour;
}

StationPageInput TForm1::CollectStationPageInput() const {
  StationPageInput in;
  in.W = dtw->Value();
  in.H = dth->Value();
  in.c1 = xx1->Value();
  in.c2 = xx2->Value();
  // Section "清新空气设置": 大标题 first, 站点1 to 站点4 at 6 to 9.
  for (int n = 0; n < kStationCount; ++n)
    in.titles[static_cast<size_t>(n)] = captions.fresh[6 + static_cast<size_t>(n)];
  in.bigTitle = captions.fresh[0];
  in.zd = fonts.zd;
  in.bt = fonts.bt;
  in.dw = fonts.dw;
  in.dt = fonts.dt;
  in.bz2 = fonts.bz2;
  in.wgcolor = fonts.wgcolor;
  return in;
}

TextPageInput TForm1::CollectTextPageInput() const {
  TextPageInput in;
  in.W = dtw->Value();
  in.H = dth->Value();
  in.text = MemoText(Memo2);
  in.layout = bm->currentIndex();
  in.L = hjj->Value();
  in.font = fonts.time;
  // The centred layout takes the box's own lines: the width its text is wrapped to is the
  // viewport's less the document margins, and the vertical scroll bar is always there.
  const int margins = 2 * static_cast<int>(Memo2->document()->documentMargin());
  const int scrollBar = Memo2->verticalScrollBar()->sizeHint().width();
  const int width =
      Memo2->isVisible() ? Memo2->viewport()->width() : Memo2->contentsRect().width() - scrollBar;
  in.lines = TextBoxLines(in.text, width - margins, Memo2->font());
  return in;
}

SendControls TForm1::CollectSendControls() const {
  SendControls c;
  c.dtw = dtw->Value();
  c.dth = dth->Value();
  c.dtk = dtk->currentIndex();
  c.choice.stationPages = dt1check->isChecked();
  c.choice.textPage = ggcheck->isChecked();
  c.choice.advertisements = gg2check->isChecked();
  c.stations = CollectStationPageInput();
  c.textPage = CollectTextPageInput();
  c.subtitle.zmcheck = zmcheck->isChecked();
  c.subtitle.zmx = zmx->Value();
  c.subtitle.zmy = zmy->Value();
  c.subtitle.zmw = zmw->Value();
  c.subtitle.zmh = zmh->Value();
  c.subtitle.fly = MemoText(fly);
  c.subtitle.bz = fonts.bz;
  c.clock.year_ = year_->isChecked();
  c.clock.week_ = week_->isChecked();
  c.clock.time_ = time_->isChecked();
  c.clock.tx = tx->Value();
  c.clock.ty = ty->Value();
  c.clock.tw = tw->Value();
  c.clock.th = th->Value();
  c.clock.font = fonts.clock;
  c.advertisements = AdvertisementEntries();
  return c;
}

void TForm1::ReportError(const std::string& text) { dialogs_->Message(text); }

bool TForm1::Confirm(const std::string& text, const std::string& caption) {
  return dialogs_->Confirm(text, caption);
}

void TForm1::SendBegins() { PageControl1->setCurrentIndex(4); }

void TForm1::ShowStationPreview(int station, const QImage& preview) {
  if (PictureBox* box = StationPreview(station)) box->SetPicture(preview);
}

void TForm1::Button14Click() { road_->ManualSend(CollectSendControls()); }

void TForm1::BitBtn1Click() {
  for (int k : link_->ConnectedSlots()) link_->SendToSlot(k, kDiskQueryCommand, kFrameKindCommand);
}

void TForm1::Button11Click() {
  const std::optional<std::string> page = road_->DrawTextPreview(CollectSendControls());
  std::error_code ec;
  if (page && std::filesystem::is_regular_file(PathFromGbk(*page), ec)) OpenPicture(*page);
}

void TForm1::OpenPicture(const std::string& gbkPath) {
  if (viewer_->Open(gbkPath)) return;
  const std::string text = Format(Gbk<"无法启动图片查看程序, 未能打开 %s">(), {gbkPath});
  AppendLog(kLogError, text);
  dialogs_->Message(text);
}

std::vector<std::string> TForm1::AdvertisementEntries() const {
  std::vector<std::string> entries;
  for (int i = 0; i < ListBox1->count(); ++i) {
    const QListWidgetItem* item = ListBox1->item(i);
    const QVariant gbk = item->data(kGbkEntryRole);
    entries.push_back(gbk.isValid() ? gbk.toByteArray().toStdString() : FromQString(item->text()));
  }
  return entries;
}

void TForm1::AddAdvertisementItem(const std::string& gbk) {
  auto* item = new QListWidgetItem(ToQString(gbk), ListBox1);
  item->setData(kGbkEntryRole, QByteArray::fromStdString(gbk));
}

int TForm1::SelectedAdvertisement() const {
  const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
  return selected.isEmpty() ? -1 : ListBox1->row(selected.front());
}

void TForm1::BitBtn2Click() {
  std::vector<std::string> entries = AdvertisementEntries();
  const size_t before = entries.size();
  AddOutcome outcome = AddOutcome::kCancelled;
  try {
    outcome = AddAdvertisement(entries, PictureFolder(), [this](const std::string&) {
      return dialogs_->OpenFile(AdvertisementDialogFilter());
    });
  } catch (const std::exception&) {
    // An add that fails ends silently; an entry appended before the failure stays listed.
  }
  if (outcome == AddOutcome::kRefused) dialogs_->Message(AdvertisementLimitMessage());
  if (entries.size() > before) AddAdvertisementItem(entries.back());
}

void TForm1::BitBtn3Click() {
  std::vector<std::string> entries = AdvertisementEntries();
  const int row = SelectedAdvertisement();
  if (!DeleteAdvertisement(entries, row)) return;
  delete ListBox1->takeItem(row);
  // The list would move the selection to a neighbour; the next press must not delete it.
  ListBox1->setCurrentItem(nullptr);
  ListBox1->clearSelection();
}

void TForm1::ListBox1DblClick() {
  if (const std::optional<std::string> path =
          AdvertisementToOpen(AdvertisementEntries(), SelectedAdvertisement())) {
    OpenPicture(*path);
  }
}

void TForm1::EscapePressed() {
  if (PageControl1->currentIndex() != 1) return;
  for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
    if (qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTextEdit*>(w)) return;
  }
  BitBtn3->click();
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (centred_) return;
  centred_ = true;
  // Always centred: the position saved by "立即执行" is never restored.
  if (const QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
  }
}

}  // namespace aqled
