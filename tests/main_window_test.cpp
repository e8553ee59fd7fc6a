// The main window: its design, the start command with the engine behind it,
// Enter in the fields, the link, and the names its settings are stored under.
#include "form1.h"

#include <QApplication>
#include <QDesktopServices>
#include <QTest>
#include <gtest/gtest.h>

#include <mutex>

#include "config_home.h"
#include "loopback.h"
#include "notices.h"
#include "proxy.h"
#include "roundtrip.h"

namespace {

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    QCoreApplication::setApplicationName("Velotrunk");
    win::SetMessageBoxHandler([this](win::HWND, const std::string& text, const std::string& caption, win::UINT type) {
      std::lock_guard lock(boxesMutex_);  // the engine's boxes come from its own thread
      boxes_.push_back(caption + "|" + text + "|" + std::to_string(type));
      return win::IDOK;
    });
    ListenPort = -7;
    ServerPort = -7;
    ServerAddress = "unset";
    form_ = std::make_unique<TForm1>();
  }
  void TearDown() override {
    form_.reset();
    StopRelayThread();
    ResetEngineState();
    win::SetMessageBoxHandler(nullptr);
  }

  void Fill(const QString& listen, const QString& address, const QString& server) {
    form_->ip->setText(listen);
    form_->oip->setText(address);
    form_->op->setText(server);
  }
  bool Running() const { return form_->btn->isHidden() && !form_->lbl->isHidden(); }
  void ExpectError() {
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], "Error|Неверно указаны параметры или порт используется!|16");
    EXPECT_FALSE(Running());
    boxes_.clear();
  }

  std::vector<std::string> Boxes() {
    std::lock_guard lock(boxesMutex_);
    return boxes_;
  }

  ConfigHome config_;
  std::mutex boxesMutex_;
  std::vector<std::string> boxes_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(MainWindow, IsBuiltFromItsDesign) {
  TForm1& f = *form_;
  EXPECT_EQ(f.windowTitle(), "IP VeloTrunk");
  EXPECT_EQ(f.size(), QSize(256, 168));
  EXPECT_EQ(f.minimumSize(), f.maximumSize());
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(f.font().pixelSize(), 11);
  EXPECT_EQ(f.Position(), TForm::poScreenCenter);

  struct Expected {
    QWidget* widget;
    const char* name;
    const char* className;
    QRect geometry;  // the size counts only where it does not follow from text
  };
  for (const Expected& e : std::initializer_list<Expected>{
           {f.DsGroup1, "DsGroup1", "TDsGroup", {0, 0, 256, 168}},
           {f.lbl, "lbl", "TRxLabel", {8, 123, 0, 0}},
           {f.RxLabel2, "RxLabel2", "TRxLabel", {8, 16, 0, 0}},
           {f.RxLabel3, "RxLabel3", "TRxLabel", {8, 52, 0, 0}},
           {f.RxLabel4, "RxLabel4", "TRxLabel", {8, 88, 0, 0}},
           {f.RxLabel1, "RxLabel1", "TRxLabel", {48, 152, 0, 0}},
           {f.btn, "btn", "TSEFlatButton", {168, 120, 75, 25}},
           {f.ip, "ip", "TksoEdit", {128, 16, 121, 21}},
           {f.oip, "oip", "TksoEdit", {128, 52, 121, 21}},
           {f.op, "op", "TksoEdit", {128, 88, 121, 21}}}) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.widget->objectName(), e.name);
    EXPECT_STREQ(e.widget->metaObject()->className(), e.className);
    EXPECT_EQ(e.widget->pos(), e.geometry.topLeft());
    if (!e.geometry.size().isEmpty()) {
      EXPECT_EQ(e.widget->size(), e.geometry.size());
    }
    if (e.widget != f.DsGroup1) {
      EXPECT_EQ(e.widget->parentWidget(), f.DsGroup1);
    }
  }
  EXPECT_EQ(f.DsGroup1->Color_High(), clBtnHighlight);
  EXPECT_EQ(f.DsGroup1->Color_Low(), clBtnShadow);

  EXPECT_EQ(f.lbl->Caption(), "Velotrunk is active...");
  EXPECT_TRUE(f.lbl->isHidden());
  EXPECT_EQ(f.lbl->font().pixelSize(), 16);
  EXPECT_TRUE(f.lbl->font().bold());
  EXPECT_EQ(f.lbl->FontColor(), clGreen);
  EXPECT_EQ(f.RxLabel2->Caption(), "Входящий порт:");
  EXPECT_EQ(f.RxLabel3->Caption(), "IP-сервера:\r\n(куда перенаправить)");
  EXPECT_EQ(f.RxLabel4->Caption(), "Порт сервера:\r\n(куда перенаправить)");
  EXPECT_EQ(f.RxLabel3->height(), 2 * f.RxLabel2->height());  // two lines of the window font
  EXPECT_EQ(f.RxLabel1->Caption(), kHomePage);
  EXPECT_EQ(f.RxLabel1->FontColor(), clBlue);
  EXPECT_EQ(f.RxLabel1->Color(), clBtnFace);
  EXPECT_EQ(f.RxLabel1->font().pixelSize(), 11);
  EXPECT_EQ(f.RxLabel1->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_LE(f.RxLabel1->geometry().right(), 255);

  EXPECT_EQ(f.btn->text(), "Назначить");
  EXPECT_TRUE(f.btn->Default());
  EXPECT_EQ(f.btn->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(f.ip->text(), "3128");
  EXPECT_EQ(f.oip->text(), "192.168.1.1");
  EXPECT_EQ(f.op->text(), "3128");
  for (TksoEdit* edit : {f.ip, f.oip, f.op}) {
    EXPECT_TRUE(edit->Flat());
    EXPECT_EQ(edit->BorderStyle(), kbsSunken);
    EXPECT_EQ(edit->BorderStyleFlat(), kbsEtched);
    EXPECT_EQ(edit->BorderStyleFocused(), kbsOuterSunken);
  }

  // The tab order: button, incoming port, server address, server port.
  EXPECT_EQ(f.btn->nextInFocusChain(), f.ip);
  EXPECT_EQ(f.ip->nextInFocusChain(), f.oip);
  EXPECT_EQ(f.oip->nextInFocusChain(), f.op);
}

TEST_F(MainWindow, AStartHidesTheButtonShowsTheStatusAndRelaysThroughTheEngine) {
  loopback::TestServer echo(loopback::TestServer::kEcho);
  int listen = loopback::FreePort();
  Fill(" " + QString::number(listen), "127.0.0.1", QString::number(echo.port()));
  QTest::mouseClick(form_->btn, Qt::LeftButton);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_TRUE(Running());
  EXPECT_EQ(ListenPort, listen);
  EXPECT_EQ(ServerPort, echo.port());
  EXPECT_EQ(ServerAddress, "127.0.0.1");
  EXPECT_EQ(RoundTrip(listen, "hello through the window"), "hello through the window");
}

TEST_F(MainWindow, AFailedConversionLeavesTheStepsBeforeItDone) {
  Fill("3128 ", "127.0.0.1", "3128");  // trailing blank in the incoming port
  form_->btnClick();
  ExpectError();
  EXPECT_EQ(ServerAddress, "127.0.0.1");
  EXPECT_EQ(ServerPort, 3128);
  EXPECT_EQ(ListenPort, -7);

  for (const char* hex : {"$C38", "x0C38", "0xC38"}) {
    ServerPort = -7;
    Fill("", "127.0.0.2", hex);
    form_->btnClick();
    ExpectError();
    EXPECT_EQ(ServerPort, 3128) << hex;
  }

  ServerPort = -7;
  Fill("3128", "127.0.0.3", "");
  form_->btnClick();
  ExpectError();
  EXPECT_EQ(ServerAddress, "127.0.0.3");
  EXPECT_EQ(ServerPort, -7);
}

TEST_F(MainWindow, PortsOutsideOneTo65535AreRefused) {
  for (const char* port : {"70000", "0", "-80", "65536", "$FFFFFFFF"}) {
    Fill(port, "127.0.0.1", "8000");
    form_->btnClick();
    ExpectError();
    EXPECT_EQ(ServerPort, 8000) << port;
    EXPECT_EQ(ListenPort, -7) << port;

    ServerPort = -7;
    Fill("8000", "127.0.0.1", port);
    form_->btnClick();
    ExpectError();
    EXPECT_EQ(ServerPort, -7) << port;
  }
}

TEST_F(MainWindow, AddressesThatCanNeverWorkAndTheRelaysOwnPortAreRefused) {
  int listen = loopback::FreePort();
  struct Case {
    QString address;
    int serverPort;
  };
  for (const Case& c : std::initializer_list<Case>{{"", 8000},
                                                   {"localhost", 8000},
                                                   {"999.1.1.1", 8000},
                                                   {"::1", 8000},
                                                   {"255.255.255.255", 8000},
                                                   {"127.0.0.1", listen},
                                                   {"127.9.9.9", listen},
                                                   {"0.0.0.0", listen}}) {
    Fill(QString::number(listen), c.address, QString::number(c.serverPort));
    form_->btnClick();
    SCOPED_TRACE(c.address.toStdString());
    ExpectError();
  }

  // Any text that inet_addr reads as an address passes as it was typed.
  loopback::TestServer echo(loopback::TestServer::kEcho);
  Fill(QString::number(listen), "127.1", QString::number(echo.port()));
  form_->btnClick();
  EXPECT_TRUE(Running());
  EXPECT_EQ(ServerAddress, "127.1");
  EXPECT_EQ(RoundTrip(listen, "short form"), "short form");
}

TEST_F(MainWindow, AFailedStartReturnsToIdleAndTheUserCanTryAgain) {
  loopback::TestServer echo(loopback::TestServer::kEcho);
  int port = 0;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    loopback::TestServer holder(loopback::TestServer::kSink);  // holds the port
    port = holder.port();
    Fill(QString::number(port), "127.0.0.1", QString::number(echo.port()));
    form_->btnClick();
    EXPECT_TRUE(Running());  // until the engine has told and ended
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Running(); }, 30000));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"BIND TCP ERROR!!!|This port in use!|0", "ERROR!!!|listen error!|0"}));
    std::lock_guard lock(boxesMutex_);
    boxes_.clear();
  }
  // The port is free again: the third start relays, and stays running.
  form_->btnClick();
  std::size_t noticesBefore = NoticesAsked();
  EXPECT_EQ(RoundTrip(port, "third time"), "third time");
  EXPECT_TRUE(Running());
  EXPECT_EQ(NoticesAsked(), noticesBefore);
}

TEST_F(MainWindow, EnterInAnyFieldStartsWhileIdleAndDoesNothingAfterAStart) {
  for (TksoEdit* TForm1::*field : {&TForm1::ip, &TForm1::oip, &TForm1::op}) {
    form_ = std::make_unique<TForm1>();
    form_->show();
    Fill(QString::number(loopback::FreePort()), "127.0.0.1", "8000");
    QApplication::setActiveWindow(form_.get());
    (form_.get()->*field)->setFocus();
    QTest::keyClick(form_.get()->*field, Qt::Key_Return);
    EXPECT_TRUE(Running()) << (form_.get()->*field)->objectName().toStdString();
    EXPECT_TRUE(boxes_.empty());

    form_->op->setText("70000");  // would fail if the command ran again
    ServerPort = -7;
    QTest::keyClick(form_.get()->*field, Qt::Key_Return);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(ServerPort, -7);
    form_.reset();
    StopRelayThread();
    ResetEngineState();
  }
}

// Takes the place of the desktop's URL handler.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }
};

TEST_F(MainWindow, TheLinkOpensTheHomePage) {
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler("https", &recorder, "Open");
  form_->show();
  QTest::mouseClick(form_->RxLabel1, Qt::LeftButton);
  QDesktopServices::unsetUrlHandler("https");
  ASSERT_EQ(recorder.opened.size(), 1u);
  EXPECT_EQ(recorder.opened[0], QUrl(kHomePage));
  EXPECT_FALSE(Running());
}

TEST_F(MainWindow, TheFieldsAreStoredUnderTheirDesignNames) {
  form_->show();
  form_->oip->setText(" 127.0.0.1 ");
  form_->close();
  form_.reset();
  EXPECT_NE(config_.StoreText().find("\"Visible\"=\"0\"\n\"ip_Text\"=\"3128\"\n\"oip_Text\"=\"127.0.0.1\"\n\"op_Text\"=\"3128\"\n"),
            std::string::npos)
      << config_.StoreText();

  form_ = std::make_unique<TForm1>();
  form_->show();
  EXPECT_EQ(form_->oip->text(), "127.0.0.1");
}

TEST_F(MainWindow, ALongStoredTextComesBackWholeAndIsStoredWhole) {
  const std::string longText(100000, '7');
  config_.WriteStore("[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\n\"op_Text\"=\"" + longText + "\"\n");
  form_->show();
  EXPECT_EQ(form_->op->text().size(), 100000);
  form_->close();
  form_.reset();
  EXPECT_NE(config_.StoreText().find("\"op_Text\"=\"" + longText + "\""), std::string::npos);
}

}  // namespace

#include "main_window_test.moc"
