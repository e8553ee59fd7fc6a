#include "kso_edit.h"

namespace {

constexpr int kFrameWidth = 2;

// The scroll-area based controls keep their frame as a plain box two pixels
// wide, so the viewport and scroll bars stay inside the area we paint over.
void ReserveScrollAreaFrame(QFrame* frame) {
  frame->setFrameStyle(QFrame::Box | QFrame::Plain);
  frame->setLineWidth(kFrameWidth);
  frame->resize(frame->width(), 40);
}

}  // namespace

void PaintKsoFrame(QWidget* control, TColor color, TksoBorderStyle style) {
  QPainter painter(control);
  TCanvas canvas(&painter);
  PaintKsoFrame(canvas, control->width(), control->height(), color, style);
}

TksoEdit::TksoEdit(QWidget* parent) : KsoFramed(parent) {
  setFrame(false);
  setTextMargins(kFrameWidth, kFrameWidth, kFrameWidth, kFrameWidth);
}

TksoOfficeMemo::TksoOfficeMemo(QWidget* parent) : KsoFramed(parent) { ReserveScrollAreaFrame(this); }

TksoOfficeListBox::TksoOfficeListBox(QWidget* parent) : KsoFramed(parent) { ReserveScrollAreaFrame(this); }

TksoOfficeCheckListBox::TksoOfficeCheckListBox(QWidget* parent) : TksoOfficeListBox(parent) {}

void TksoOfficeCheckListBox::AddItem(const QString& text, bool checked) {
  auto* item = new QListWidgetItem(text, this);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

bool TksoOfficeCheckListBox::Checked(int index) const {
  const QListWidgetItem* it = item(index);
  return it && it->checkState() == Qt::Checked;
}
