// RecordingDC: logs device-context calls for the display toolkit's tests.
// Threading: one thread.
#include "display/RecordingDC.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

std::vector<RecordedCall> RecordingDC::Named(const std::string& name) const {
  std::vector<RecordedCall> out;
  for (const RecordedCall& call : m_calls) {
    if (call.name == name) {
      out.push_back(call);
    }
  }
  return out;
}

std::vector<std::string> RecordingDC::Texts() const {
  std::vector<std::string> out;
  for (const RecordedCall& call : m_calls) {
    if (call.name == "TextOut") {
      out.push_back(call.text);
    }
  }
  return out;
}

std::string RecordingDC::Dump() const {
  std::string out;
  char line[256];
  for (const RecordedCall& call : m_calls) {
    out += call.name;
    for (const int a : call.args) {
      std::snprintf(line, sizeof line, " %d", a);
      out += line;
    }
    if (!call.text.empty()) {
      out += " \"" + call.text + "\"";
    }
    std::snprintf(line, sizeof line, " pen=%d/%d/%06X font=%s/%d/%d text=%06X bk=%06X mode=%d\n",
                  call.hasPen ? call.pen.style : -1, call.hasPen ? call.pen.width : -1,
                  call.hasPen ? call.pen.colour : 0, call.hasFont ? call.font.faceName : "-",
                  call.hasFont ? call.font.height : 0, call.hasFont ? call.font.escapement : 0,
                  call.textColour, call.bkColour, call.bkMode);
    out += line;
  }
  return out;
}

RecordedCall& RecordingDC::Record(const char* name, std::vector<int> args) {
  RecordedCall call{};
  call.name = name;
  call.args = std::move(args);
  call.hasPen = m_pPen != nullptr;
  if (m_pPen != nullptr) {
    call.pen = m_pPen->Desc();
  }
  call.hasBrush = m_pBrush != nullptr;
  call.brushColour = m_pBrush != nullptr ? m_pBrush->GetColour() : 0;
  call.hasFont = m_pFont != nullptr;
  if (m_pFont != nullptr) {
    call.font = m_pFont->Desc();
  }
  call.textColour = m_textColour;
  call.bkColour = m_bkColour;
  call.bkMode = m_bkMode;
  m_calls.push_back(std::move(call));
  return m_calls.back();
}

void RecordingDC::MoveTo(int x, int y) { Record("MoveTo", {x, y}); }
void RecordingDC::LineTo(int x, int y) { Record("LineTo", {x, y}); }

void RecordingDC::TextOutAt(int x, int y, const char* text, int length) {
  Record("TextOut", {x, y}).text.assign(text, static_cast<std::size_t>(length));
}

platform::Size RecordingDC::TextExtent(const char*, int length) {
  const int h = m_pFont != nullptr ? std::abs(m_pFont->Desc().height) : 16;
  return {length * (h / 2), h};
}

platform::Colour RecordingDC::SetBkColour(platform::Colour colour) {
  Record("SetBkColour", {static_cast<int>(colour)});
  return std::exchange(m_bkColour, colour);
}

platform::Colour RecordingDC::SetTextColour(platform::Colour colour) {
  Record("SetTextColour", {static_cast<int>(colour)});
  return std::exchange(m_textColour, colour);
}

int RecordingDC::SetBkMode(int mode) {
  Record("SetBkMode", {mode});
  return std::exchange(m_bkMode, mode);
}

void RecordingDC::Ellipse(const platform::Rect& r) {
  Record("Ellipse", {r.left, r.top, r.right, r.bottom});
}

void RecordingDC::Arc(const platform::Rect& r, platform::Point s, platform::Point e) {
  Record("Arc", {r.left, r.top, r.right, r.bottom, s.x, s.y, e.x, e.y});
}

void RecordingDC::Rectangle(const platform::Rect& r) {
  Record("Rectangle", {r.left, r.top, r.right, r.bottom});
}

void RecordingDC::FillRect(const platform::Rect& r, const platform::Brush& brush) {
  Record("FillRect", {r.left, r.top, r.right, r.bottom, static_cast<int>(brush.GetColour())});
}

void RecordingDC::FillSolidRect(int x, int y, int cx, int cy, platform::Colour colour) {
  Record("FillSolidRect", {x, y, cx, cy, static_cast<int>(colour)});
}

bool RecordingDC::BitBlt(int x, int y, int cx, int cy, platform::DeviceContext*, int srcX, int srcY,
                         std::uint32_t rop) {
  Record("BitBlt", {x, y, cx, cy, srcX, srcY, static_cast<int>(rop)});
  return true;
}

bool RecordingDC::StretchBlt(int x, int y, int cx, int cy, platform::DeviceContext*, int srcX,
                             int srcY, int srcCx, int srcCy, std::uint32_t rop) {
  Record("StretchBlt", {x, y, cx, cy, srcX, srcY, srcCx, srcCy, static_cast<int>(rop)});
  return true;
}

const platform::Pen* RecordingDC::SelectPen(const platform::Pen* pen) {
  if (pen == nullptr || !pen->IsCreated()) {
    return nullptr;
  }
  const platform::Pen* previous = std::exchange(m_pPen, pen);
  Record("SelectPen", {pen->Desc().style, pen->Desc().width, static_cast<int>(pen->Desc().colour)});
  return previous;
}

const platform::Brush* RecordingDC::SelectBrush(const platform::Brush* brush) {
  if (brush == nullptr || !brush->IsCreated()) {
    return nullptr;
  }
  const platform::Brush* previous = std::exchange(m_pBrush, brush);
  Record("SelectBrush", {static_cast<int>(brush->GetColour())});
  return previous;
}

const platform::Font* RecordingDC::SelectFont(const platform::Font* font) {
  if (font == nullptr || !font->IsCreated()) {
    return nullptr;
  }
  const platform::Font* previous = std::exchange(m_pFont, font);
  Record("SelectFont", {font->Desc().height, font->Desc().escapement});
  return previous;
}

void RecordingDC::SelectDefaultPen() {
  m_pPen = nullptr;
  Record("SelectDefaultPen", {});
}

void RecordingDC::SelectDefaultBrush() {
  m_pBrush = nullptr;
  Record("SelectDefaultBrush", {});
}

void RecordingDC::SelectDefaultFont() {
  m_pFont = nullptr;
  Record("SelectDefaultFont", {});
}
