// Rendering tests of BaseDisplay through the platform's real device context
// (Cairo images on Linux, GDI DIB sections on Windows): the sample panel is
// drawn and pixels are checked where its geometry puts them. Glyph shapes
// differ between font engines, so only lines, boxes and fills are checked.
#include <gtest/gtest.h>

#include <cstdio>

#include "display/BaseDisplay.h"
#include "platform/device_context.h"
#include "tools/panel/InstrumentPanel.h"

using namespace DisplayPalette;

#if defined(__SANITIZE_ADDRESS__)
// The toolkit's temporary fonts and brushes live on the stack: under
// AddressSanitizer a context still using one after its call returned is
// reported as well.
extern "C" const char* __asan_default_options() { return "detect_stack_use_after_return=1"; }
#endif

namespace {

class DisplayRender : public ::testing::Test {
 protected:
  void SetUp() override {
    dc = platform::CreateImageDC(panel::kWidth, panel::kHeight);
    ASSERT_NE(dc, nullptr);
    ASSERT_TRUE(panel::DrawInstrumentPanel(display, *dc));
  }
  platform::Colour At(int x, int y) const { return dc->GetPixel(x, y); }

  std::unique_ptr<platform::DeviceContext> dc;
  BaseDisplay display;
};

}  // namespace

TEST_F(DisplayRender, NeedleAtHalfScaleIsVertical) {
  for (int k = 12; k <= panel::kNeedleLength - 16; ++k) {
    ASSERT_EQ(At(panel::kDialX, panel::kDialY - k), yellow) << "k=" << k;
  }
  // Three pixels wide, and nothing beside it.
  EXPECT_EQ(At(panel::kDialX - 1, panel::kDialY - 40), yellow);
  EXPECT_EQ(At(panel::kDialX + 1, panel::kDialY - 40), yellow);
  EXPECT_EQ(At(panel::kDialX - 4, panel::kDialY - 40), black);
  EXPECT_EQ(At(panel::kDialX + 4, panel::kDialY - 40), black);
}

TEST_F(DisplayRender, ArrowheadStrokesMeetAtTheTip) {
  // Strokes run from the tip towards +-15 degrees at radius - 12: both sides
  // of the needle carry yellow a few pixels below the tip.
  const int tipY = panel::kDialY - panel::kNeedleLength;
  int left = 0;
  int right = 0;
  for (int x = panel::kDialX - 30; x < panel::kDialX - 3; ++x) {
    for (int y = tipY; y < tipY + 16; ++y) {
      left += At(x, y) == yellow;
    }
  }
  for (int x = panel::kDialX + 4; x < panel::kDialX + 30; ++x) {
    for (int y = tipY; y < tipY + 16; ++y) {
      right += At(x, y) == yellow;
    }
  }
  EXPECT_GT(left, 10);
  EXPECT_GT(right, 10);
}

TEST_F(DisplayRender, BoxedCaptionEdges) {
  const int left = panel::kCaptionX - 5;
  const int top = panel::kCaptionY - 5;
  EXPECT_EQ(At(left, panel::kCaptionY + 10), cyan);
  EXPECT_EQ(At(left + 40, top), cyan);
  EXPECT_EQ(At(left, top + 20), cyan);
  // Inside the box, left of the text cell: still black.
  EXPECT_EQ(At(panel::kCaptionX - 2, panel::kCaptionY + 10), black);
  // Outside: black.
  EXPECT_EQ(At(left - 4, panel::kCaptionY + 10), black);
}

TEST_F(DisplayRender, Fills) {
  EXPECT_EQ(At(panel::kLabelBox.left + 5, panel::kLabelBox.top + 5), brown);
  EXPECT_EQ(At(panel::kLabelBox.right - 1, panel::kLabelBox.top), brown);
  EXPECT_EQ(At(panel::kLabelBox.right, panel::kLabelBox.top + 5), black);
  // Markers: green and red fills beside their strokes.
  EXPECT_EQ(At(panel::kMarkerX[0] - 8, panel::kMarkerY), green);
  EXPECT_EQ(At(panel::kMarkerX[0], panel::kMarkerY - 8), white);  // vertical stroke
  EXPECT_EQ(At(panel::kMarkerX[1], panel::kMarkerY - 8), red);
  EXPECT_EQ(At(panel::kMarkerX[1] - 8, panel::kMarkerY), white);  // horizontal stroke
  EXPECT_EQ(At(240, 150), black);
}

TEST_F(DisplayRender, TapeShowsTheValueMidWindow) {
  // Value 250 sits mid-window: its long tick, white, at the window's middle.
  const int mid = (panel::kTapeWindow.top + panel::kTapeWindow.bottom) / 2;
  EXPECT_EQ(At(panel::kTapeWindow.left + 5, mid), white);
  EXPECT_EQ(At(panel::kTapeWindow.left + 12, mid), white);
  // Ticks every 10 units (20 pixels); grey strip between them.
  EXPECT_EQ(At(panel::kTapeWindow.left + 5, mid - 20), white);
  EXPECT_EQ(At(panel::kTapeWindow.left + 5, mid - 10), grey);
  EXPECT_EQ(At(panel::kTapeWindow.left + 12, mid - 20), grey);  // short tick
  // The orange pointer left of the window.
  EXPECT_EQ(At(panel::kTapeWindow.left - 4, mid), orange);
}

TEST(DisplayRenderImage, WritesTheImage) {
  auto dc = platform::CreateImageDC(8, 4);
  ASSERT_NE(dc, nullptr);
  dc->SetPixel(1, 2, orange);
  EXPECT_EQ(dc->GetPixel(1, 2), orange);
  EXPECT_EQ(dc->GetPixel(8, 2), 0u);
  char path[64];
  std::snprintf(path, sizeof path, "display_render_test_%d.img", 1);
  EXPECT_TRUE(platform::WriteImage(*dc, path));
  std::FILE* f = std::fopen(path, "rb");
  ASSERT_NE(f, nullptr);
  unsigned char magic[2] = {};
  EXPECT_EQ(std::fread(magic, 1, 2, f), 2u);
  std::fclose(f);
  std::remove(path);
  EXPECT_TRUE((magic[0] == 0x89 && magic[1] == 'P') || (magic[0] == 'B' && magic[1] == 'M'));
  EXPECT_FALSE(platform::WriteImage(*dc, "/nonexistent-dir/x/y.img"));
}

// Regression: on a fresh context DrawFreeSizeText and DrawSwitch left their
// temporary font and brush selected after destroying them (Cairo then read a
// destroyed font face; GDI kept the deleted handle selected). Afterwards the
// context must measure with its own font and fill with its own white brush.
TEST(DisplayRenderImage, FreshContextGetsItsOwnFontAndBrushBack) {
  auto dc = platform::CreateImageDC(120, 80);
  ASSERT_NE(dc, nullptr);
  const platform::Size before = dc->TextExtent("WWW", 3);
  ASSERT_GT(before.cx, 0);
  BaseDisplay display;
  display.SetDC(dc.get());
  display.DrawFreeSizeText(platform::Point{4, 40}, "Big", black, white, 480);
  const platform::Size after = dc->TextExtent("WWW", 3);
  EXPECT_EQ(after.cx, before.cx);
  EXPECT_EQ(after.cy, before.cy);

  display.DrawSwitch(platform::Point{60, 40}, 10, 1, 0);
  EXPECT_EQ(dc->GetPixel(60, 40), black);  // the switch's own black brush
  dc->Rectangle(platform::Rect{90, 10, 110, 30});
  EXPECT_EQ(dc->GetPixel(100, 20), white);
}

TEST(DisplayRenderImage, CopiesPixelsAndBlits) {
  const platform::Colour pixels[6] = {red, green, blue, white, black, orange};
  auto src = platform::CreateImageDCFromPixels(3, 2, pixels, 3);
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(src->GetPixel(1, 0), green);
  EXPECT_EQ(src->GetPixel(2, 1), orange);
  auto dst = platform::CreateImageDC(10, 10);
  BaseDisplay display;
  display.SetDC(dst.get());
  display.CopyBitmapAt(platform::Rect{4, 4, 7, 6}, src.get(), platform::Point{0, 0});
  EXPECT_EQ(dst->GetPixel(4, 4), red);
  EXPECT_EQ(dst->GetPixel(6, 5), orange);
  EXPECT_EQ(dst->GetPixel(7, 5), black);
  BitmapRecord record{};
  record.pSourceDC = src.get();
  record.destRect = platform::Rect{0, 0, 6, 4};
  record.sourceWidth = 3;
  record.sourceHeight = 2;
  display.StretchBitmap(record);
  EXPECT_EQ(dst->GetPixel(1, 1), red);
  EXPECT_EQ(dst->GetPixel(5, 3), orange);
}

TEST(DisplayRenderImage, TextExtentsOfTheRealFonts) {
  auto dc = platform::CreateImageDC(50, 50);
  BaseDisplay display;
  display.AttachDC(dc.get());
  const int w1 = display.TextExtentWidth(213, "0");
  EXPECT_GT(w1, 5);
  EXPECT_EQ(display.TextExtentWidth(213, "00"), 2 * w1);
  EXPECT_GE(display.TextExtentHeight(213, "0"), display.GetTextHeight());
  EXPECT_EQ(display.GetFontMetrics(213).charWidths['0' - 32], w1);
}
