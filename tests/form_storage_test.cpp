// The settings store component against a small form of plain line edits.
#include "form_storage.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "config_home.h"
#include "notices.h"
#include "registry.h"
#include "tform.h"
#include "window_placement.h"

namespace fs = std::filesystem;

namespace {

class TestForm : public TForm {
 public:
  TestForm() {
    storage = new TFormStorage(this);  // first, so that the fields outlive it
    storage->setObjectName("FormStorage1");
    storage->SetIniFileName("Dorwen");
    storage->SetIniSection("Velotrunk");
    storage->SetPreventResize(true);
    storage->SetStoredProps({"ip.Text", " oip . TEXT ", "op.text", "nothing.Text", "ip.NoSuch", "bad", ".Text"});
    ip = Edit("ip", "3128", 16);
    oip = Edit("oip", "192.168.1.1", 52);
    op = Edit("op", "3128", 88);
    setFixedSize(256, 168);
    SetPosition(poScreenCenter);
    storage->Loaded();
  }

  TFormStorage* storage;
  QLineEdit* ip;
  QLineEdit* oip;
  QLineEdit* op;
  bool refuseClose = false;

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (refuseClose) event->ignore();
  }

 private:
  QLineEdit* Edit(const char* name, const char* text, int top) {
    auto* edit = new QLineEdit(text, this);
    edit->setObjectName(name);
    edit->setGeometry(128, top, 121, 21);
    return edit;
  }
};

struct Box {
  std::string text, caption;
  win::UINT type;
};

class FormStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    QCoreApplication::setApplicationName("Velotrunk");
    win::SetMessageBoxHandler([this](win::HWND, const std::string& text, const std::string& caption, win::UINT type) {
      boxes_.push_back({text, caption, type});
      return win::IDOK;
    });
  }
  void TearDown() override {
    win::SetMessageBoxHandler(nullptr);
    win::SetRegistryWriteFault(nullptr);
  }

  // One run of the program: the form is shown; the caller closes it.
  std::unique_ptr<TestForm> Start() {
    auto form = std::make_unique<TestForm>();
    form->show();
    QCoreApplication::processEvents();
    return form;
  }
  void Close(std::unique_ptr<TestForm>& form) {
    form->close();
    form.reset();
  }

  fs::path File() const { return config_.StoreFile(); }
  std::string FileText() const { return config_.StoreText(); }
  void WriteStore(const std::string& values) const {
    config_.WriteStore("[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\n" + values);
  }
  // The value lines of the form's key, in file order.
  std::vector<std::string> StoredValues() const {
    std::istringstream in(FileText());
    std::vector<std::string> lines;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with('[')) inside = line == "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]";
      else if (inside && !line.empty()) lines.push_back(line);
    }
    return lines;
  }

  static QPoint Centred() {
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    return {(screen.width() - 256) / 2, (screen.height() - 168) / 2};
  }
  static std::string Suffix() {
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    return "(" + std::to_string(screen.width()) + "x" + std::to_string(screen.height()) + ")";
  }
  static std::string NormPos(const QRect& r) {
    return std::to_string(r.left()) + "," + std::to_string(r.top()) + "," + std::to_string(r.left() + r.width()) +
           "," + std::to_string(r.top() + r.height());
  }
  static std::string Ppi() { return std::to_string(ScreenPixelsPerInch()); }

  ConfigHome config_;
  std::vector<Box> boxes_;
};

TEST_F(FormStorage, FirstRunWritesNothingOpensCentredAndTheCloseWritesTwelveValues) {
  auto form = Start();
  EXPECT_FALSE(fs::exists(File()));
  EXPECT_EQ(form->pos(), Centred());
  EXPECT_EQ(form->ip->text(), "3128");
  EXPECT_EQ(form->oip->text(), "192.168.1.1");
  std::string normal = NormPos(form->frameGeometry());
  Close(form);

  EXPECT_EQ(StoredValues(), (std::vector<std::string>{
                                "\"FormVersion\"=\"0\"",
                                "\"Flags\"=\"0\"",
                                "\"ShowCmd\"=\"1\"",
                                "\"PixelsPerInch\"=\"" + Ppi() + "\"",
                                "\"MinMaxPos" + Suffix() + "\"=\"-1,-1,-1,-1\"",
                                "\"MinMaxPos\"=\"-1,-1,-1,-1\"",
                                "\"NormPos" + Suffix() + "\"=\"" + normal + "\"",
                                "\"NormPos\"=\"" + normal + "\"",
                                "\"Visible\"=\"0\"",
                                "\"ip_text\"=\"3128\"",  // the property as QLineEdit spells it
                                "\"oip_text\"=\"192.168.1.1\"",
                                "\"op_text\"=\"3128\"",
                            }));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(FormStorage, FieldsComeBackTrimmedAndAnEmptiedFieldStaysEmpty) {
  auto form = Start();
  form->ip->setText("  8080\t ");
  form->oip->clear();
  form->op->setText("\x01 80");
  Close(form);
  EXPECT_NE(FileText().find("\"ip_text\"=\"8080\"\n\"oip_text\"=\"\"\n\"op_text\"=\"80\""), std::string::npos);

  form = Start();
  EXPECT_EQ(form->ip->text(), "8080");
  EXPECT_EQ(form->oip->text(), "");
  EXPECT_EQ(form->op->text(), "80");
  Close(form);

  WriteStore("\"ip_text\"=\"  1080 \"\n\"oip_text\"=hex(2):20,00,31,00,32,00,37,00,2e,00,30,00,2e,00,30,00,2e,00,31,00,"
             "00,00,ff,00\n");
  form = Start();
  EXPECT_EQ(form->ip->text(), "1080");
  EXPECT_EQ(form->oip->text(), "127.0.0.1");  // expandable text up to its first zero
  EXPECT_EQ(form->op->text(), "3128");        // missing: the design text stays
}

TEST_F(FormStorage, AMovedWindowComesBackAtItsPlaceWithTheDesignSize) {
  auto form = Start();
  form->move(100, 80);
  ASSERT_EQ(form->frameGeometry().topLeft(), QPoint(100, 80));
  std::string normal = NormPos(form->frameGeometry());
  Close(form);
  EXPECT_NE(FileText().find("\"NormPos\"=\"" + normal + "\""), std::string::npos);

  WriteStore("\"NormPos\"=\"100,80,900,900\"\n\"PixelsPerInch\"=\"" + Ppi() + "\"\n");
  form = Start();
  EXPECT_EQ(form->pos(), QPoint(100, 80));
  EXPECT_EQ(form->size(), QSize(256, 168));
}

TEST_F(FormStorage, TheSuffixedPositionIsPreferredOverThePlainOne) {
  WriteStore("\"NormPos\"=\"10,20,266,188\"\n\"NormPos" + Suffix() + "\"=\"50, 60,,306\"\n");
  EXPECT_EQ(Start()->pos(), QPoint(50, 60));
  WriteStore("\"NormPos\"=\"10,20,266,188\"\n\"NormPos" + Suffix() + "\"=\"\"\n");
  EXPECT_EQ(Start()->pos(), QPoint(10, 20));
  WriteStore("\"NormPos\"=\"x,20\"\n");  // a word that is no number keeps the design value
  EXPECT_EQ(Start()->pos(), QPoint(0, 20));
  WriteStore("\"NormPos\"=\"-5000,-5000,-4744,-4832\"\n");  // wholly off screen: brought back
  EXPECT_TRUE(QGuiApplication::primaryScreen()->geometry().contains(Start()->pos()));
}

TEST_F(FormStorage, OtherPixelsPerInchSkipsOnlyThePosition) {
  WriteStore("\"NormPos\"=\"10,20,266,188\"\n\"PixelsPerInch\"=\"" + std::to_string(ScreenPixelsPerInch() + 24) +
             "\"\n\"ip_text\"=\"8080\"\n");
  auto form = Start();
  EXPECT_EQ(form->pos(), Centred());
  EXPECT_EQ(form->ip->text(), "8080");
}

TEST_F(FormStorage, AnOlderFormVersionSkipsPlacementAndFieldsButTheNextCloseSaves) {
  WriteStore("\"FormVersion\"=\"-1\"\n\"NormPos\"=\"10,20,266,188\"\n\"ip_text\"=\"8080\"\n");
  auto form = Start();
  EXPECT_EQ(form->pos(), Centred());
  EXPECT_EQ(form->ip->text(), "3128");
  Close(form);
  EXPECT_EQ(StoredValues().front(), "\"FormVersion\"=\"0\"");
  EXPECT_NE(FileText().find("\"ip_text\"=\"3128\""), std::string::npos);
}

TEST_F(FormStorage, PlacementValuesOfTheWrongTypeAreToldOnceTheRestGoesOnAndTheSaveRepairsThem) {
  WriteStore("\"ip_text\"=\"8080\"\n\"NormPos\"=\"10,20,266,188\"\n\"FormVersion\"=dword:00000000\n"
             "\"Flags\"=dword:00000000\n\"PixelsPerInch\"=dword:00000060\n\"ShowCmd\"=hex:01\n");
  auto form = Start();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Invalid data type for 'FormVersion'");
  EXPECT_EQ(boxes_[0].caption, "Velotrunk");
  EXPECT_EQ(boxes_[0].type, win::MB_ICONERROR);
  EXPECT_EQ(form->ip->text(), "8080");
  EXPECT_EQ(form->pos(), QPoint(10, 20));
  EXPECT_TRUE(form->isVisible());
  Close(form);
  for (const char* name : {"FormVersion", "Flags", "PixelsPerInch", "ShowCmd"})
    EXPECT_NE(FileText().find(std::string("\"") + name + "\"=\""), std::string::npos) << "not text: " << name;
  EXPECT_EQ(FileText().find("dword"), std::string::npos);

  boxes_.clear();
  form = Start();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(form->pos(), QPoint(10, 20));
}

TEST_F(FormStorage, AFieldValueThatIsNotTextIsToldLikeThePlacementValues) {
  WriteStore("\"ip_text\"=dword:00001f90\n\"oip_text\"=\"127.0.0.1\"\n");
  auto form = Start();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Invalid data type for 'ip_text'");
  EXPECT_EQ(form->ip->text(), "3128");
  EXPECT_EQ(form->oip->text(), "127.0.0.1");
  Close(form);
  EXPECT_NE(FileText().find("\"ip_text\"=\"3128\""), std::string::npos);
}

TEST_F(FormStorage, ADamagedStoreIsSurvivedAndItsUnreadableLinesAreKept) {
  config_.WriteStore(std::string("garbage\0\xff\xfe\n", 11) +
                     "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\n"
                     "\"oip_text\"=\"127.0.0.1\"\n\"ip_text\"=hex(2):zz\n"
                     "\"NormPos\"=\"10,20");
  auto form = Start();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(form->oip->text(), "127.0.0.1");
  EXPECT_EQ(form->pos(), Centred());
  Close(form);
  std::vector<std::string> lines = StoredValues();
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[12], "\"ip_text\"=hex(2):zz");
  EXPECT_EQ(lines[13], "\"NormPos\"=\"10,20");
}

TEST_F(FormStorage, AMinimisedCloseGivesAMinimisedStart) {
  auto form = Start();
  form->showMinimized();
  QCoreApplication::processEvents();
  Close(form);
  EXPECT_NE(FileText().find("\"ShowCmd\"=\"2\""), std::string::npos);

  form = Start();
  QCoreApplication::processEvents();
  EXPECT_TRUE(form->isMinimized());
}

// A failed save is told once: the destruction does not try again (a second,
// identical box would follow the first).
TEST_F(FormStorage, WriteFailuresAreReportedOnceAndTheWindowCloses) {
  win::SetRegistryWriteFault([](std::string_view, std::string_view name) { return name == "Flags"; });
  auto form = Start();
  form->close();
  EXPECT_FALSE(form->isVisible());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Failed to set data for 'Flags'");
  form.reset();
  EXPECT_EQ(boxes_.size(), 1u);

  win::SetRegistryWriteFault([](std::string_view path, std::string_view) { return path.ends_with("Velotrunk"); });
  boxes_.clear();
  fs::remove(File());
  Start()->close();
  ASSERT_FALSE(boxes_.empty());
  EXPECT_EQ(boxes_[0].text, "Failed to create key Velotrunk.");
}

TEST_F(FormStorage, ARefusedCloseSavesNothingAndDestructionSavesWithVisibleOne) {
  auto form = Start();
  form->refuseClose = true;
  form->close();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(StoredValues().empty());
  form->oip->setText("127.0.0.2");
  form.reset();
  EXPECT_NE(FileText().find("\"Visible\"=\"1\"\n\"ip_text\"=\"3128\"\n\"oip_text\"=\"127.0.0.2\""), std::string::npos);
}

TEST_F(FormStorage, TheRestoreRunsBeforeTheWindowExistsSoThatItsPositionPlacesTheFrame) {
  WriteStore("\"NormPos\"=\"100,80,356,248\"\n\"PixelsPerInch\"=\"" + Ppi() + "\"\n");
  TestForm form;
  bool visible = true, created = true;
  form.storage->OnRestorePlacement = [&] {
    visible = form.isVisible();
    created = form.windowHandle() != nullptr;
  };
  form.show();
  EXPECT_FALSE(visible);
  EXPECT_FALSE(created);
  EXPECT_EQ(form.frameGeometry().topLeft(), QPoint(100, 80));
}

TEST_F(FormStorage, AStoredMaximisedStateOpensAFixedSizeWindowNormal) {
  WriteStore("\"ShowCmd\"=\"3\"\n");
  auto form = Start();
  EXPECT_FALSE(form->isMaximized());
  EXPECT_EQ(form->size(), QSize(256, 168));
}

TEST_F(FormStorage, PreventResizeTakesTheMaximiseButtonAndFixesTheSize) {
  auto form = Start();
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(form->minimumSize(), QSize(256, 168));
  EXPECT_EQ(form->maximumSize(), QSize(256, 168));
}

}  // namespace
