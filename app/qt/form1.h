// The main window: three fields for the relay's settings, the start button,
// the status text that replaces it once the relay runs, and the home-page
// link. Built in code from its design; the settings store component keeps
// the field texts and the window's place between runs.
#pragma once

#include "ds_group.h"
#include "flat_button.h"
#include "form1_design.h"
#include "form_storage.h"
#include "kso_edit.h"
#include "rx_label.h"
#include "tform.h"

// The product's home page, shown as the link's text.
inline constexpr const char* kHomePage = form1_design::HomePage;

class TForm1 : public TForm {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);

  TDsGroup* DsGroup1;
  TRxLabel* lbl;
  TSEFlatButton* btn;
  TRxLabel* RxLabel2;
  TRxLabel* RxLabel3;
  TRxLabel* RxLabel4;
  TksoEdit* ip;
  TksoEdit* oip;
  TksoEdit* op;
  TFormStorage* FormStorage1;
  TRxLabel* RxLabel1;

 private:
  // Back to idle after a start whose engine could not listen.
  void RelayStartFailed();

 public slots:
  // The start command: hands the fields to the engine and starts it.
  void btnClick();
  // Opens the home page through the desktop's URL handler.
  void RxLabel1Click();
};

// The application's main window, while it exists.
extern TForm1* Form1;
