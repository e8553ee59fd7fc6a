#include "dc_canvas.h"

#include <string>

namespace {

RECT ToRECT(const TRect& r) { return {r.Left, r.Top, r.Right, r.Bottom}; }

const wchar_t* Wide(std::u16string_view text) { return reinterpret_cast<const wchar_t*>(text.data()); }

}  // namespace

COLORREF ColorToRGB(TColor color) {
  if (IsSystemColor(color)) return GetSysColor(int(color & 0xFF));
  return color & 0xFFFFFF;
}

namespace {

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

// Whether the system has the face with Cyrillic letters (the window's texts
// are Russian).
bool HasCyrillicFace(const std::wstring& face) {
  LOGFONTW wanted{};
  wanted.lfCharSet = RUSSIAN_CHARSET;
  lstrcpynW(wanted.lfFaceName, face.c_str(), LF_FACESIZE);
  bool found = false;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExW(screen, &wanted, FontFound, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

std::wstring FaceName(const std::string& family) {
  wchar_t face[LF_FACESIZE] = {};
  MultiByteToWideChar(CP_UTF8, 0, family.c_str(), -1, face, LF_FACESIZE - 1);
  return face;
}

}  // namespace

HFONT CreateDesignFont(const TFontDesc& font) {
  LOGFONTW log{};
  log.lfHeight = -font.PixelHeight;
  log.lfWeight = font.Bold ? FW_BOLD : FW_NORMAL;
  log.lfCharSet = DEFAULT_CHARSET;
  log.lfQuality = NONANTIALIASED_QUALITY;  // crisp, like the design's bitmap face
  // The first face named that has Cyrillic letters, else the first one.
  std::wstring face = font.Families.empty() ? std::wstring() : FaceName(font.Families.front());
  for (const std::string& family : font.Families) {
    if (HasCyrillicFace(FaceName(family))) {
      face = FaceName(family);
      break;
    }
  }
  lstrcpynW(log.lfFaceName, face.c_str(), LF_FACESIZE);
  return CreateFontIndirectW(&log);
}

TDCCanvas::TDCCanvas(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {
  SetBkMode(dc_, TRANSPARENT);
  SetTextColor(dc_, ColorToRGB(fontColor_));
}

TDCCanvas::~TDCCanvas() {
  RestoreDC(dc_, saved_);
  if (pen_) DeleteObject(pen_);
  if (brush_) DeleteObject(brush_);
  if (font_) DeleteObject(font_);
}

void TDCCanvas::UsePen() {
  if (pen_ && penMade_.Color == Pen.Color && penMade_.Style == Pen.Style) return;
  HPEN pen = Pen.Style == psClear ? CreatePen(PS_NULL, 0, 0) : CreatePen(PS_SOLID, 1, ColorToRGB(Pen.Color));
  SelectObject(dc_, pen);
  if (pen_) DeleteObject(pen_);
  pen_ = pen;
  penMade_ = Pen;
}

HBRUSH TDCCanvas::SolidBrush() {
  if (!brush_ || brushColor_ != Brush.Color) {
    HBRUSH brush = CreateSolidBrush(ColorToRGB(Brush.Color));
    if (brush_) {
      // The brush may be selected: put the stock one in its place first.
      SelectObject(dc_, GetStockObject(NULL_BRUSH));
      DeleteObject(brush_);
    }
    brush_ = brush;
    brushColor_ = Brush.Color;
  }
  return brush_;
}

void TDCCanvas::UseBrush() {
  SelectObject(dc_, Brush.Style == bsClear ? GetStockObject(NULL_BRUSH) : SolidBrush());
}

void TDCCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  UsePen();
  UseBrush();
  ::Rectangle(dc_, x1, y1, x2, y2);
}

void TDCCanvas::RoundRect(int x1, int y1, int x2, int y2, int w, int h) {
  UsePen();
  UseBrush();
  ::RoundRect(dc_, x1, y1, x2, y2, w, h);
}

void TDCCanvas::FrameRect(const TRect& r) {
  const RECT rc = ToRECT(r);
  ::FrameRect(dc_, &rc, SolidBrush());
}

void TDCCanvas::FillRect(const TRect& r) {
  const RECT rc = ToRECT(r);
  ::FillRect(dc_, &rc, SolidBrush());
}

void TDCCanvas::MoveTo(int x, int y) { MoveToEx(dc_, x, y, nullptr); }

void TDCCanvas::LineTo(int x, int y) {
  UsePen();
  ::LineTo(dc_, x, y);
}

void TDCCanvas::DrawFocusRect(const TRect& r) {
  const RECT rc = ToRECT(r);
  ::DrawFocusRect(dc_, &rc);
}

void TDCCanvas::DrawEdge(const TRect& rect, unsigned edge, unsigned flags) {
  RECT rc = ToRECT(rect);
  ::DrawEdge(dc_, &rc, edge, flags);
}

void TDCCanvas::SelectFontDesc(const TFontDesc& font) {
  HFONT made = CreateDesignFont(font);
  SelectObject(dc_, made);
  if (font_) DeleteObject(font_);
  font_ = made;
  SetFontColor(font.Color);
}

TColor TDCCanvas::SetFontColor(TColor color) {
  const TColor old = fontColor_;
  fontColor_ = color;
  SetTextColor(dc_, ColorToRGB(color));
  return old;
}

SIZE TDCCanvas::TextExtent(std::u16string_view text) {
  SIZE size{0, 0};
  GetTextExtentPoint32W(dc_, Wide(text), int(text.size()), &size);
  return size;
}

int TDCCanvas::TextWidthW(std::u16string_view text) { return TextExtent(text).cx; }

int TDCCanvas::TextHeightW(std::u16string_view text) { return TextExtent(text).cy; }

int TDCCanvas::DrawTextW(std::u16string_view text, TRect& rect, unsigned format) {
  RECT rc = ToRECT(rect);
  const int height = ::DrawTextW(dc_, Wide(text), int(text.size()), &rc, format);
  if (format & DT_CALCRECT) {
    rect.Right = rc.right;
    rect.Bottom = rc.bottom;
  }
  return height;
}
