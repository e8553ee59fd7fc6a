#include "form1.h"

#include <QApplication>
#include <QDesktopServices>
#include <QPointer>
#include <QUrl>
#include <limits>

#include "design_font.h"
#include "loading.h"
#include "notices.h"
#include "proxy.h"
#include "server_address.h"
#include "strtoint.h"
#include "threads.h"

TForm1* Form1 = nullptr;

namespace {

TRxLabel* MakeLabel(QWidget* parent, const char* name, QRect geometry, const QString& caption) {
  auto* label = new TRxLabel(parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->SetCaption(caption);
  return label;
}

TksoEdit* MakeEdit(QWidget* parent, const char* name, QRect geometry, const QString& text) {
  auto* edit = new TksoEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(geometry);
  edit->setMaxLength(std::numeric_limits<int>::max());  // a text of any length, as stored
  edit->setText(text);
  edit->SetFlat(true);
  edit->SetBorderStyle(kbsSunken);
  edit->SetBorderStyleFlat(kbsEtched);
  edit->SetBorderStyleFocused(kbsOuterSunken);
  return edit;
}

// A port field's text as a port: the integer conversion, then 1 to 65535.
// Anything else throws, like a text that does not convert.
std::int32_t ReadPort(const QString& text) {
  std::int32_t port = win::StrToInt(text.toStdString());
  if (port < 1 || port > 65535) throw win::EConvertError(text.toStdString() + " is not a port");
  return port;
}

// The server's address as typed, when inet_addr finds an address in it;
// anything else throws like a port that does not convert (a relay to it
// would drop every client without a word).
std::string ReadServerAddress(const QString& text) {
  std::string address = text.toStdString();
  if (!IsServerAddress(address)) throw win::EConvertError(address + " is not an IPv4 address");
  return address;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : TForm(parent) {
  {
    LoadingScope loading(this);
    setObjectName("Form1");
    setWindowTitle("IP VeloTrunk");
    setFixedSize(256, 168);
    SetPosition(poScreenCenter);
    setFont(DesignFont(11));
    QPalette face = palette();
    face.setColor(QPalette::Window, ColorToRGB(clBtnFace));
    setPalette(face);
    setAutoFillBackground(true);

    // First among the children, so that the fields outlive it when the
    // window is destroyed (it saves them then if the close did not).
    FormStorage1 = new TFormStorage(this);
    FormStorage1->setObjectName("FormStorage1");
    FormStorage1->SetIniFileName("Dorwen");
    FormStorage1->SetIniSection("Velotrunk");
    FormStorage1->SetUseRegistry(true);
    FormStorage1->SetPreventResize(true);
    FormStorage1->SetStoredProps({"ip.Text", "oip.Text", "op.Text"});

    DsGroup1 = new TDsGroup(this);
    DsGroup1->setObjectName("DsGroup1");
    DsGroup1->setGeometry(0, 0, 256, 168);
    DsGroup1->SetColor_High(clBtnHighlight);
    DsGroup1->SetColor_Low(clBtnShadow);

    lbl = MakeLabel(DsGroup1, "lbl", {8, 123, 162, 20}, "Velotrunk is active...");
    lbl->setFont(DesignFont(16, true));
    lbl->SetFontColor(clGreen);
    lbl->hide();
    RxLabel2 = MakeLabel(DsGroup1, "RxLabel2", {8, 16, 82, 13}, "Входящий порт:");
    RxLabel3 = MakeLabel(DsGroup1, "RxLabel3", {8, 52, 111, 26}, "IP-сервера:\r\n(куда перенаправить)");
    RxLabel4 = MakeLabel(DsGroup1, "RxLabel4", {8, 88, 111, 26}, "Порт сервера:\r\n(куда перенаправить)");
    RxLabel1 = MakeLabel(DsGroup1, "RxLabel1", {48, 152, 117, 13}, kHomePage);
    RxLabel1->setCursor(Qt::PointingHandCursor);
    RxLabel1->SetColor(clBtnFace);
    RxLabel1->setFont(DesignFont(11));
    RxLabel1->SetFontColor(clBlue);

    btn = new TSEFlatButton(DsGroup1);
    btn->setObjectName("btn");
    btn->setGeometry(168, 120, 75, 25);
    btn->setText("Назначить");
    btn->setCursor(Qt::PointingHandCursor);
    btn->SetDefault(true);

    ip = MakeEdit(DsGroup1, "ip", {128, 16, 121, 21}, "3128");
    oip = MakeEdit(DsGroup1, "oip", {128, 52, 121, 21}, "192.168.1.1");
    op = MakeEdit(DsGroup1, "op", {128, 88, 121, 21}, "3128");
    setTabOrder(btn, ip);
    setTabOrder(ip, oip);
    setTabOrder(oip, op);

    connect(RxLabel1, &TRxLabel::OnClick, this, &TForm1::RxLabel1Click);
    connect(btn, &TSEFlatButton::OnClick, this, &TForm1::btnClick);
  }
  FormStorage1->Loaded();

  // Told on the engine thread as it ends; the window hears of it on its own.
  SetRelayEndedHandler([window = QPointer<TForm1>(this)](win::DWORD exitCode) {
    if (exitCode != RELAY_START_FAILED) return;
    QMetaObject::invokeMethod(qApp, [window] {
      if (window) window->RelayStartFailed();
    }, Qt::QueuedConnection);
  });
}

void TForm1::btnClick() {
  if (btn->isHidden()) return;  // started already: the engine runs once
  try {
    ServerAddress = ReadServerAddress(oip->text());
    ServerPort = ReadPort(op->text());
    ListenPort = ReadPort(ip->text());
    // A relay to its own port would connect to itself until it runs out of descriptors.
    if (IsOwnListener(ServerAddress, ServerPort, ListenPort)) throw win::EConvertError("the relay's own port");
    win::DWORD threadId = 0;
    win::CloseHandle(win::CreateThread(nullptr, 0, RelayThread, nullptr, 0, &threadId));
    btn->hide();
    lbl->show();
  } catch (...) {
    win::MessageBoxA(nullptr, "Неверно указаны параметры или порт используется!", "Error", win::MB_ICONERROR);
  }
}

// The engine could not listen and has ended after its notices were closed:
// the window is idle again, so that the user can correct the fields and
// press the button once more.
void TForm1::RelayStartFailed() {
  lbl->hide();
  btn->show();
}

void TForm1::RxLabel1Click() { QDesktopServices::openUrl(QUrl(kHomePage)); }
