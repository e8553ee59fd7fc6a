// Renders every control of the window's look, and every border style, into
// one PNG for review:  controls_gallery OUTPUT.png
#include <QApplication>
#include <QEnterEvent>
#include <QMetaEnum>

#include "design_font.h"
#include "ds_group.h"
#include "flat_button.h"
#include "kso_edit.h"
#include "loading.h"
#include "qt_test_support.h"
#include "rx_label.h"

namespace {

TRxLabel* Heading(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new TRxLabel(parent);
  label->setFont(qt_test::Font(11, true));
  label->SetCaption(text);
  label->move(x, y);
  return label;
}

TRxLabel* Label(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new TRxLabel(parent);
  label->setFont(qt_test::WindowFont());
  label->SetCaption(text);
  label->move(x, y);
  return label;
}

void BorderStyles(QWidget* page) {
  Heading(page, QStringLiteral("Border styles (TksoEdit, Flat false)"), 8, 8);
  const QMetaEnum styles = QMetaEnum::fromType<TksoBorderStyle>();
  for (int i = 0; i < styles.keyCount(); ++i) {
    auto* edit = new TksoEdit(page);
    edit->setFont(qt_test::WindowFont());
    edit->setGeometry(8 + (i % 4) * 150, 28 + (i / 4) * 30, 140, 21);
    edit->SetBorderStyle(TksoBorderStyle(styles.value(i)));
    edit->setText(QString::fromLatin1(styles.key(i)));
  }
}

void FlatEdits(QWidget* page) {
  Heading(page, QStringLiteral("Flat edits: idle, hovered; memo, list boxes"), 8, 126);
  auto* idle = new TksoEdit(page);
  auto* hovered = new TksoEdit(page);
  for (auto* edit : {idle, hovered}) {
    edit->setFont(qt_test::WindowFont());
    edit->SetFlat(true);
    edit->SetBorderStyleFlat(kbsEtched);
    edit->setText(QStringLiteral("192.168.1.1"));
  }
  idle->setGeometry(8, 146, 121, 21);
  hovered->setGeometry(138, 146, 121, 21);
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QCoreApplication::sendEvent(hovered, &enter);

  auto* memo = new TksoOfficeMemo(page);
  memo->setGeometry(8, 176, 121, 40);
  memo->setPlainText(QStringLiteral("Memo, kbsSunken\nsecond line"));
  auto* list = new TksoOfficeListBox(page);
  list->setGeometry(138, 176, 121, 40);
  list->SetFlat(true);
  list->addItems({QStringLiteral("List box, flat"), QStringLiteral("kbsSolid")});
  auto* checks = new TksoOfficeCheckListBox(page);
  checks->setGeometry(268, 176, 121, 40);
  checks->AddItem(QStringLiteral("Checked"), true);
  checks->AddItem(QStringLiteral("Unchecked"));
}

void Buttons(QWidget* page) {
  Heading(page, QStringLiteral("Flat buttons: default, normal, disabled"), 8, 226);
  auto* active = new TSEFlatButton(page);
  active->SetDefault(true);
  active->setText(QStringLiteral("Назначить"));
  auto* normal = new TSEFlatButton(page);
  normal->setText(QStringLiteral("&Normal"));
  auto* disabled = new TSEFlatButton(page);
  disabled->setText(QStringLiteral("Disabled"));
  disabled->setEnabled(false);
  int x = 8;
  for (auto* b : {active, normal, disabled}) {
    b->setFont(qt_test::WindowFont());
    b->move(x, 246);
    x += 85;
  }
}

TDsGroup* Group(QWidget* page, const QString& caption, int x, int y) {
  auto* group = new TDsGroup(page);
  group->setFont(qt_test::WindowFont());
  group->setGeometry(x, y, 145, 80);
  group->SetCaption(caption);
  return group;
}

void Groups(QWidget* page) {
  Heading(page, QStringLiteral("Group panels"), 8, 282);
  Group(page, QStringLiteral("txRaised, r 3"), 8, 302);
  auto* lowered = Group(page, QStringLiteral("txLowered, r 10"), 158, 302);
  lowered->SetCornerRadius(10);
  lowered->SetCapAlignment(TDsGroup::caCenter);
  lowered->SetTextStyle(TDsGroup::txLowered);
  lowered->SetFaceColor(0xE0F0F0);
  auto* shadowed = Group(page, QStringLiteral("txShadowed, r 0"), 308, 302);
  shadowed->SetCornerRadius(0);
  shadowed->SetCapAlignment(TDsGroup::caRight);
  shadowed->SetTextStyle(TDsGroup::txShadowed);
  auto* flat = Group(page, QStringLiteral("Ctl3D false"), 458, 302);
  flat->SetCtl3D(false);
  flat->SetFaceColor(0xE0F0F0);
  Label(flat, QStringLiteral("(no face)"), 40, 40);
}

void Labels(QWidget* page) {
  Heading(page, QStringLiteral("Shadowed labels"), 8, 392);
  Label(page, QStringLiteral("Embossed (spLeftTop 1)"), 8, 412);
  auto* deep = Label(page, QStringLiteral("spRightBottom 2"), 160, 412);
  deep->SetShadowPos(TRxCustomLabel::spRightBottom);
  deep->SetShadowSize(2);
  deep->SetShadowColor(clBtnShadow);
  Label(page, QStringLiteral("Disabled"), 290, 412)->setEnabled(false);
  auto* engraved = Label(page, QStringLiteral("Disabled, no shadow"), 360, 412);
  engraved->SetShadowSize(0);
  engraved->setEnabled(false);
  auto* link = Label(page, QStringLiteral("http://velotrunk.example/"), 8, 432);
  link->SetFontColor(clBlue);
  auto* status = Label(page, QStringLiteral("Velotrunk is active..."), 180, 430);
  status->setFont(qt_test::Font(16, true));
  status->SetFontColor(clGreen);
  auto* centered = Label(page, QStringLiteral("tlCenter in 30 px, &accelerator"), 400, 426);
  centered->SetAutoSize(false);
  centered->resize(200, 30);
  centered->SetLayout(TRxCustomLabel::tlCenter);
  centered->SetColor(clWhite);
}

// The main window's arrangement, 256 x 168, in the window's font.
void MainWindow(QWidget* page) {
  Heading(page, QStringLiteral("Main window"), 620, 8);
  auto* form = new QWidget(page);
  form->setGeometry(620, 28, 256, 168);
  form->setFont(DesignFont(11));
  LoadingScope loading(form);
  auto* group = new TDsGroup(form);
  group->setGeometry(0, 0, 256, 168);
  Label(group, QStringLiteral("Входящий порт:"), 8, 16)->setFont(form->font());
  Label(group, QStringLiteral("IP-сервера:\r\n(куда перенаправить)"), 8, 52)->setFont(form->font());
  Label(group, QStringLiteral("Порт сервера:\r\n(куда перенаправить)"), 8, 88)->setFont(form->font());
  TRxLabel* link = Label(group, QStringLiteral("http://velotrunk.example/"), 48, 152);
  link->setFont(form->font());
  link->SetFontColor(clBlue);
  auto* button = new TSEFlatButton(group);
  button->setGeometry(168, 120, 75, 25);
  button->setText(QStringLiteral("Назначить"));
  button->SetDefault(true);
  int y = 16;
  for (const char* text : {"3128", "192.168.1.1", "3128"}) {
    auto* edit = new TksoEdit(group);
    edit->setGeometry(128, y, 121, 21);
    edit->SetFlat(true);
    edit->SetBorderStyleFlat(kbsEtched);
    edit->setText(QString::fromLatin1(text));
    y += 36;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) qputenv("QT_SCALE_FACTOR", "1");
  QApplication app(argc, argv);
  if (argc < 2) {
    fprintf(stderr, "usage: controls_gallery OUTPUT.png\n");
    return 2;
  }
  qt_test::UseDistinctPalette();
  QWidget page;
  page.resize(890, 470);
  page.setAutoFillBackground(true);
  QPalette palette = page.palette();
  palette.setColor(QPalette::Window, ColorToRGB(clBtnFace));
  page.setPalette(palette);
  BorderStyles(&page);
  FlatEdits(&page);
  Buttons(&page);
  Groups(&page);
  Labels(&page);
  MainWindow(&page);
  return qt_test::Render(&page).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
