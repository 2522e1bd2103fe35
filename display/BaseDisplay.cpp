// BaseDisplay resources: palette pens, brushes and fonts, their selection by
// colour, width class and size code, the font sizes of a display scale and
// the process-wide rotated fonts. The drawing operations are in
// BaseDisplayDraw.cpp.
// Threading: the thread that owns the device context; the rotated-font sets
// and the object count are process-wide and unguarded (one UI thread).
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "display/BaseDisplay.h"
#include "registry/RevisionRegistry.h"
#include "text/TextFcns.h"

namespace {

const char g_szBaseDisplayRevision[] =
    "%Z% KT-P-00001-02 KT-P-0001-02-1200 BaseDisplay $Revision: 1.13 $ ";

using platform::Font;
using namespace DisplayPalette;

// Process-wide rotated fonts: set 0 from the 266 size (used by the 213 code),
// set 1 from the 160 size. Kept while any display object exists.
std::unique_ptr<Font[]> g_rotatedFonts;
bool g_bRotatedFontsCreated = false;
int g_nDisplayObjects = 0;

// Indexes of m_fontMetrics (266, 213, 160, 200, 193, 140, 240).
int MetricsIndex(int sizeCode) {
  switch (sizeCode) {
    case 266:
      return 0;
    case 160:
      return 2;
    case 200:
      return 3;
    case 193:
      return 4;
    case 140:
      return 5;
    case 240:
      return 6;
    default:
      return 1;
  }
}

// Font slots (240, 213, 160, 140, 193, 266, spare, 200).
int FontSlot(int sizeCode) {
  switch (sizeCode) {
    case 240:
      return 0;
    case 160:
      return 2;
    case 140:
      return 3;
    case 193:
      return 4;
    case 266:
      return 5;
    case 200:
      return 7;
    default:
      return 1;
  }
}

// Pen table rows and their colours.
enum PenRow {
  kRowWhite,
  kRowCyan,
  kRowLightBlue,
  kRowOrange,
  kRowYellow,
  kRowRed,
  kRowMagenta,
  kRowGreen,
  kRowBlack,
  kRowGrey
};
constexpr Colour kPenRowColours[10] = {white, cyan,    lightBlue, orange, yellow,
                                       red,   magenta, green,     black,  grey};
constexpr int kPenWidths[3] = {1, 3, 5};

struct ExtraPen {
  int style;
  int width;
  Colour colour;
};
constexpr ExtraPen kExtraPens[16] = {
    {platform::kPenSolid, 100, black},
    {platform::kPenSolid, 100, red},
    {platform::kPenDash, 1, white},
    {platform::kPenDash, 1, orange},
    {platform::kPenDash, 1, green},
    {platform::kPenDash, 1, cyan},
    {platform::kPenDash, 1, red},
    {platform::kPenGeometricSquareSolid, 4, blue},
    {platform::kPenGeometricSquareSolid, 6, green},
    {platform::kPenGeometricSquareSolid, 1, white},
    {platform::kPenGeometricSquareSolid, 3, cyan},
    {platform::kPenGeometricSquareSolid, 1, green},
    {platform::kPenGeometricSquareSolid, 6, grey},
    {platform::kPenGeometricSquareSolid, 2, grey},
    {platform::kPenGeometricSquareSolid, 3, yellow},
    {platform::kPenGeometricSquareSolid, 4, magenta},
};

constexpr Colour kBrushColours[10] = {black,   lightGrey, red,    green, white,
                                      magenta, yellow,    orange, grey,  brown};

int BrushIndex(Colour colour) {
  switch (colour) {
    case black:
      return 0;
    case lightGrey:
      return 1;
    case green:
      return 3;
    case white:
      return 4;
    case magenta:
      return 5;
    case yellow:
      return 6;
    case orange:
      return 7;
    case grey:
      return 8;
    case brown:
      return 9;
    default:
      return 2;
  }
}

int PenRowOf(Colour colour) {
  switch (colour) {
    case black:
      return kRowBlack;
    case green:
      return kRowGreen;
    case orange:
      return kRowOrange;
    case yellow:
      return kRowYellow;
    case grey:
    case lightGrey:
      return kRowGrey;
    case magenta:
      return kRowMagenta;
    case lightBlue:
      return kRowLightBlue;
    case blue:
    case cyan:
      return kRowCyan;
    case white:
      return kRowWhite;
    default:
      return kRowRed;
  }
}

// Sizes round to whole points: R(x) = truncate(x / 10 + 0.5) * 10 tenths.
// Sizes are positive, so adding a half and truncating is the rounding the
// size table is defined by.
int RoundToPoint(double tenths) {
  return static_cast<int>(tenths / 10.0 + 0.5) * 10;  // NOLINT(bugprone-incorrect-roundings)
}

}  // namespace

void RegisterBaseDisplay() {
  static bool s_bRegistered = false;
  if (s_bRegistered) {
    return;
  }
  BeginComponent("BaseDisplay");
  RegisterRevision(g_szBaseDisplayRevision);
  RegisterRevision(kBaseDisplayHeaderRevision);
  EndComponent();
  s_bRegistered = true;
}

BaseDisplay::BaseDisplay()
    : m_markFahrenheit{},
      m_markCelsius{},
      m_markDegree{},
      m_pDC(nullptr),
      m_fontMetrics{},
      m_lineGap(0),
      m_scale(1.0),
      m_useArialForFixed(false),
      m_nAuxiliary(0),
      m_pFontDC{},
      m_logFont{},
      m_bFontsCreated(false),
      m_bPensCreated(false),
      m_bBrushesCreated(false),
      m_pCurrentBrush(nullptr) {
  ++g_nDisplayObjects;
  RegisterBaseDisplay();
  CreatePens();
  CreateBrushes();
  FormatTextSafe(m_markFahrenheit, sizeof m_markFahrenheit, "%c", '|');
  FormatTextSafe(m_markCelsius, sizeof m_markCelsius, "%c", '&');
  FormatTextSafe(m_markDegree, sizeof m_markDegree, "%c", '^');
}

BaseDisplay::~BaseDisplay() { DeleteResources(); }

void BaseDisplay::SetDC(platform::DeviceContext* pDC) { m_pDC = pDC; }

void BaseDisplay::SetDC(platform::DeviceContext* pDC, int auxiliary) {
  m_pDC = pDC;
  m_nAuxiliary = auxiliary;
}

void BaseDisplay::AttachDC(platform::DeviceContext* pDC) {
  m_pDC = pDC;
  EnsureFonts();
  CreateRotatedFonts(213, 266);
}

void BaseDisplay::EnsureFonts() {
  if (!m_bFontsCreated) {
    SetScale(1.0);
  }
}

void BaseDisplay::SetScale(double scale) {
  if (m_bFontsCreated) {
    return;
  }
  m_scale = ClampD(0.0, scale, 1.0);
  const double s1 = m_scale;
  // The 213, 193 and 140 sizes stop shrinking at 0.4215 of full size.
  const double s2 = m_scale < 0.5 ? 0.4215 : m_scale;
  int sizes[kFontCount];  // metrics order: 266, 213, 160, 200, 193, 140, 240
  sizes[0] = RoundToPoint(266 * s1);
  sizes[1] = RoundToPoint(213 * s2);
  sizes[2] = RoundToPoint(160 * s1);
  sizes[3] = RoundToPoint(200 * s1);
  sizes[4] = RoundToPoint(193 * s2);
  sizes[5] = RoundToPoint(140 * s2);
  sizes[6] = static_cast<int>(213 * s2 / 9.5 + 0.5) * 10;  // NOLINT(bugprone-incorrect-roundings)
  CreateFonts(sizes);
}

BaseDisplay& BaseDisplay::UseArialForFixedFont() {
  m_useArialForFixed = true;
  return *this;
}

int BaseDisplay::GetTextHeight() const { return m_fontMetrics[MetricsIndex(213)].pixelHeight; }

const FontMetrics& BaseDisplay::GetFontMetrics(int sizeCode) const {
  return m_fontMetrics[MetricsIndex(sizeCode)];
}

const platform::Font* BaseDisplay::GetFont(int sizeCode) const {
  const platform::Font& font = m_fonts[FontSlot(sizeCode)];
  return font.IsCreated() ? &font : nullptr;
}

const platform::Font* BaseDisplay::GetRotatedFont(int set, int i) {
  if (!g_bRotatedFontsCreated || set < 0 || set > 1 || i < 0 || i >= kRotatedFonts) {
    return nullptr;
  }
  const platform::Font& font = g_rotatedFonts[set * kRotatedFonts + i];
  return font.IsCreated() ? &font : nullptr;
}

platform::Font* BaseDisplay::FontForCode(int sizeCode) { return &m_fonts[FontSlot(sizeCode)]; }

void BaseDisplay::CreateFonts(const int sizes[kFontCount]) {
  static constexpr int kCreateOrder[kFontCount] = {266, 213, 160, 200, 240, 140, 193};
  for (const int code : kCreateOrder) {
    const int index = MetricsIndex(code);
    m_pFontDC[index] = m_pDC;
    const char* face = (code == 200 && !m_useArialForFixed) ? "Courier New" : "Arial";
    FontForCode(code)->CreatePointFont(sizes[index], face, m_pDC);
  }
  static constexpr int kMeasureOrder[kFontCount] = {240, 213, 266, 160, 200, 193, 140};
  for (const int code : kMeasureOrder) {
    const int index = MetricsIndex(code);
    FontMetrics& metrics = m_fontMetrics[index];
    metrics = FontMetrics{};
    metrics.pointSize = sizes[index];
    platform::LogFont logFont{};
    if (FontForCode(code)->GetLogFont(logFont)) {
      metrics.pixelHeight = std::abs(logFont.height);
    }
    MeasureFont(FontSlot(code), metrics);
  }
  m_lineGap =
      m_fontMetrics[MetricsIndex(213)].pixelHeight - m_fontMetrics[MetricsIndex(160)].pixelHeight;
  CreateRotatedFonts(sizes[MetricsIndex(160)], sizes[MetricsIndex(266)]);
  m_bFontsCreated = true;
}

void BaseDisplay::MeasureFont(int slot, FontMetrics& metrics) {
  platform::MeasureCharWidths(m_fonts[slot], 32, 126, metrics.charWidths);
}

void BaseDisplay::CreateRotatedFonts(int sizeA, int sizeB) {
  if (g_bRotatedFontsCreated) {
    return;
  }
  if (!g_rotatedFonts) {
    g_rotatedFonts = std::make_unique<Font[]>(2 * kRotatedFonts);
  }
  for (int set = 0; set < 2; ++set) {
    const int size = set == 0 ? sizeB : sizeA;
    for (int i = 0; i < kRotatedFonts; ++i) {
      m_logFont = platform::LogFont{};
      m_logFont.height = size;
      m_logFont.escapement = -10 * i;
      std::strcpy(m_logFont.faceName, "Arial");
      g_rotatedFonts[set * kRotatedFonts + i].CreatePointFontIndirect(m_logFont, m_pDC);
    }
  }
  g_bRotatedFontsCreated = true;
}

void BaseDisplay::CreatePens() {
  if (m_bPensCreated) {
    return;
  }
  for (int row = 0; row < 10; ++row) {
    for (int column = 0; column < 3; ++column) {
      m_pens[row][column].CreatePen(platform::kPenSolid, kPenWidths[column], kPenRowColours[row]);
    }
  }
  for (int i = 0; i < 16; ++i) {
    const ExtraPen& pen = kExtraPens[i];
    if (pen.style == platform::kPenGeometricSquareSolid) {
      const platform::LogBrush brush{platform::kBrushSolid, pen.colour, 1};
      m_extraPens[i].CreateExtPen(pen.style, pen.width, brush);
    } else {
      m_extraPens[i].CreatePen(pen.style, pen.width, pen.colour);
    }
  }
  m_bPensCreated = true;
}

void BaseDisplay::CreateBrushes() {
  if (m_bBrushesCreated) {
    return;
  }
  for (int i = 0; i < 10; ++i) {
    m_brushes[i].CreateSolidBrush(kBrushColours[i]);
  }
  m_bBrushesCreated = true;
}

void BaseDisplay::DeleteResources() {
  for (Font& font : m_fonts) {
    font.DeleteObject();
  }
  // The rotated sets are shared: the last display object releases them, so
  // an object made after another has gone still finds them.
  if (--g_nDisplayObjects == 0 && g_rotatedFonts) {
    g_rotatedFonts.reset();
    g_bRotatedFontsCreated = false;
  }
  for (platform::Brush& brush : m_brushes) {
    brush.DeleteObject();
  }
  for (auto& row : m_pens) {
    for (platform::Pen& pen : row) {
      pen.DeleteObject();
    }
  }
  for (platform::Pen& pen : m_extraPens) {
    pen.DeleteObject();
  }
}

void BaseDisplay::SelectPenObject(platform::Pen& pen) {
  if (m_pDC != nullptr && pen.IsCreated()) {
    m_pDC->SelectPen(&pen);
  }
}

void BaseDisplay::SelectBrushObject(const platform::Brush& brush) {
  if (m_pDC != nullptr && brush.IsCreated()) {
    m_pDC->SelectBrush(&brush);
  }
}

void BaseDisplay::RestoreFont(const platform::Font* previous) {
  if (previous != nullptr) {
    m_pDC->SelectFont(previous);
  } else {
    m_pDC->SelectDefaultFont();
  }
}

void BaseDisplay::RestoreBrush(const platform::Brush* previous) {
  if (previous != nullptr) {
    m_pDC->SelectBrush(previous);
  } else {
    m_pDC->SelectDefaultBrush();
  }
}

void BaseDisplay::SelectPen(bool skip, int widthClass, Colour colour) {
  if (skip) {
    return;
  }
  if (widthClass == -1) {
    if (colour == black) {
      SelectPenObject(m_extraPens[0]);
    } else if (colour == red) {
      SelectPenObject(m_extraPens[1]);
    }
    return;
  }
  int column = 2;
  if (widthClass >= 0 && widthClass <= 2) {
    column = 0;
  } else if (widthClass >= 3 && widthClass <= 5) {
    column = 1;
  }
  SelectPenObject(m_pens[PenRowOf(colour)][column]);
}

const platform::Brush& BaseDisplay::BrushFor(Colour colour) const {
  return m_brushes[BrushIndex(colour)];
}

const platform::Brush* BaseDisplay::SelectBrush(Colour colour) {
  const platform::Brush* brush = &BrushFor(colour);
  m_pCurrentBrush = brush;
  SelectBrushObject(*brush);
  return brush;
}

void BaseDisplay::SelectFontBySize(int sizeCode) {
  const platform::Font* font = FontForCode(sizeCode);
  if (m_pDC != nullptr && font->IsCreated()) {
    m_pDC->SelectFont(font);
  }
}

bool BaseDisplay::SetTextColourByState(int state) {
  Colour colour = 0;
  bool bSet = false;
  bool bDraw = false;
  switch (state) {
    case 0:
      colour = green;
      bSet = true;
      bDraw = true;
      break;
    case 1:
      colour = orange;
      bSet = true;
      break;
    case 4:
      colour = orange;
      bSet = true;
      bDraw = true;
      break;
    case 5:
      colour = red;
      bSet = true;
      bDraw = true;
      break;
    case 6:
      bDraw = true;
      break;
    default:
      break;
  }
  if (bSet && m_pDC != nullptr) {
    m_pDC->SetTextColour(colour);
  }
  return bDraw;
}

Colour BaseDisplay::SnapColour(Colour colour) {
  switch (colour) {
    case black:
    case green:
    case orange:
    case yellow:
    case magenta:
    case white:
      return colour;
    case lightBlue:
    case blue:
    case cyan:
      return blue;
    default:
      return red;
  }
}
