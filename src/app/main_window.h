#pragma once
// TForm1, the one window of the application: its pages and controls, the settings and font
// slots, the start-up sequence and the handlers of its buttons. The road of every send and what
// it leaves behind are the send road's (send/send_road.h), which the window owns and drives.

#include <QDateTime>
#include <QElapsedTimer>
#include <QSize>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/log_view.h"
#include "app/picture_box.h"
#include "app/spin_edit.h"
#include "app/status_line.h"
#include "app/viewer.h"
#include "logging/operation_log.h"
#include "render/station_pages.h"
#include "render/text_page.h"
#include "send/send_road.h"
#include "settings/display_settings.h"
#include "settings/program_settings.h"
#include "stations/catalogue.h"
#include "stations/readings.h"
#include "status/status_page.h"
#include "text/datetime.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTcpServer;
class QTcpSocket;
class QTimer;

namespace aqled {

class ControllerLink;
class ShareServer;

// What the window takes from outside; tests pass their own folder, clock and dialogs.
struct FormOptions {
  std::string appFolder;       // AppFolder, GBK, ending in its separator; empty: the executable's
  Clock* clock = nullptr;      // borrowed; null: the system clock
  Dialogs* dialogs = nullptr;  // borrowed; null: the real dialogs
  quint16 controllerPort = 8115;
  PictureViewer* viewer = nullptr;  // borrowed; null: the desktop's picture viewer
  int screenDpi = 0;                // pixels per inch the layout is scaled to; 0: the screen's
};

class TForm1 : public QWidget, public LogSink, private SendListener {
  Q_OBJECT

 public:
  // Builds every page and control with its form values; runs nothing of the start-up.
  explicit TForm1(FormOptions options = {}, QWidget* parent = nullptr);
  ~TForm1() override;

  // The start-up sequence, run once before the window is shown. Without config.ini it shows the
  // message and sets QuitRequested(). Any other step that fails (a file that cannot be read,
  // the picture folder that cannot be made) writes a kind-1 line after "程序开始运行" naming
  // what failed and why; the steps that do not depend on it still run, the servers and the
  // timer among them.
  void FormCreate();
  // The settings and text files that existed but could not be read at start-up; "立即执行"
  // leaves them as they are.
  const std::vector<std::filesystem::path>& UnloadedFiles() const { return unloadedFiles_; }
  // True when start-up found no config.ini: the application must end without showing the window.
  bool QuitRequested() const { return quitRequested_; }

  // The operation log: the line on the page "通讯日志" and in the daily file.
  void AppendLog(int kind, const std::string& text) override;
  void AppendHeartbeat(const std::string& text, const HeartbeatSource& source) override;
  OperationLog& Log() { return *operationLog_; }

  // Paths of the system, GBK, each ending in the platform's separator.
  const std::string& AppFolder() const { return appFolder_; }
  std::string PictureFolder() const;
  std::string LogFolder() const;

  // The values of the controls as setup.ini stores them (a spin edit's text that is not a whole
  // number as its minimum, a combo box without selection as -1), and the texts of the memos
  // and the list box.
  DisplayControls CollectDisplayControls() const;
  DisplayTexts CollectDisplayTexts() const;
  // Puts stored values into the controls, each brought into its control's range; an index
  // outside a combo box's items leaves it without a selection.
  void ApplyDisplayControls(const DisplayControls& c);
  void ApplyDisplayTexts(const DisplayTexts& t);

  // The controls are the window's own; from outside they are found by their object names, which
  // are the names the system gives them (findChild<SpinEdit*>("dtw")).

  // The window's state as it stands, for reading (everything false, 0 or empty before start-up).
  const ProgramSettings& Settings() const { return programSettings; }
  const DisplayCaptions& Captions() const { return captions; }
  const DisplayFonts& Fonts() const { return fonts; }
  const StationUrlTable& StationUrls() const { return road_->StationUrls(); }
  const StationReadings& Readings() const { return road_->Readings(); }
  // The PictureList of the last assembled program.
  const std::string& PictureList() const { return road_->PictureList(); }
  // "hh" of the last send or failed fetch; emptied by "立即执行".
  const std::string& LastSendHour() const { return road_->LastSendHour(); }

  Dialogs& dialogs() { return *dialogs_; }
  Clock& clock() { return *clock_; }
  // The preview picture of station 1 to 4 (Image3 to Image6); null for any other number.
  PictureBox* StationPreview(int station) const;

  // The controller link: the session table (slotCount, slot 1) and the exchange state
  // (deliverySlot, pendingDiskQuery, pendingStopPlay, the stored commands) live there.
  ControllerLink& Link() { return *link_; }
  const ControllerLink& Link() const { return *link_; }
  // The share server when start-up started one (ShareServer=1), else null.
  ShareServer* Share() { return shareServer_.get(); }
  // The send road: every send, the timed delivery, the last send and fetch, what is on air.
  const SendRoad& Road() const { return *road_; }
  // True from the confirmation of a send until its handler returns.
  bool Sending() const { return road_->Sending(); }
  // How the last send (manual or timed) stands; nothing before the first.
  const std::optional<SendRecord>& LastSend() const { return road_->LastSend(); }

  // Shows a transient message (GBK) in the status line, over its fields.
  void ShowStatusMessage(const std::string& gbkText) override;

  // What a send, a tick or the text page preview reads of the controls and slots at this moment.
  SendControls CollectSendControls() const;

 public slots:
  // Re-arms Timer1 at ten minutes, ends a delivery past its limit, and starts the timed send
  // when its slot is due (see DeliverySchedule).
  void Timer1Timer();
  void Button7Click();
  void Button4Click();
  // The font and colour buttons.
  void Button12Click();
  void Button5Click();
  void Button1Click();
  void Button13Click();
  void Button3Click();
  void Button9Click();
  void Button6Click();
  void Button10Click();
  void Button8Click();
  void Button2Click();
  // "发送C2": confirm, fetch and draw the station pages, assemble the picture list, deliver.
  // Refused with a kind-1 line (also in the status line) while an earlier send is running.
  void Button14Click();
  // Sends the disk query to every connected card; nothing when none is.
  void BitBtn1Click();
  // "效果预览": renders g.bmp and opens it in the picture viewer.
  void Button11Click();
  // The advertisement list: add (limit message), delete the selection, open the selection.
  void BitBtn2Click();
  void BitBtn3Click();
  void ListBox1DblClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The page controls, named as everywhere in the system.
  QTabWidget* PageControl1;
  QWidget *TabSheet1, *TabSheet3, *TabSheet5, *TabSheet6, *TabSheet8;
  // Page 0 "显示设置".
  QWidget* Panel2;
  QLabel* Label7;
  SpinEdit* pagetime;
  QPushButton *Button12, *Button5, *Button1, *Button13, *Button3, *Button9, *Button2;
  QCheckBox* dt1check;
  QComboBox* ggshowkind;
  QPushButton* Button4;
  QComboBox* dtk;
  QPushButton *Button14, *Button7, *BitBtn1;
  QGroupBox* GroupBox8;
  QLabel *Label6, *Label13, *Label14, *Label15;
  SpinEdit *dtx, *dty, *dtw, *dth;
  QGroupBox* GroupBox5;
  QLabel *Label8, *Label9;
  SpinEdit *xx1, *xx2;
  // Page 1 "广告及时钟设置".
  QWidget* Panel1;
  QGroupBox* GroupBox7;
  QLabel *Label24, *Label25, *Label26, *Label27;
  SpinEdit *tx, *ty, *tw, *th;
  QCheckBox *year_, *week_, *time_;
  QPushButton* Button10;
  QGroupBox* GroupBox1;
  QLabel *Label16, *Label17, *Label18, *Label23;
  SpinEdit *zmx, *zmy, *zmw, *zmh;
  QCheckBox* zmcheck;
  QPushButton* Button6;
  QPlainTextEdit* fly;
  QGroupBox* GroupBox3;
  QListWidget* ListBox1;
  QPushButton *BitBtn2, *BitBtn3;
  QCheckBox* gg2check;
  QPlainTextEdit* Memo1;
  // Page 2 "文本输入".
  QPlainTextEdit* Memo2;
  QComboBox* bm;
  QLabel* Label28;
  SpinEdit* hjj;
  QPushButton *Button8, *Button11;
  QCheckBox* ggcheck;
  // Page 3 "清新空气预览".
  QTabWidget* PageControl2;
  QWidget *TabSheet7, *TabSheet9, *TabSheet10, *TabSheet11;
  PictureBox *Image3, *Image4, *Image5, *Image6;
  // Page 4 "通讯日志".
  LogView* log;
  // Below the pages: the card, the last send, the timed delivery and the last fetch.
  StatusLine* StatusBar1;
  // Components without a place on screen.
  QTimer* Timer1;
  // The controller server; owned by the link (its object name "ServerSvr1"), set early in
  // start-up (null before).
  QTcpServer* ServerSvr1 = nullptr;

  void BuildPages();
  void BuildSettingsPage();
  void BuildAdvertisementPage();
  void BuildTextPage();
  void BuildPreviewPage();
  void BuildLogPage();
  void ApplyGeometry();
  void ConnectHandlers();
  // Start-up makes the controller server early, not yet listening, and opens it last: listen
  // on all addresses; false when the port cannot be opened.
  void CreateControllerServer();
  bool OpenControllerServer();
  // The nine font buttons: the slot each chooses and the bold test its choice is taken back by.
  struct FontButton {
    QPushButton* TForm1::*button;
    void (TForm1::*handler)();
    FontSlot DisplayFonts::*slot;
    BoldTest test;
  };
  static const FontButton kFontButtons[];
  // Opens the font dialog for the slot of `button` and takes the choice back by its bold test;
  // cancel leaves it.
  void ChooseButtonFont(QPushButton* TForm1::*button);
  // The controls setup.ini stores, each beside its field.
  template <class Control, class Field>
  struct Binding {
    Control* TForm1::*control;
    Field DisplayControls::*field;
  };
  static const Binding<SpinEdit, int> kSpinBindings[];
  static const Binding<QCheckBox, bool> kCheckBindings[];
  static const Binding<QComboBox, int> kComboBindings[];
  // Esc presses BitBtn3 while page 1 is shown, unless the focus is in a multi-line text box.
  void EscapePressed();
  // Pixels at 120 pixels per inch on this screen.
  int Px(int at120) const;
  // The status line: built, wired and fed as things happen.
  void BuildStatusLine();
  void ConnectStatus();
  void RefreshStatus();
  // Redraws the status line soon: a burst of events redraws it once.
  void ScheduleStatusRefresh();
  // What the send road tells the window (SendListener).
  void SendStatusChanged() override { RefreshStatus(); }
  void SendBegins() override;
  // The status page, status.json and the metrics on the share server, and their facts.
  void PublishStatus();
  StatusFacts CollectStatusFacts() const;
  // The window's general error report: a message box with the text (GBK).
  void ReportError(const std::string& text) override;
  bool Confirm(const std::string& text, const std::string& caption) override;
  void ShowStationPreview(int station, const QImage& preview) override;
  // What the pages are drawn from, read from the controls and slots at this moment.
  StationPageInput CollectStationPageInput() const;
  TextPageInput CollectTextPageInput() const;
  // Shows the picture file in the picture viewer; when none can be started, says so in a kind-1
  // line and a message box naming the file.
  void OpenPicture(const std::string& gbkPath);
  // The row of the selected entry of ListBox1, -1 for none.
  int SelectedAdvertisement() const;
  std::vector<std::string> AdvertisementEntries() const;
  // Appends a row to ListBox1 for the entry (GBK).
  void AddAdvertisementItem(const std::string& gbk);

  // Window state (everything false, 0 or empty before start-up).
  ProgramSettings programSettings;
  DisplayCaptions captions;  // the station page captions and "字符串"
  DisplayFonts fonts;        // the nine font slots and the table colour wgcolor
  quint16 controllerPort = 0;
  std::string appFolder_;
  std::unique_ptr<Clock> ownClock_;
  Clock* clock_;
  std::unique_ptr<Dialogs> ownDialogs_;
  Dialogs* dialogs_;
  std::unique_ptr<OperationLog> operationLog_;
  int screenDpi_ = 96;
  bool quitRequested_ = false;
  bool centred_ = false;
  std::unique_ptr<DesktopViewer> ownViewer_;
  PictureViewer* viewer_;
  std::unique_ptr<ControllerLink> link_;
  std::unique_ptr<ShareServer> shareServer_;
  // After the link, which it borrows.
  std::unique_ptr<SendRoad> road_;
  QTimer* statusTimer_ = nullptr;
  QTimer* statusDelay_ = nullptr;
  std::vector<std::filesystem::path> unloadedFiles_;
  StatusAnswers statusAnswers_;
  QElapsedTimer statusClock_;  // the age of the kept answers
  QDateTime startedAt_;
};

}  // namespace aqled
