// RecordingDC: a device context that draws nothing and logs every call with
// its arguments and the state in force (pen, brush, font, colours, mode),
// for tests of the display toolkit. Text extents are synthetic so tests can
// compute positions: a character is half the font's pixel height wide and a
// text is the pixel height tall.
// Threading: one thread, like any device context.
#pragma once

#include <string>
#include <vector>

#include "platform/device_context.h"

struct RecordedCall {
  std::string name;       // "MoveTo", "LineTo", "TextOut", "Ellipse", ...
  std::vector<int> args;  // coordinates and sizes, in call order
  std::string text;       // TextOut's text
  bool hasPen;
  platform::PenDesc pen;
  bool hasBrush;
  platform::Colour brushColour;
  bool hasFont;
  platform::LogFont font;
  platform::Colour textColour;
  platform::Colour bkColour;
  int bkMode;
};

class RecordingDC final : public platform::DeviceContext {
 public:
  RecordingDC() = default;

  const std::vector<RecordedCall>& Calls() const { return m_calls; }
  void Clear() { m_calls.clear(); }
  // Calls of one name, in order.
  std::vector<RecordedCall> Named(const std::string& name) const;
  // TextOut calls' texts, in order.
  std::vector<std::string> Texts() const;
  // One line per call, for failure messages.
  std::string Dump() const;

  const platform::Pen* CurrentPen() const { return m_pPen; }
  const platform::Brush* CurrentBrush() const { return m_pBrush; }
  const platform::Font* CurrentFont() const { return m_pFont; }
  platform::Colour BkColour() const { return m_bkColour; }
  int BkMode() const { return m_bkMode; }

  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;
  void TextOutAt(int x, int y, const char* text, int length) override;
  platform::Size TextExtent(const char* text, int length) override;
  platform::Colour SetBkColour(platform::Colour colour) override;
  platform::Colour SetTextColour(platform::Colour colour) override;
  platform::Colour GetTextColour() const override { return m_textColour; }
  int SetBkMode(int mode) override;
  void Ellipse(const platform::Rect& rect) override;
  void Arc(const platform::Rect& rect, platform::Point start, platform::Point end) override;
  void Rectangle(const platform::Rect& rect) override;
  void FillRect(const platform::Rect& rect, const platform::Brush& brush) override;
  void FillSolidRect(int x, int y, int cx, int cy, platform::Colour colour) override;
  bool BitBlt(int x, int y, int cx, int cy, platform::DeviceContext* src, int srcX, int srcY,
              std::uint32_t rop) override;
  bool StretchBlt(int x, int y, int cx, int cy, platform::DeviceContext* src, int srcX, int srcY,
                  int srcCx, int srcCy, std::uint32_t rop) override;
  const platform::Pen* SelectPen(const platform::Pen* pen) override;
  const platform::Brush* SelectBrush(const platform::Brush* brush) override;
  const platform::Font* SelectFont(const platform::Font* font) override;
  void SelectDefaultPen() override;
  void SelectDefaultBrush() override;
  void SelectDefaultFont() override;
  platform::Colour GetPixel(int, int) const override { return 0; }
  void SetPixel(int, int, platform::Colour) override {}
  int Width() const override { return 0; }
  int Height() const override { return 0; }

 private:
  RecordedCall& Record(const char* name, std::vector<int> args);

  std::vector<RecordedCall> m_calls;
  const platform::Pen* m_pPen = nullptr;
  const platform::Brush* m_pBrush = nullptr;
  const platform::Font* m_pFont = nullptr;
  platform::Colour m_textColour = 0;
  platform::Colour m_bkColour = 0xFFFFFF;
  int m_bkMode = platform::kOpaque;
};
