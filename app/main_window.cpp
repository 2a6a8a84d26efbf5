#include "app/main_window.h"

#include <QAbstractItemView>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>

#include "app/error_display.h"
#include "app/func_p.h"
#include "app/log_document.h"
#include "app/log_view.h"
#include "app/log_writer.h"
#include "app/port_trouble.h"
#include "app/settings_file.h"
#include "cportsetup/network_ports.h"
#include "platform/comm/network/network_port_name.h"
#include "platform/process/error_display.h"
#include "platform/profile/ini_file.h"

namespace console {
namespace {

constexpr int kClientWidth = 400;
constexpr int kClientHeight = 361;
constexpr int kPanel1Height = 114;
constexpr int kLabel1Height = 22;
constexpr int kStatusHeight = 25;
constexpr char kSection[] = "ComPort1";

// The keys after "BaudRate" that the status bar's line settings panel shows, in order.
constexpr std::array<std::pair<const char*, const char*>, 3> kLineFields = {
    {{"Parity", "None"}, {"DataBits", "8"}, {"StopBits", "1"}}};

struct Preset {
  const char* item;
  const char* command;
};
constexpr std::array<Preset, 3> kPresets = {
    {{"WHO", "01WHO"}, {"PV Read", "01DRS,01,0001"}, {"SV Read", "01DRS,01,0002"}}};

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// Serial bytes and the log: one character per byte, so nothing is lost or merged.
std::string ToBytes(const QString& text) { return text.toLatin1().toStdString(); }

QFont WindowFont() {
  // A fixed-pitch Korean face stands in where the designed one is not installed.
  QFont::insertSubstitution(Text("굴림체"), QStringLiteral("NanumGothicCoding"));
  QFont font(Text("굴림체"));
  font.setPixelSize(12);
  font.setStyleHint(QFont::TypeWriter);
  return font;
}

QLabel* BoldLabel(const char* text, QWidget* parent, int x, int y, bool red = false) {
  auto* label = new QLabel(Text(text), parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  if (red) label->setStyleSheet(QStringLiteral("color: red"));
  label->adjustSize();
  label->move(x, y);
  return label;
}

QPushButton* Button(const char* text, QWidget* parent, int x, int y) {
  auto* button = new QPushButton(Text(text), parent);
  button->setGeometry(x, y, 75, 25);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

// Qt also hides the list when the window goes away; only a list that was open closes up.
void CommandComboBox::hidePopup() {
  const bool wasOpen = view()->isVisible();
  QComboBox::hidePopup();
  if (wasOpen) emit ClosedUp();
}

QValidator::State UpperCaseValidator::validate(QString& input, int&) const {
  input = input.toUpper();
  return Acceptable;
}

TVex_ComTestF::TVex_ComTestF() {
  setWindowTitle(Text("(주)가람벡스 통신 Test"));
  setFont(WindowFont());
  client_ = new QWidget(this);
  setCentralWidget(client_);
  BuildCommandArea(client_);
  BuildLogArea(client_);
  BuildStatusBar();
  setTabOrder(comboBox1_, edtData_);
  setTabOrder(edtData_, bbtSend_);
  setTabOrder(bbtSend_, bitBtn1_);
  setTabOrder(bitBtn1_, bbtExit_);
  setTabOrder(bbtExit_, memo1_);
  setTabOrder(memo1_, log_->Document());  // of the two only the one shown takes the focus
  for (QWidget* w : std::initializer_list<QWidget*>{bbtSend_, bitBtn1_, bbtExit_, comboBox1_,
                                                    edtData_, memo1_, log_->Document()}) {
    w->installEventFilter(this);
  }
  ConfigurePort();
  move(237, 134);
  resize(kClientWidth, kClientHeight);
}

TVex_ComTestF::~TVex_ComTestF() {
  disconnect(comboBox1_, nullptr, this, nullptr);
  comPort1_.OnRxChar = nullptr;
  comPort1_.OnEventThreadError = nullptr;
}

void TVex_ComTestF::BuildCommandArea(QWidget* client) {
  panel1_ = new QFrame(client);
  panel1_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  BoldLabel("COMMAND :", panel1_, 14, 14);
  comboBox1_ = new CommandComboBox(panel1_);
  comboBox1_->setEditable(true);
  comboBox1_->setInsertPolicy(QComboBox::NoInsert);
  for (const Preset& p : kPresets) comboBox1_->addItem(Text(p.item));
  comboBox1_->setCurrentIndex(-1);
  comboBox1_->setEditText(QStringLiteral("ComboBox1"));
  comboBox1_->setGeometry(83, 10, 118, 20);
  connect(comboBox1_, &CommandComboBox::ClosedUp, this,
          [this] { Guarded([this] { ComboBox1CloseUp(); }); });
  BoldLabel("Send Data", panel1_, 14, 45);
  auto* bevel1 = new QFrame(panel1_);
  bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  bevel1->setGeometry(10, 64, 302, 41);
  BoldLabel("STX+", panel1_, 20, 80, true);
  edtData_ = new QLineEdit(QStringLiteral("01WHO"), panel1_);
  edtData_->setValidator(new UpperCaseValidator(edtData_));
  edtData_->setGeometry(51, 76, 206, 20);
  BoldLabel("+CR+LF", panel1_, 260, 80, true);

  panel2_ = new QWidget(panel1_);
  bbtSend_ = Button("Send", panel2_, 5, 3);
  bitBtn1_ = Button("환경설정", panel2_, 5, 52);
  bbtExit_ = Button("종료", panel2_, 5, 80);
  connect(bbtSend_, &QPushButton::clicked, this, [this] { Guarded([this] { bbtSendClick(); }); });
  connect(bitBtn1_, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
  connect(bbtExit_, &QPushButton::clicked, this, &QWidget::close);
}

void TVex_ComTestF::BuildLogArea(QWidget* client) {
  label1_ = BoldLabel(" 송/수신 Data View", client, 0, kPanel1Height);
  label1_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  speedButton1_ = new QToolButton(client);
  speedButton1_->setText(QStringLiteral("Clear"));
  speedButton1_->setAutoRaise(true);
  speedButton1_->setFocusPolicy(Qt::NoFocus);
  log_ = new LogWriter(client);
  memo1_ = log_->View();
  for (QAbstractScrollArea* shown : {static_cast<QAbstractScrollArea*>(memo1_),
                                     static_cast<QAbstractScrollArea*>(log_->Document())}) {
    shown->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(shown, &QWidget::customContextMenuRequested, this,
            [this, shown](const QPoint& at) { ShowLogMenu(shown, at); });
    shown->setFrameStyle(QFrame::Box | QFrame::Plain);
  }
  connect(speedButton1_, &QToolButton::clicked, this, [this] { log_->Clear(); });
}

void TVex_ComTestF::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setSizeGripEnabled(false);
  bar->setFixedHeight(kStatusHeight);
  const std::array<const char*, 4> texts = {"Error", "COM1", "9600,N,8,1", "Product NO.073519"};
  const std::array<int, 4> widths = {50, 50, 120, 50};
  for (size_t i = 0; i < panels_.size(); ++i) {
    panels_[i] = new QLabel(Text(texts[i]), bar);
    panels_[i]->setMinimumWidth(widths[i]);
    const bool last = i + 1 == panels_.size();
    panels_[i]->setAlignment(last ? (Qt::AlignRight | Qt::AlignVCenter) : Qt::AlignCenter);
    if (!last) {
      panels_[i]->setFixedWidth(widths[i]);
      panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }
    bar->addWidget(panels_[i], last ? 1 : 0);
  }
}

void TVex_ComTestF::ConfigurePort() {
  comPort1_.SetName(kSection);
  comPort1_.SetBaudRate(cport::br9600);
  comPort1_.SetPort("COM2");
  comPort1_.Parity().SetBits(cport::prNone);
  comPort1_.SetStopBits(cport::sbOneStopBit);
  comPort1_.SetDataBits(cport::dbEight);
  comPort1_.SetEvents(cport::TComEvents::Full());
  comPort1_.FlowControl().SetOutCTSFlow(false);
  comPort1_.FlowControl().SetOutDSRFlow(false);
  comPort1_.FlowControl().SetControlDTR(cport::dtrEnable);
  comPort1_.FlowControl().SetControlRTS(cport::rtsToggle);
  comPort1_.FlowControl().SetXonXoffOut(false);
  comPort1_.FlowControl().SetXonXoffIn(false);
  comPort1_.Timeouts().SetWriteTotalConstant(100);
  comPort1_.OnRxChar = [this](cport::TObject*, int32_t count) { ComPort1RxChar(count); };
  comPort1_.OnEventThreadError = [this](cport::TObject*, std::exception_ptr error) {
    PortLost(error);
  };
  frameSink_ = [this](const FrameAssembler::Frame& frame) { LogFrame(frame); };
}

void TVex_ComTestF::LayoutControls() {
  const int width = client_->width();
  panel1_->setGeometry(0, 0, width, kPanel1Height);
  panel2_->setGeometry(width - 84 - 2, 2, 84, kPanel1Height - 4);
  label1_->setGeometry(0, kPanel1Height, width, kLabel1Height);
  speedButton1_->setGeometry(width - 50, kPanel1Height + 1, 49, 20);
  const QRect log(0, kPanel1Height + kLabel1Height, width,
                  client_->height() - kPanel1Height - kLabel1Height);
  memo1_->setGeometry(log);
  log_->Document()->setGeometry(log);
}

void TVex_ComTestF::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  LayoutControls();
}

void TVex_ComTestF::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (event->spontaneous() || shown_) return;
  shown_ = true;
  LayoutControls();
  Guarded([this] { FormShow(); });
}

void TVex_ComTestF::FormShow() {
  funcp::InitExePath();
  settingsFile_ = SettingsFilePath(funcp::ExePath);
  LoadOptions();
  ReportUnusableSettingsFile();
  StartPort();
  comboBox1_->setCurrentIndex(0);
  comboBox1_->setFocus();
}

// A settings file the profile rules cannot read is left as it is; the console runs on its
// defaults and says why once.
void TVex_ComTestF::ReportUnusableSettingsFile() {
  const std::string& file = settingsFile_;
  const std::string problem = platform::IniFile(file).Problem();
  if (problem.empty()) return;
  funcp::ShowMessageBox(file + " cannot be used: " + problem +
                            ".\nThe default settings are used and the file is left as it is.",
                        "경고", funcp::MB_ICONWARNING);
}

void TVex_ComTestF::StartPort() {
  const std::string& file = settingsFile_;
  const bool usable = platform::IniFile(file).Problem().empty();
  auto read = [&](const char* key, const char* defaultValue) {
    std::string value = defaultValue;
    if (usable) funcp::ReadIniOrDefault(true, file, kSection, key, defaultValue, value);
    return value;
  };
  const std::string port = read("Port", "COM1");
  ShowPort(port);
  std::string line = read("BaudRate", "9600");
  SetPanel(2, line);
  for (const auto& [key, defaultValue] : kLineFields) {
    line += "," + read(key, defaultValue);
    SetPanel(2, line);
  }
  read("FlowControl", "fcCustom");
  if (usable) {
    comPort1_.RestoreSettings(cport::ssIniFile, file);
  } else {
    comPort1_.SetPort(port);
  }
  comPort1_.FlowControl().SetControlRTS(cport::rtsToggle);
  try {
    comPort1_.OpenPort();
  } catch (...) {
    const std::string why = WhyOpenFailed(comPort1_.Port(), std::current_exception());
    OpenFailed();
    lossBoxUp_ = true;
    funcp::ShowMessageBox("통신 불량", "경고", funcp::MB_ICONERROR, why);
    lossBoxUp_ = false;
    // A reconnect while the box was up opened the port and closed the box.
    if (!comPort1_.Connected()) SetPanel(0, "ERROR", why);
    return;
  }
  PortOpened();
  ShowReady();
}

void TVex_ComTestF::ComboBox1CloseUp() {
  const int index = comboBox1_->findText(comboBox1_->currentText(), Qt::MatchFixedString);
  if (index >= 0 && index < static_cast<int>(kPresets.size())) {
    comboBox1_->setCurrentIndex(index);
    edtData_->setText(Text(kPresets[static_cast<size_t>(index)].command));
  }
}

void TVex_ComTestF::bbtSendClick() {
  if (!SendCommand()) funcp::ShowMessageBox("통신 불량", "경고", funcp::MB_ICONERROR);
}

// A write cut short by its timeout (a line held by flow control) did not send the command:
// it is not logged as sent, and the caller tells the operator.
bool TVex_ComTestF::SendCommand() {
  const std::string& frame = frames_.FrameCommand(ToBytes(edtData_->text()));
  if (comPort1_.WriteText(frame) != static_cast<int32_t>(frame.size())) return false;
  if (ShowsControlBytes(options_)) {
    AddLog("[Send] => ", frame, true);
  } else {
    AddLog("[Send] => ", std::string(1, FrameAssembler::STX) + ToBytes(edtData_->text()), true);
  }
  return true;
}

void TVex_ComTestF::BitBtn1Click() {
  StopPolling();
  DisarmReconnect();
  if (comPort1_.Connected()) comPort1_.ClosePort();
  cport::OfferNetworkPorts(options_.networkPorts, options_.networkPortsUsed);
  comPort1_.RunSetupDialog();
  comPort1_.SaveSettings(cport::ssIniFile, settingsFile_);
  StartPort();
}

// Runs on the main thread for the event thread; what it raises goes back to that thread.
// The delivery's room and the sink are the window's own, so a frame costs no allocation.
void TVex_ComTestF::ComPort1RxChar(int32_t count) {
  comPort1_.ReadText(rxBytes_, count);
  frames_.Deliver(rxBytes_, frameSink_);
}

// With control bytes shown, a frame is shown whole and a piece an STX cut off is shown
// too; as specified, a frame is its payload and a cut piece is noise.
void TVex_ComTestF::LogFrame(const FrameAssembler::Frame& frame) {
  const bool whole = ShowsControlBytes(options_);
  if (frame.cutOff) {
    if (whole) AddLog("[Rcv, cut off] => ", frame.bytes, false);
    return;
  }
  AddLog("[Rcv] => ", whole ? frame.bytes : frame.payload, false);
}

// A network port shows where it is, host:port, and its whole name in the tooltip.
void TVex_ComTestF::ShowPort(const std::string& port) {
  if (const auto network = platform::ParseNetworkPortName(port)) {
    SetPanel(1, network->Address(), port);
  } else {
    SetPanel(1, port);
  }
}

void TVex_ComTestF::SetPanel(int index, const std::string& text, const std::string& tip) {
  panels_[static_cast<size_t>(index)]->setText(QString::fromStdString(text));
  panels_[static_cast<size_t>(index)]->setToolTip(QString::fromStdString(tip));
}

QString TVex_ComTestF::PanelText(int index) const {
  return panels_[static_cast<size_t>(index)]->text();
}

QString TVex_ComTestF::PanelTip(int index) const {
  return panels_[static_cast<size_t>(index)]->toolTip();
}

bool TVex_ComTestF::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
  const int key = static_cast<QKeyEvent*>(event)->key();
  const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
  if (key == Qt::Key_Escape) {
    bbtExit_->click();
    return true;
  }
  if (enter && watched == comboBox1_) {
    Guarded([this] { ComboBox1CloseUp(); });
    edtData_->setFocus();
    return true;
  }
  if (enter && watched == edtData_) bbtSend_->click();
  return QMainWindow::eventFilter(watched, event);
}

void TVex_ComTestF::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    bbtExit_->click();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void TVex_ComTestF::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    platform::ShowError(std::current_exception());
  }
}

}  // namespace console
