#include "form1.h"

#include <QApplication>
#include <QDesktopServices>
#include <QPointer>
#include <QUrl>
#include <limits>

#include "design_font.h"
#include "loading.h"
#include "start_command.h"

TForm1* Form1 = nullptr;

namespace {

QString Utf8(const char* text) { return QString::fromUtf8(text); }

TRxLabel* MakeLabel(QWidget* parent, const form1_design::Label& design) {
  auto* label = new TRxLabel(parent);
  label->setObjectName(design.Name);
  label->setGeometry(design.Place.Left, design.Place.Top, design.Place.Width, design.Place.Height);
  label->SetCaption(Utf8(design.Caption));
  if (design.FontHeight != form1_design::FontHeight || design.Bold || design.Link)
    label->setFont(DesignFont(design.FontHeight, design.Bold));
  if (design.FontColor != clWindowText) label->SetFontColor(design.FontColor);
  if (design.Link) {
    label->setCursor(Qt::PointingHandCursor);
    label->SetColor(clBtnFace);
  }
  if (!design.Visible) label->hide();
  return label;
}

TksoEdit* MakeEdit(QWidget* parent, const form1_design::Edit& design) {
  auto* edit = new TksoEdit(parent);
  edit->setObjectName(design.Name);
  edit->setGeometry(design.Place.Left, design.Place.Top, design.Place.Width, design.Place.Height);
  edit->setMaxLength(std::numeric_limits<int>::max());  // a text of any length, as stored
  edit->setText(Utf8(design.Text));
  edit->SetFlat(true);
  edit->SetBorderStyle(form1_design::EditBorderStyle);
  edit->SetBorderStyleFlat(form1_design::EditBorderStyleFlat);
  edit->SetBorderStyleFocused(form1_design::EditBorderStyleFocused);
  return edit;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : TForm(parent) {
  {
    LoadingScope loading(this);
    setObjectName("Form1");
    setWindowTitle(form1_design::Caption);
    setFixedSize(form1_design::ClientWidth, form1_design::ClientHeight);
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
    FormStorage1->SetIniFileName(form1_design::StoreKey);
    FormStorage1->SetIniSection(form1_design::StoreSection);
    FormStorage1->SetUseRegistry(true);
    FormStorage1->SetPreventResize(true);
    // Stored as "ip_Text" and so on: names in users' settings (form1_design.h).
    FormStorage1->SetStoredProps({"ip.Text", "oip.Text", "op.Text"});

    DsGroup1 = new TDsGroup(this);
    DsGroup1->setObjectName("DsGroup1");
    DsGroup1->setGeometry(0, 0, form1_design::ClientWidth, form1_design::ClientHeight);
    DsGroup1->SetColor_High(clBtnHighlight);
    DsGroup1->SetColor_Low(clBtnShadow);

    namespace design = form1_design;
    lbl = MakeLabel(DsGroup1, design::lbl);
    RxLabel2 = MakeLabel(DsGroup1, design::RxLabel2);
    RxLabel3 = MakeLabel(DsGroup1, design::RxLabel3);
    RxLabel4 = MakeLabel(DsGroup1, design::RxLabel4);
    RxLabel1 = MakeLabel(DsGroup1, design::RxLabel1);

    btn = new TSEFlatButton(DsGroup1);
    btn->setObjectName(design::btn.Name);
    const auto& place = design::btn.Place;
    btn->setGeometry(place.Left, place.Top, place.Width, place.Height);
    btn->setText(Utf8(design::btn.Caption));
    btn->setCursor(Qt::PointingHandCursor);
    btn->SetDefault(true);

    ip = MakeEdit(DsGroup1, design::ip);
    oip = MakeEdit(DsGroup1, design::oip);
    op = MakeEdit(DsGroup1, design::op);
    // Tab order: the button, then the fields by their design's order.
    setTabOrder(btn, ip);
    setTabOrder(ip, oip);
    setTabOrder(oip, op);

    connect(RxLabel1, &TRxLabel::OnClick, this, &TForm1::RxLabel1Click);
    connect(btn, &TSEFlatButton::OnClick, this, &TForm1::btnClick);
  }
  FormStorage1->Loaded();

  // Told on the engine thread as it ends; the window hears of it on its own.
  SetRelayStartFailedHandler([window = QPointer<TForm1>(this)] {
    QMetaObject::invokeMethod(qApp, [window] {
      if (window) window->RelayStartFailed();
    }, Qt::QueuedConnection);
  });
}

void TForm1::btnClick() {
  if (btn->isHidden()) return;  // started already: the engine runs once
  if (!RunStartCommand(nullptr, ip->text().toStdString(), oip->text().toStdString(), op->text().toStdString())) return;
  btn->hide();
  lbl->show();
}

// The engine could not listen and has ended after its notices were closed:
// the window is idle again, so that the user can correct the fields and
// press the button once more.
void TForm1::RelayStartFailed() {
  lbl->hide();
  btn->show();
}

void TForm1::RxLabel1Click() { QDesktopServices::openUrl(QUrl(kHomePage)); }
