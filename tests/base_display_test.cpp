// Tests of BaseDisplay against the recording device context: font sizes of
// the display scale, pen/brush/colour tables, text items, readouts, numbers,
// needles, rotated text, state colours and the shared rotated fonts.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "display/BaseDisplay.h"
#include "display/RecordingDC.h"
#include "registry/RevisionRegistry.h"

using namespace DisplayPalette;

#if defined(__SANITIZE_ADDRESS__)
// The toolkit's temporary fonts and brushes live on the stack: under
// AddressSanitizer a context still using one after its call returned is
// reported as well.
extern "C" const char* __asan_default_options() { return "detect_stack_use_after_return=1"; }
#endif

namespace {

std::vector<std::string> g_rows;
void CaptureRow(const char* revision) { g_rows.emplace_back(revision); }

const RecordedCall* FindText(const RecordingDC& dc, const std::string& text) {
  for (const RecordedCall& call : dc.Calls()) {
    if (call.name == "TextOut" && call.text == text) {
      return &call;
    }
  }
  return nullptr;
}

// LineTo targets after the last MoveTo, as (x, y) pairs.
std::vector<std::pair<int, int>> LineTargets(const RecordingDC& dc) {
  std::vector<std::pair<int, int>> out;
  for (const RecordedCall& call : dc.Calls()) {
    if (call.name == "LineTo") {
      out.emplace_back(call.args[0], call.args[1]);
    }
  }
  return out;
}

class BaseDisplayDC : public ::testing::Test {
 protected:
  void SetUp() override {
    display.AttachDC(&dc);
    dc.Clear();
  }
  RecordingDC dc;
  BaseDisplay display;
};

}  // namespace

// First in this program: the process's first display object registers.
TEST(BaseDisplay, RegistersItsRevisionsOncePerProcess) {
  SetRevisionRowWriter(&CaptureRow);
  {
    BaseDisplay first;
    BaseDisplay second;
  }
  RegisterBaseDisplay();
  SetRevisionRowWriter(nullptr);
  EXPECT_EQ(g_rows, (std::vector<std::string>{
                        "%Z% KT-P-00001-02 KT-P-0001-02-1200 BaseDisplay $Revision: 1.13 $ ",
                        "%Z% KT-P-0001-02 KT-P-0001-02-1200 BaseDisplay $Revision: 1.9 $"}));
}

TEST(BaseDisplay, ConstructorWritesMarkers) {
  BaseDisplay display;
  EXPECT_STREQ(display.m_markFahrenheit, "|");
  EXPECT_STREQ(display.m_markCelsius, "&");
  EXPECT_STREQ(display.m_markDegree, "^");
  EXPECT_EQ(display.GetDC(), nullptr);
  EXPECT_FALSE(display.FontsCreated());
}

struct ScaleCase {
  double scale;
  double clamped;
  int sizes[7];  // codes 266, 213, 160, 200, 193, 140, 240
};

class BaseDisplayScale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(BaseDisplayScale, FontSizeTable) {
  const ScaleCase& c = GetParam();
  RecordingDC dc;
  BaseDisplay display;
  display.SetDC(&dc);
  display.SetScale(c.scale);
  EXPECT_DOUBLE_EQ(display.GetScale(), c.clamped);
  const int codes[7] = {266, 213, 160, 200, 193, 140, 240};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(display.GetFontMetrics(codes[i]).pointSize, c.sizes[i]) << "code " << codes[i];
    ASSERT_NE(display.GetFont(codes[i]), nullptr);
  }
  // Fonts exist now: a second scale changes nothing.
  display.SetScale(c.scale == 1.0 ? 0.5 : 1.0);
  EXPECT_DOUBLE_EQ(display.GetScale(), c.clamped);
  EXPECT_EQ(display.GetFontMetrics(213).pointSize, c.sizes[1]);
}

INSTANTIATE_TEST_SUITE_P(Scales, BaseDisplayScale,
                         ::testing::Values(ScaleCase{1.0, 1.0, {270, 210, 160, 200, 190, 140, 220}},
                                           ScaleCase{2.0, 1.0, {270, 210, 160, 200, 190, 140, 220}},
                                           ScaleCase{0.5, 0.5, {130, 110, 80, 100, 100, 70, 110}},
                                           ScaleCase{0.3, 0.3, {80, 90, 50, 60, 80, 60, 90}}));

TEST(BaseDisplay, MetricsAndLineGapAt96Dpi) {
  RecordingDC dc;
  BaseDisplay display;
  display.AttachDC(&dc);
  // Point fonts: -MulDiv(96, tenths, 720).
  EXPECT_EQ(display.GetFontMetrics(213).pixelHeight, 28);
  EXPECT_EQ(display.GetFontMetrics(160).pixelHeight, 21);
  EXPECT_EQ(display.GetLineGap(), 7);
  EXPECT_EQ(display.GetTextHeight(), 28);
  // Arial at 28 pixels: the space is narrower than "W", nothing is zero.
  const FontMetrics& m = display.GetFontMetrics(213);
  EXPECT_GT(m.charWidths['W' - 32], m.charWidths[' ' - 32]);
  EXPECT_GT(m.charWidths[' ' - 32], 0);
}

TEST(BaseDisplay, FixedFontFace) {
  RecordingDC dc;
  BaseDisplay courier;
  courier.AttachDC(&dc);
  EXPECT_STREQ(courier.GetFont(200)->Desc().faceName, "Courier New");
  EXPECT_STREQ(courier.GetFont(213)->Desc().faceName, "Arial");
  BaseDisplay arial;
  arial.UseArialForFixedFont().AttachDC(&dc);
  for (const int code : {266, 213, 160, 200, 193, 140, 240}) {
    EXPECT_STREQ(arial.GetFont(code)->Desc().faceName, "Arial") << code;
  }
}

TEST_F(BaseDisplayDC, SelectFontBySizeFallsBackTo213) {
  display.SelectFontBySize(213);
  const platform::Font* f213 = dc.CurrentFont();
  display.SelectFontBySize(160);
  EXPECT_NE(dc.CurrentFont(), f213);
  display.SelectFontBySize(999);
  EXPECT_EQ(dc.CurrentFont(), f213);
  display.SelectFontBySize(0);
  EXPECT_EQ(dc.CurrentFont(), f213);
}

struct PenCase {
  int widthClass;
  Colour colour;
  int style;  // -1: nothing selected
  int width;
  Colour penColour;
};

class BaseDisplayPen : public ::testing::TestWithParam<PenCase> {};

TEST_P(BaseDisplayPen, SelectPenTable) {
  const PenCase& c = GetParam();
  RecordingDC dc;
  BaseDisplay display;
  display.SetDC(&dc);
  display.SelectPen(false, c.widthClass, c.colour);
  if (c.style < 0) {
    EXPECT_EQ(dc.CurrentPen(), nullptr);
    return;
  }
  ASSERT_NE(dc.CurrentPen(), nullptr);
  EXPECT_EQ(dc.CurrentPen()->Desc().style, c.style);
  EXPECT_EQ(dc.CurrentPen()->Desc().width, c.width);
  EXPECT_EQ(dc.CurrentPen()->Desc().colour, c.penColour);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BaseDisplayPen,
    ::testing::Values(PenCase{4, lightGrey, 0, 3, grey}, PenCase{7, 0x123456, 0, 5, red},
                      PenCase{-1, green, -1, 0, 0}, PenCase{-1, black, 0, 100, black},
                      PenCase{-1, red, 0, 100, red}, PenCase{0, blue, 0, 1, cyan},
                      PenCase{2, cyan, 0, 1, cyan}, PenCase{3, lightBlue, 0, 3, lightBlue},
                      PenCase{5, orange, 0, 3, orange}, PenCase{6, yellow, 0, 5, yellow},
                      PenCase{-2, white, 0, 5, white}, PenCase{1, magenta, 0, 1, magenta},
                      PenCase{0, brown, 0, 1, red}, PenCase{0, black, 0, 1, black}));

TEST_F(BaseDisplayDC, SelectPenSkipLeavesPen) {
  display.SelectPen(true, 0, green);
  EXPECT_EQ(dc.CurrentPen(), nullptr);
  EXPECT_TRUE(dc.Calls().empty());
}

TEST(BaseDisplay, ColourTables) {
  RecordingDC dc;
  BaseDisplay display;
  display.SetDC(&dc);
  const struct {
    Colour colour;
    Colour brush;
    Colour snapped;
  } cases[] = {
      {black, black, black},       {green, green, green},
      {brown, brown, red},         {orange, orange, orange},
      {yellow, yellow, yellow},    {grey, grey, red},
      {lightGrey, lightGrey, red}, {magenta, magenta, magenta},
      {white, white, white},       {red, red, red},
      {blue, red, blue},           {cyan, red, blue},
      {lightBlue, red, blue},      {0x010203, red, red},
  };
  for (const auto& c : cases) {
    const platform::Brush* brush = display.SelectBrush(c.colour);
    EXPECT_EQ(brush->GetColour(), c.brush) << std::hex << c.colour;
    EXPECT_EQ(dc.CurrentBrush(), brush);
    EXPECT_EQ(BaseDisplay::SnapColour(c.colour), c.snapped) << std::hex << c.colour;
  }
}

TEST(BaseDisplay, TextColourByState) {
  const struct {
    int state;
    bool draw;
    bool changes;
    Colour colour;
  } cases[] = {{0, true, true, green}, {1, false, true, orange}, {2, false, false, 0},
               {3, false, false, 0},   {4, true, true, orange},  {5, true, true, red},
               {6, true, false, 0},    {7, false, false, 0},     {-1, false, false, 0}};
  for (const auto& c : cases) {
    RecordingDC dc;
    BaseDisplay display;
    display.SetDC(&dc);
    dc.SetTextColour(0x123456);
    EXPECT_EQ(display.SetTextColourByState(c.state), c.draw) << c.state;
    EXPECT_EQ(dc.GetTextColour(), c.changes ? c.colour : 0x123456u) << c.state;
  }
}

TEST_F(BaseDisplayDC, DegreeMarkers) {
  const struct {
    const char* text;
    const char* letter;
  } cases[] = {{"&", "C"}, {"|", "F"}, {"&x", "C"}};
  for (const auto& c : cases) {
    dc.Clear();
    display.DrawTextItem(TextItem{50, 60, c.text, black, yellow, 0, white});
    const auto ellipses = dc.Named("Ellipse");
    ASSERT_EQ(ellipses.size(), 1u) << c.text;
    EXPECT_EQ(ellipses[0].args, (std::vector<int>{48, 61, 52, 64}));
    EXPECT_EQ(ellipses[0].pen.colour, yellow);
    EXPECT_EQ(ellipses[0].pen.width, 1);
    EXPECT_EQ(dc.Texts(), std::vector<std::string>{c.letter}) << c.text;
    EXPECT_EQ(dc.Named("TextOut")[0].args, (std::vector<int>{53, 60}));
  }
}

TEST_F(BaseDisplayDC, TextItemFontBitsLaterWins) {
  const struct {
    std::uint16_t flags;
    int height;
  } cases[] = {{0x0000, -28}, {0x0008, -36}, {0x0018, -28},
               {0x0028, -21}, {0x1008, -27}, {0x0030, -21}};
  for (const auto& c : cases) {
    dc.Clear();
    display.DrawTextItem(TextItem{10, 10, "AB", black, white, c.flags, white});
    const RecordedCall* text = FindText(dc, "AB");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->font.height, c.height) << std::hex << c.flags;
  }
}

TEST_F(BaseDisplayDC, TextItemCentredWithUnderlineAndBox) {
  // "ABCD" in the 213 font: 4 x 14 = 56 wide, 28 high; w = 2.
  display.DrawTextItem(TextItem{100, 20, "ABCD", black, white, 0x0007, green});
  EXPECT_EQ(dc.Named("TextOut")[0].args, (std::vector<int>{72, 20}));
  EXPECT_EQ(LineTargets(dc), (std::vector<std::pair<int, int>>{
                                 {128, 24}, {132, 18}, {132, 50}, {68, 50}, {68, 18}}));
}

TEST_F(BaseDisplayDC, SmallTextItemMovesDownAndShrinks) {
  TextItem item{10, 20, "A", black, white, 0, white};
  display.DrawSmallTextItem(item, true);
  EXPECT_EQ(item.y, 27);
  EXPECT_EQ(item.flags, 0x0020);
  EXPECT_EQ(FindText(dc, "A")->font.height, -21);
}

struct ReadoutCase {
  std::uint16_t flags;
  std::vector<std::string> texts;
  int boxRight;  // x of the box's right edge, 0: no box
};

class BaseDisplayReadout : public ::testing::TestWithParam<ReadoutCase> {};

TEST_P(BaseDisplayReadout, FieldsAndBox) {
  const ReadoutCase& c = GetParam();
  RecordingDC dc;
  BaseDisplay display;
  display.AttachDC(&dc);
  dc.Clear();
  display.DrawReadout(ReadoutItem{100, 50, 7.36f, 0, black, c.flags, white});
  EXPECT_EQ(dc.Texts(), c.texts) << dc.Dump();
  const auto lines = LineTargets(dc);
  if (c.boxRight == 0) {
    EXPECT_TRUE(lines.empty());
  } else {
    // Closed box through (x0 - w, y0 - w) ... with w = 2, ph = 28.
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], std::make_pair(c.boxRight, 48));
    EXPECT_EQ(lines[1], std::make_pair(c.boxRight, 80));
    EXPECT_EQ(lines[3], std::make_pair(98, 48));
  }
  // The tenths digit in the 160 font, after the number, on its baseline.
  const RecordedCall* tenths = FindText(dc, ".3");
  ASSERT_NE(tenths, nullptr);
  EXPECT_EQ(tenths->font.height, -21);
  const int numberWidth = static_cast<int>(c.texts[0].size()) * 14;
  EXPECT_EQ(tenths->args, (std::vector<int>{100 + numberWidth + 1, 50 + 28 - 21}));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, BaseDisplayReadout,
    ::testing::Values(ReadoutCase{0x0240, {" 7", ".3"}, 100 + 2 + 3 * 14},   // "XXx"
                      ReadoutCase{0x0440, {"  7", ".3"}, 100 + 2 + 4 * 14},  // "XXXx"
                      ReadoutCase{0x0040, {"7", ".3"}, 0},                   // "7x", no box
                      ReadoutCase{0x0044, {"7", ".3"}, 100 + 2 + 2 * 14}));  // "7x" boxed

TEST_F(BaseDisplayDC, ReadoutStatesThatHideTheValue) {
  for (const int state : {1, 2, 3, 9}) {
    dc.Clear();
    display.DrawReadout(ReadoutItem{0, 0, 5.0f, state, black, 0x0004, white});
    EXPECT_TRUE(dc.Texts().empty()) << state;
    EXPECT_TRUE(dc.Named("LineTo").empty()) << state;
  }
  dc.Clear();
  dc.SetTextColour(white);
  display.DrawReadout(ReadoutItem{0, 0, 5.0f, 6, black, 0, white});
  ASSERT_NE(FindText(dc, "5"), nullptr);
  EXPECT_EQ(FindText(dc, "5")->textColour, white);
}

TEST_F(BaseDisplayDC, NumberWithSmallTenths) {
  const struct {
    double value;
    const char* whole;
    const char* tenths;
  } cases[] = {{-0.5, "0", ".5"}, {12.99, "12", ".9"}, {-3.75, "-3", ".7"}};
  for (const auto& c : cases) {
    dc.Clear();
    display.DrawNumber(40, 30, c.value, true);
    EXPECT_EQ(dc.Texts(), (std::vector<std::string>{c.whole, c.tenths}));
    const RecordedCall* tenths = FindText(dc, c.tenths);
    EXPECT_EQ(tenths->font.height, -21);
    const int width = static_cast<int>(std::string(c.whole).size()) * 14;
    EXPECT_EQ(tenths->args, (std::vector<int>{40 + width, 30 + 7}));
  }
  dc.Clear();
  display.DrawNumberCentred(40, 30, 12.99, true);
  EXPECT_EQ(dc.Named("TextOut")[0].args, (std::vector<int>{26, 30}));
  EXPECT_EQ(dc.Named("TextOut")[1].args, (std::vector<int>{55, 37}));
}

TEST_F(BaseDisplayDC, PercentNeedle) {
  const struct {
    double percent;
    int x;
    int y;
  } cases[] = {{0, 65, 65}, {50, 100, 50}, {100, 135, 65}, {-20, 65, 65}, {170, 135, 65}};
  for (const auto& c : cases) {
    dc.Clear();
    display.DrawPercentNeedle(platform::Point{100, 100}, 50, c.percent, 3, yellow);
    const auto lines = dc.Named("LineTo");
    ASSERT_EQ(lines.size(), 3u) << c.percent;  // needle and two arrowhead strokes
    EXPECT_EQ(lines[0].args, (std::vector<int>{c.x, c.y})) << c.percent;
    EXPECT_EQ(lines[0].pen.width, 3);
    EXPECT_EQ(lines[1].pen.style, platform::kPenGeometricSquareSolid);
  }
}

TEST_F(BaseDisplayDC, RotatedText) {
  display.DrawRotatedText(10, 20, "N", 160, cyan, 360.0);
  const RecordedCall* text = FindText(dc, "N");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->font.escapement, 0);
  EXPECT_EQ(text->font.height, -21);  // second set: the 160 size
  EXPECT_EQ(text->bkMode, platform::kTransparent);
  EXPECT_EQ(dc.BkMode(), platform::kOpaque);

  dc.Clear();
  display.DrawRotatedText(10, 20, "E", 213, cyan, -90.7);
  ASSERT_NE(FindText(dc, "E"), nullptr);
  EXPECT_EQ(FindText(dc, "E")->font.escapement, -900);
  EXPECT_EQ(FindText(dc, "E")->font.height, -36);  // first set: the 266 size

  for (const double angle : {361.0, -361.0, 1e300}) {
    dc.Clear();
    display.DrawRotatedText(10, 20, "X", 160, cyan, angle);
    EXPECT_TRUE(dc.Calls().empty()) << angle;
  }
}

TEST_F(BaseDisplayDC, XXXInOrangeWhenStateSaysDoNotDraw) {
  display.DrawStateNumber(30, 40, 12.0f, 1, false);
  const RecordedCall* xxx = FindText(dc, "XXX");
  ASSERT_NE(xxx, nullptr);
  EXPECT_EQ(xxx->textColour, orange);
  EXPECT_EQ(xxx->bkColour, black);
  EXPECT_EQ(xxx->font.height, -28);

  dc.Clear();
  display.SelectFontBySize(160);
  const platform::Font* before = dc.CurrentFont();
  display.DrawCentredNumberByState(30, 40, 12.0f, 1, false, black);
  ASSERT_NE(FindText(dc, "XXX"), nullptr);
  EXPECT_EQ(FindText(dc, "XXX")->args, (std::vector<int>{6, 40}));
  EXPECT_EQ(FindText(dc, "XXX")->textColour, orange);
  EXPECT_EQ(dc.CurrentFont(), before);

  for (const int state : {2, 3, 6}) {
    dc.Clear();
    display.DrawStateNumber(30, 40, 12.0f, state, false);
    EXPECT_TRUE(dc.Texts().empty()) << state;
  }
}

TEST(BaseDisplay, NoDeviceContextMeasuresZeroAndDrawsNothing) {
  BaseDisplay display;
  EXPECT_EQ(display.TextExtentWidth(213, "ABC"), 0);
  EXPECT_EQ(display.TextExtentHeight(213, "ABC"), 0);
  display.DrawNumber(0, 0, 1.5, true);
  display.DrawTextItem(TextItem{0, 0, "A", 0, 0, 0x0004, 0});
}

TEST_F(BaseDisplayDC, NullTextsNeverReachTheContext) {
  EXPECT_EQ(display.TextExtentWidth(213, nullptr), 0);
  display.DrawTextAt(0, 0, nullptr);
  display.DrawText(0, 0, nullptr, black, white, 213, true);
  display.DrawCaption(0, 0, nullptr, black, white);
  display.DrawUnderlinedText(0, 0, nullptr, black, white, 213, true);
  display.DrawUnderlinedCaption(0, 0, "", black, white);
  display.DrawTransparentText(0, 0, nullptr, white, 213);
  display.DrawBoxedCaption(nullptr, 0, 0, black, white);
  display.DrawFreeSizeText(platform::Point{0, 0}, nullptr, black, white, 120);
  display.DrawTiltedBoldText(0, 0, nullptr);
  display.DrawRotatedText(0, 0, nullptr, 213, white, 10);
  display.DrawTextItem(TextItem{0, 0, nullptr, 0, 0, 0x0007, 0});
  EXPECT_TRUE(dc.Named("TextOut").empty());
}

TEST_F(BaseDisplayDC, BoxedCaptionAndUnderline) {
  display.DrawBoxedCaption("AB", 20, 30, black, cyan);
  EXPECT_EQ(FindText(dc, "AB")->args, (std::vector<int>{20, 30}));
  const auto lines = dc.Named("LineTo");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].args, (std::vector<int>{20 + 28 + 2, 30 + 28 + 8}));
  EXPECT_EQ(lines[0].pen.width, 3);
  EXPECT_EQ(lines[0].pen.colour, cyan);

  dc.Clear();
  display.DrawUnderlinedText(20, 30, "AB", black, white, 213, true);
  EXPECT_EQ(FindText(dc, "AB")->args, (std::vector<int>{34, 30}));
  EXPECT_EQ(dc.Named("LineTo")[0].args, (std::vector<int>{34 + 28 + 2, 30 + 28 + 2}));
}

TEST_F(BaseDisplayDC, Markers) {
  display.DrawMarker(100, 100, 1, 30, white, green);
  EXPECT_EQ(dc.Named("Ellipse")[0].args, (std::vector<int>{85, 85, 115, 115}));
  EXPECT_EQ(dc.Named("Ellipse")[0].brushColour, green);
  EXPECT_EQ(dc.Named("LineTo")[0].args, (std::vector<int>{100, 85}));
  dc.Clear();
  display.DrawMarker(100, 100, 10, 30, white, black);
  EXPECT_EQ(dc.Named("Ellipse")[0].pen.colour, orange);
  EXPECT_EQ(dc.Named("MoveTo")[0].args, (std::vector<int>{91, 109}));
  EXPECT_EQ(dc.Named("LineTo")[0].args, (std::vector<int>{109, 91}));
  dc.Clear();
  display.DrawMarker(100, 100, 7, 30, white, black);
  EXPECT_TRUE(dc.Named("Ellipse").empty());
}

TEST_F(BaseDisplayDC, ThickLinePensByColour) {
  const struct {
    Colour colour;
    int widthClass;
    int width;  // 0: nothing drawn
  } cases[] = {{blue, 0, 4},  {cyan, 0, 3},  {white, 0, 1}, {magenta, 0, 4}, {yellow, 0, 3},
               {green, 2, 1}, {green, 3, 6}, {grey, 2, 2},  {grey, 3, 6},    {red, 0, 0}};
  for (const auto& c : cases) {
    dc.Clear();
    display.DrawThickLine(DisplayLine{0, 0, 10, 10}, c.widthClass, c.colour);
    const auto lines = dc.Named("LineTo");
    if (c.width == 0) {
      EXPECT_TRUE(lines.empty());
      continue;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].pen.width, c.width) << std::hex << c.colour;
    EXPECT_EQ(lines[0].pen.style, platform::kPenGeometricSquareSolid);
  }
}

TEST_F(BaseDisplayDC, TapeOffsets) {
  RecordingDC strip;
  BitmapRecord tape{};
  tape.pSourceDC = &strip;
  tape.destRect = platform::Rect{10, 20, 70, 220};
  tape.topValue = 1000;
  tape.span = 100;
  tape.pixelsPerUnit = 2;
  tape.wrapOffsetAt0 = 100;
  tape.wrapOffsetAt10 = 300;
  display.DrawTape(tape, 500);
  EXPECT_EQ(dc.Named("BitBlt")[0].args,
            (std::vector<int>{10, 20, 60, 200, 0, 900, static_cast<int>(platform::kSrcCopy)}));
  dc.Clear();
  display.DrawWrappingTape(tape, 23.5);
  EXPECT_EQ(dc.Named("BitBlt")[0].args[5], 170);
  dc.Clear();
  tape.horizontal = true;
  display.DrawWrappingTape(tape, 1e300);  // huge values wrap without looping for ever
  ASSERT_EQ(dc.Named("BitBlt").size(), 1u);
  EXPECT_EQ(dc.Named("BitBlt")[0].args[5], 0);
}

TEST(BaseDisplay, RotatedFontsOutliveTheirCreator) {
  RecordingDC dc;
  auto first = std::make_unique<BaseDisplay>();
  first->AttachDC(&dc);
  BaseDisplay second;
  second.SetDC(&dc);
  first.reset();
  ASSERT_NE(BaseDisplay::GetRotatedFont(1, 90), nullptr);
  dc.Clear();
  second.DrawRotatedText(0, 0, "A", 160, white, 90);
  ASSERT_NE(FindText(dc, "A"), nullptr);
  EXPECT_EQ(FindText(dc, "A")->font.escapement, -900);
}

TEST(BaseDisplay, FailedCreationsLeaveTheContextAlone) {
  platform::SetGdiCreationFailure(true);
  BaseDisplay display;
  platform::SetGdiCreationFailure(false);
  RecordingDC dc;
  display.SetDC(&dc);
  display.SelectPen(false, 0, green);
  display.SelectBrush(green);
  display.DrawLine(DisplayLine{0, 0, 5, 5}, 0, green);
  EXPECT_EQ(dc.CurrentPen(), nullptr);
  EXPECT_EQ(dc.CurrentBrush(), nullptr);
  EXPECT_EQ(dc.Named("LineTo").size(), 1u);
}

// Regression: DrawFreeSizeText and DrawSwitch left their temporary font and
// brush selected in a context that had none of the toolkit's selected, so
// the context went on using a destroyed object.
TEST(BaseDisplay, TemporaryFontAndBrushNeverOutliveTheirCall) {
  for (const bool bFresh : {true, false}) {
    RecordingDC dc;
    BaseDisplay display;
    display.AttachDC(&dc);
    const platform::Font* font = nullptr;
    const platform::Brush* brush = nullptr;
    if (!bFresh) {
      display.SelectFontBySize(160);
      display.SelectBrush(green);
      font = dc.CurrentFont();
      brush = dc.CurrentBrush();
      ASSERT_NE(font, nullptr);
      ASSERT_NE(brush, nullptr);
    }
    display.DrawFreeSizeText(platform::Point{10, 20}, "Free", black, white, 300);
    EXPECT_EQ(dc.CurrentFont(), font) << (bFresh ? "fresh context" : "font selected before");
    display.DrawSwitch(platform::Point{40, 40}, 8, 1, 2);
    EXPECT_EQ(dc.CurrentBrush(), brush) << (bFresh ? "fresh context" : "brush selected before");
    // The next call logs the state in force: nothing of the temporary objects.
    display.DrawTextAt(0, 0, "after");
    const RecordedCall* after = FindText(dc, "after");
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->hasFont, !bFresh);
    EXPECT_EQ(after->hasBrush, !bFresh);
  }
}

// Regression: the tenths digit was std::abs of a truncation that stops at
// INT_MIN for values below about -2.1e9 (undefined behaviour, and ".-2147483648").
TEST_F(BaseDisplayDC, NumbersBeyondTheIntRangeKeepADigit) {
  const struct {
    double value;
    const char* whole;
    const char* tenths;
  } cases[] = {{-3000000000.5, "-2147483648", ".5"},
               {-1e300, "-2147483648", ".0"},
               {3000000000.25, "2147483647", ".2"},
               {-std::numeric_limits<double>::infinity(), "-2147483648", ".0"},
               {std::numeric_limits<double>::quiet_NaN(), "0", ".0"}};
  for (const auto& c : cases) {
    dc.Clear();
    display.DrawNumber(40, 30, c.value, true);
    EXPECT_EQ(dc.Texts(), (std::vector<std::string>{c.whole, c.tenths})) << c.value;
    dc.Clear();
    display.DrawNumberCentred(40, 30, c.value, true);
    EXPECT_EQ(dc.Texts(), (std::vector<std::string>{c.whole, c.tenths})) << c.value;
  }
  dc.Clear();
  display.DrawReadout(ReadoutItem{0, 0, -3.0e9f, 0, black, DisplayFlags::tenths, white});
  EXPECT_EQ(dc.Texts(), (std::vector<std::string>{"-2147483648", ".0"}));
}

// Regression: readouts worked the tenths digit out in double from a float
// field, so 0.7f showed ".6" and 0.9f ".8". The float operations that take
// a float value (by state) show the digit the float was written with.
TEST_F(BaseDisplayDC, FloatValuesShowTheirWrittenTenths) {
  for (int digit = 0; digit <= 9; ++digit) {
    for (const float whole : {0.0f, 3.0f, -12.0f, 250.0f}) {
      const float value = whole + (whole < 0 ? -1.0f : 1.0f) * static_cast<float>(digit) / 10.0f;
      const char expected[3] = {'.', static_cast<char>('0' + digit), '\0'};
      dc.Clear();
      display.DrawReadout(ReadoutItem{0, 0, value, 0, black, DisplayFlags::tenths, white});
      ASSERT_EQ(dc.Texts().size(), 2u);
      EXPECT_EQ(dc.Texts()[1], expected) << "readout of " << value;
      dc.Clear();
      display.DrawStateNumber(0, 0, value, 0, true);
      ASSERT_EQ(dc.Texts().size(), 2u);
      EXPECT_EQ(dc.Texts()[1], expected) << "state number of " << value;
    }
  }
}

// Regression: the needle read a negative arrow length (from a negative width
// class) as "no arrowhead"; only the plain needle goes without one.
TEST_F(BaseDisplayDC, NeedlesKeepTheirArrowheadWhateverTheWidthClass) {
  for (const int widthClass : {-2, -1, 0, 3}) {
    dc.Clear();
    display.DrawPercentNeedle(platform::Point{100, 100}, 50, 50, widthClass, yellow);
    EXPECT_EQ(dc.Named("LineTo").size(), 3u) << "percent needle, width class " << widthClass;
    dc.Clear();
    display.DrawDegreeNeedle(platform::Point{100, 100}, 50, 90, widthClass, yellow);
    EXPECT_EQ(dc.Named("LineTo").size(), 3u) << "degree needle, width class " << widthClass;
    dc.Clear();
    display.DrawPlainDegreeNeedle(platform::Point{100, 100}, 50, 90, widthClass, yellow);
    EXPECT_EQ(dc.Named("LineTo").size(), 1u) << "plain needle, width class " << widthClass;
  }
}
