// Tests of the Windows program's compiled resources: the dialog templates
// are read back from the linked resource section, as the dialog manager
// reads them, and their controls' places and sizes checked.
//
// Threading: single-threaded.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/resource.h"

namespace {

struct TemplateItem {
  std::uint32_t style;
  int x, y, cx, cy;
  int id;
  int classOrdinal;       // 0x0080 button ... 0x0082 static; -1 for a class name
  std::string className;  // the class name, lower case, when not an ordinal
  int titleOrdinal;       // a resource id as title (icons); -1 for a text
};

// Reads an extended dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX
// items). Every read is checked against the resource's size; false on a
// template that is not one or runs past its end.
class TemplateReader {
 public:
  TemplateReader(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}

  bool Read(std::vector<TemplateItem>& items) {
    std::uint16_t version = 0;
    std::uint16_t signature = 0;
    std::uint32_t style = 0;
    std::uint16_t count = 0;
    if (!Word(version) || !Word(signature) || version != 1 || signature != 0xFFFF) {
      return false;
    }
    std::uint32_t ignored = 0;
    std::uint16_t ignoredWord = 0;
    int ordinal = 0;
    if (!Dword(ignored) || !Dword(ignored) || !Dword(style) || !Word(count) ||
        !Skip(4 * sizeof(std::int16_t)) || !SizeOrOrdinal(ordinal) || !SizeOrOrdinal(ordinal) ||
        !SizeOrOrdinal(ordinal)) {
      return false;
    }
    if ((style & (DS_SETFONT | DS_SHELLFONT)) != 0 &&
        (!Word(ignoredWord) || !Word(ignoredWord) || !Skip(2) || !SizeOrOrdinal(ordinal))) {
      return false;
    }
    for (int i = 0; i < count; ++i) {
      TemplateItem item{};
      std::int16_t box[4] = {};
      std::uint32_t id = 0;
      std::uint16_t extra = 0;
      if (!Align() || !Dword(ignored) || !Dword(ignored) || !Dword(item.style) || !Short(box[0]) ||
          !Short(box[1]) || !Short(box[2]) || !Short(box[3]) || !Dword(id) ||
          !SizeOrOrdinal(item.classOrdinal, &item.className) || !SizeOrOrdinal(item.titleOrdinal) ||
          !Word(extra) || !Skip(extra)) {
        return false;
      }
      item.x = box[0];
      item.y = box[1];
      item.cx = box[2];
      item.cy = box[3];
      item.id = static_cast<std::int32_t>(id);
      items.push_back(item);
    }
    return true;
  }

 private:
  bool Skip(std::size_t n) {
    if (n > m_size - m_at) {
      return false;
    }
    m_at += n;
    return true;
  }
  bool Align() { return Skip((4 - m_at % 4) % 4); }
  template <typename T>
  bool Value(T& out) {
    if (sizeof out > m_size - m_at) {
      return false;
    }
    std::memcpy(&out, m_data + m_at, sizeof out);
    m_at += sizeof out;
    return true;
  }
  bool Word(std::uint16_t& out) { return Value(out); }
  bool Short(std::int16_t& out) { return Value(out); }
  bool Dword(std::uint32_t& out) { return Value(out); }
  // sz_Or_Ord: 0 (none), 0xFFFF and an ordinal, or a terminated UTF-16 text
  // (kept in text, lower case, when asked for).
  bool SizeOrOrdinal(int& ordinal, std::string* text = nullptr) {
    ordinal = -1;
    std::uint16_t first = 0;
    if (!Word(first)) {
      return false;
    }
    if (first == 0xFFFF) {
      std::uint16_t value = 0;
      if (!Word(value)) {
        return false;
      }
      ordinal = value;
      return true;
    }
    for (std::uint16_t c = first; c != 0;) {
      if (text != nullptr) {
        text->push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
      }
      if (!Word(c)) {
        return false;
      }
    }
    return true;
  }

  const unsigned char* m_data;
  std::size_t m_size;
  std::size_t m_at = 0;
};

std::vector<TemplateItem> DialogItems(int id) {
  std::vector<TemplateItem> items;
  HRSRC resource =
      ::FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
  if (resource == nullptr) {
    ADD_FAILURE() << "no dialog template " << id;
    return items;
  }
  HGLOBAL loaded = ::LoadResource(nullptr, resource);
  const auto* data = static_cast<const unsigned char*>(::LockResource(loaded));
  const DWORD size = ::SizeofResource(nullptr, resource);
  if (data == nullptr || !TemplateReader(data, size).Read(items)) {
    ADD_FAILURE() << "dialog template " << id << " cannot be read";
  }
  return items;
}

}  // namespace

// Regression: the About box's icon was an ICON statement, whose size the
// resource compiler drops, so the built template gave the control 0 x 0.
TEST(AppResources, AboutBoxIconKeepsItsPlaceAndSize) {
  const std::vector<TemplateItem> items = DialogItems(IDD_ABOUTBOX);
  const TemplateItem* icon = nullptr;
  for (const TemplateItem& item : items) {
    if (item.titleOrdinal == IDR_MAINFRAME) {
      icon = &item;
    }
  }
  ASSERT_NE(icon, nullptr) << "no control shows icon " << IDR_MAINFRAME;
  // A static control, by ordinal or by name.
  EXPECT_TRUE(icon->classOrdinal == 0x0082 || icon->className == "static");
  EXPECT_EQ(icon->style & SS_TYPEMASK, static_cast<std::uint32_t>(SS_ICON));
  EXPECT_EQ(icon->id, IDC_STATIC);
  EXPECT_EQ(icon->x, 11);
  EXPECT_EQ(icon->y, 17);
  EXPECT_EQ(icon->cx, 20);
  EXPECT_EQ(icon->cy, 20);
  EXPECT_NE(icon->style & WS_VISIBLE, 0u);
  EXPECT_NE(icon->style & WS_CHILD, 0u);
}

TEST(AppResources, EveryControlHasASize) {
  for (const int dialog : {IDD_ABOUTBOX, IDD_OROGRID_DIALOG}) {
    const std::vector<TemplateItem> items = DialogItems(dialog);
    EXPECT_EQ(items.size(), 4u) << dialog;
    for (const TemplateItem& item : items) {
      EXPECT_GT(item.cx, 0) << "dialog " << dialog << ", control " << item.id;
      EXPECT_GT(item.cy, 0) << "dialog " << dialog << ", control " << item.id;
    }
  }
}
