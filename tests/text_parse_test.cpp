// Tests of the TextFunctions cleaning, copying, parsing, extraction,
// splitting and path helpers, and of the library's registration routine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "registry/RevisionRegistry.h"
#include "text/Files.h"
#include "text/TextFcns.h"
#include "text/TextFcnsConfig.h"
#include "text/tokenise.h"

namespace {

using CleanFn = char* (*)(char*);

std::string Clean(CleanFn f, const char* text) {
  std::vector<char> buf(text, text + std::strlen(text) + 1);
  return f(buf.data());
}

}  // namespace

TEST(TextFcns, CleaningTable) {
  struct Case {
    const char* name;
    CleanFn f;
    const char* in;
    const char* expected;
  };
  const Case cases[] = {
      {"spaces", RemoveSpaces, "a b  c", "abc"},
      {"tabs collapse", CollapseTabs, "a\t\t\tb\tc", "a\tb\tc"},
      {"trim", TrimTrailingSpaces, "ab  ", "ab"},
      {"trim all", TrimTrailingSpaces, "   ", ""},
      {"trim keeps inner", TrimTrailingSpaces, " a b", " a b"},
      {"drop tab", DropTrailingTab, "ab\t\t", "ab\t"},
      {"drop no tab", DropTrailingTab, "ab ", "ab "},
      {"drop empty", DropTrailingTab, "", ""},
      {"newline", CutAtNewline, "ab\ncd\n", "ab"},
      {"tabs to spaces", TabsToSpaces, "a\tb\t", "a b "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Clean(c.f, c.in), c.expected) << c.name;
  }
  char runs[] = "a,,,b,c,,";
  EXPECT_STREQ(CollapseRuns(runs, ','), "a,b,c,");
  char chars[] = "x-y-z";
  EXPECT_STREQ(RemoveChar(chars, '-'), "xyz");
  char under[] = "a b.c";
  EXPECT_STREQ(ReplaceWithUnderscore(under, ' '), "a_b.c");
  EXPECT_STREQ(ReplaceChar(under, '.', '/'), "a_b/c");
  EXPECT_STREQ(CutAtChar(under, '_'), "a");
  EXPECT_STREQ(SkipSpaces("  x"), "x");
  EXPECT_STREQ(SkipSpaces(" \tx"), "\tx");
  EXPECT_EQ(RemoveSpaces(nullptr), nullptr);
  EXPECT_EQ(SkipSpaces(nullptr), nullptr);
}

// The rebuilding cleaners worked through a 1024-byte copy and overran it
// for longer texts; they now compact in place for any length.
TEST(TextFcns, CleaningLongTextStaysInside) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += (i % 3 == 0) ? " " : "ab";
  std::string expected;
  for (char c : text)
    if (c != ' ') expected += c;
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\0');
  EXPECT_EQ(std::string(RemoveSpaces(buf.data())), expected);

  std::string tabs(5000, '\t');
  std::vector<char> t(tabs.begin(), tabs.end());
  t.push_back('\0');
  EXPECT_STREQ(CollapseTabs(t.data()), "\t");

  // RemoveSpacesOutsideQuotes takes 1024 characters, refuses 1025.
  std::vector<char> ok(1024, 'a');
  ok[3] = ' ';
  ok.push_back('\0');
  EXPECT_NE(RemoveSpacesOutsideQuotes(ok.data(), 2000), nullptr);
  EXPECT_EQ(std::strlen(ok.data()), 1023U);
  std::vector<char> big(1025, ' ');
  big.push_back('\0');
  EXPECT_EQ(RemoveSpacesOutsideQuotes(big.data(), 2000), nullptr);
  EXPECT_EQ(std::strlen(big.data()), 1025U);
}

TEST(TextFcns, RemoveSpacesOutsideQuotesTable) {
  struct Case {
    const char* in;
    int maxScan;
    const char* expected;
  };
  const Case cases[] = {
      {"a b \"c d\" e", 100, "ab\"c d\"e"},   {"abc", 100, "abc"}, {"a b c", 2, "a"},
      {"x \"open  end", 100, "x\"open  end"}, {"a b", 0, ""},      {"a b", -5, ""},
  };
  for (const Case& c : cases) {
    std::vector<char> buf(c.in, c.in + std::strlen(c.in) + 1);
    EXPECT_STREQ(RemoveSpacesOutsideQuotes(buf.data(), c.maxScan), c.expected) << c.in;
  }
}

TEST(TextFcns, RemoveSpacesIsBlank) {
  char blank[] = "   ";
  EXPECT_TRUE(RemoveSpacesIsBlank(blank));
  EXPECT_STREQ(blank, "");
  char text[] = "a b\nc";
  EXPECT_FALSE(RemoveSpacesIsBlank(text));
  EXPECT_STREQ(text, "ab");
  char empty[] = "";
  EXPECT_FALSE(RemoveSpacesIsBlank(empty));
  EXPECT_FALSE(RemoveSpacesIsBlank(nullptr));
}

TEST(TextFcns, CopyingAndBuilding) {
  char dst[32];
  std::memset(dst, '#', sizeof dst);
  CopyField20(dst, "abcdefghijklmnopqrstuvwxy");
  EXPECT_EQ(std::string(dst, 20), "abcdefghijklmnopqrst");
  EXPECT_EQ(dst[20], '#') << "no terminator";

  std::memset(dst, '#', sizeof dst);
  CopyTextTerminated(dst, "abcdef", 3);
  EXPECT_STREQ(dst, "abc");
  EXPECT_EQ(dst[4], '#');
  std::memset(dst, '#', sizeof dst);
  CopyTextTerminated(dst, "ab", 3);
  EXPECT_EQ(std::string(dst, 3), std::string("ab\0", 3));
  EXPECT_EQ(dst[3], '#') << "shorter text gets no extra terminator";
  EXPECT_EQ(CopyTextTerminated(dst, "ab", -1), dst);
  EXPECT_EQ(dst[0], 'a');

  char src[] = "a-b-c";
  ReplaceAll(src, dst, "-", "+-");
  EXPECT_STREQ(dst, "a+-b+-c");
  EXPECT_STREQ(src, "a");
  char unchanged[] = "abc";
  ReplaceAll(unchanged, dst, "", "X");
  EXPECT_STREQ(dst, "abc");

  RemoveFirst("abcabc", dst, "bc");
  EXPECT_STREQ(dst, "aabc");
  RemoveFirst("abc", dst, "zz");
  EXPECT_STREQ(dst, "abc");

  EXPECT_STREQ(JoinUnderscoreName(dst, "left_wing_tank"), "leftWingTank");
  EXPECT_STREQ(JoinUnderscoreName(dst, "a_b_c"), "aBc");
  EXPECT_STREQ(JoinUnderscoreName(dst, "end_"), "end");
}

TEST(TextFcns, ReplaceAllBoundedCutsAndCounts) {
  char dst[6];
  char src[] = "a-b-c";
  std::memset(dst, '#', sizeof dst);
  EXPECT_EQ(ReplaceAllBounded(src, dst, 5, "-", "+-"), 7);
  EXPECT_STREQ(dst, "a+-b");
  EXPECT_EQ(dst[5], '#');
  char src2[] = "xx";
  EXPECT_EQ(ReplaceAllBounded(src2, dst, 6, "x", "yy"), 4);
  EXPECT_STREQ(dst, "yyyy");
  EXPECT_EQ(ReplaceAllBounded(src2, dst, 0, "x", "y"), -1);
}

// The scan stepped two characters past a shifted one and could walk over
// the terminator ("a_" + one character, or a space shifted to NUL).
TEST(TextFcns, JoinUnderscoreNameStopsAtTheEnd) {
  char dst[16];
  std::memset(dst, '#', sizeof dst);
  EXPECT_STREQ(JoinUnderscoreName(dst, "ab_c"), "abC");
  EXPECT_STREQ(JoinUnderscoreName(dst, "ab_ "), "ab");
  EXPECT_STREQ(JoinUnderscoreName(dst, "_"), "");
}

TEST(TextFcns, TestsAndParsers) {
  struct HexCase {
    const char* text;
    int expected;
  };
  const HexCase hex[] = {
      {"ff", 255},
      {"0x00FF", 255},
      {"0x1F", 31},
      {"1F", 31},
      {"1f", 31},
      {"0x", 0},
      {"", 0},
      {"FF ", -1},
      {"1 F", -1},
      {"-1", -1},
      {"0X1F", -1},
      {"G", -1},
      {"7fffffff", 2147483647},
      {"FFFFFFFF", -1},
      {"1234567890123456789", -1},
      {"ab0x10", 16},
      {"100000000", 0},
  };
  for (const HexCase& c : hex) EXPECT_EQ(ParseHex(c.text), c.expected) << c.text;
  EXPECT_EQ(ParseHex(nullptr), 0);

  EXPECT_EQ(DigitValue('7'), 7);
  EXPECT_EQ(DigitValue('a'), -1);
  EXPECT_EQ(DigitValue('0' + 256 - 256), 0);
  EXPECT_EQ(TextCode("A"), 1090519040);
  EXPECT_EQ(TextCode("ABCD"), 1094861636);
  EXPECT_EQ(TextCode("ABCDE"), 1094861636 + 69);
  EXPECT_EQ(TextCode("\xff"), -16777216);
  EXPECT_EQ(TextCode(nullptr), -1);
  EXPECT_FALSE(IsEmptyText(nullptr));
  EXPECT_TRUE(IsEmptyText(""));
  EXPECT_FALSE(IsEmptyText(" "));
  EXPECT_TRUE(IsBlankText(""));
  EXPECT_EQ(BoundedLength(nullptr), 0);
  EXPECT_EQ(BoundedLength(std::string(12000, 'x').c_str()), 10000);
  EXPECT_TRUE(EqualIgnoringSpaces("a b c", "abc "));
  EXPECT_FALSE(EqualIgnoringSpaces("abc", "abC"));
  EXPECT_FALSE(EqualIgnoringSpaces("abc", nullptr));
  // Only the first 999 characters of each take part.
  const std::string a = std::string(999, 'x') + "A";
  const std::string b = std::string(999, 'x') + "B";
  EXPECT_TRUE(EqualIgnoringSpaces(a.c_str(), b.c_str()));
  EXPECT_TRUE(ContainsAnyOf("hello", "xyzl"));
  EXPECT_FALSE(ContainsAnyOf("hello", "xyz"));
  EXPECT_FALSE(ContainsAnyOf("hello", ""));
  EXPECT_FALSE(ContainsAnyOf(nullptr, "h"));
}

TEST(TextFcns, ExtractionTable) {
  char out[16];
  EXPECT_STREQ(GetQuotedValue("key=\"red\" other=\"blue\"", "other", out, 16), "blue");
  EXPECT_STREQ(GetQuotedValue("key=\"red\" other=\"blue\"", "absent", out, 16), "");
  EXPECT_STREQ(GetQuotedValue("name = \"Value\"", "name", out, 16), "Value");
  EXPECT_STREQ(GetQuotedValue("name = \"open", "name", out, 16), "");
  EXPECT_STREQ(GetQuotedValue("k=\"0123456789ABCDEFG\"", "k", out, 16), "")
      << "a span longer than size leaves out empty";
  EXPECT_STREQ(GetQuotedValue("k=\"0123456789ABCDEF\"", "k", out, 16), "0123456789ABCDE");
  EXPECT_STREQ(GetElementText("<Tag>12</Tag>", "<Tag", "</Tag", out, 16), "12");
  EXPECT_STREQ(GetElementText("</Tag><Tag>12", "<Tag", "</Tag", out, 16), "")
      << "close before '>' is a negative span";
  EXPECT_STREQ(GetElementText("<Tag 12</Tag", "<Tag", "</Tag", out, 16), "");
  const char* text = "abcdef";
  EXPECT_STREQ(CopySpan(text + 1, text + 4, out, 16), "bcd");
  EXPECT_STREQ(CopySpan(text + 1, text + 4, out, 3), "bc");

  // Size 0 used to store a terminator before out; now nothing is written.
  char guard[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(CopySpan(text, text, guard + 1, 0), guard + 1);
  EXPECT_EQ(GetQuotedValue("a=\"b\"", "a", guard + 1, 0), guard + 1);
  EXPECT_EQ(GetElementText("<a>b</a", "<a", "</a", guard + 1, 0), guard + 1);
  EXPECT_EQ(std::string(guard, 4), "####");
  EXPECT_EQ(GetQuotedValue("a", "a", nullptr, 8), nullptr);
}

TEST(Tokenise, SplitAtCharTable) {
  char text[] = "a,,b";
  char* fields[8] = {};
  ASSERT_EQ(SplitAtChar(text, ",", fields), 3);
  EXPECT_STREQ(fields[0], "a");
  EXPECT_STREQ(fields[1], "");
  EXPECT_STREQ(fields[2], "b");

  char tail[] = "a,";
  ASSERT_EQ(SplitAtChar(tail, ",;", fields), 2);
  EXPECT_STREQ(fields[1], "");

  char four[] = "a,b,c,d";
  char* three[3] = {};
  ASSERT_EQ(SplitAtCharMax(four, ",", three, 2), 3);
  EXPECT_STREQ(three[2], "c,d");

  char none[] = "abc";
  EXPECT_EQ(SplitAtChar(none, "", fields), 1);
  EXPECT_EQ(SplitAtChar(nullptr, ",", fields), 0);
}

TEST(Tokenise, TokeniseTable) {
  struct Case {
    const char* text;
    const char* delimiters;
    int max;  // -2: unbounded Tokenise
    int expected;
    std::vector<const char*> tokens;  // then a null entry when listed
    bool nullAfter;
  };
  const Case cases[] = {
      {"a,,b", ",", -2, 2, {"a", "b"}, true},
      {",,,", ",", -2, 1, {}, true},  // no token still returns 1
      {"", " ", -2, 1, {}, true},
      {"  one   two three ", " ", -2, 3, {"one", "two", "three"}, true},
      {"a b c d", " ", 2, 2, {"a", "b", "c"}, false},
      {"a b", " ", 2, 2, {"a", "b"}, true},
      {"a b", " ", 1, 1, {"a", "b"}, false},
      {"a", " ", 1, 1, {"a"}, true},
      {"a b", " ", 0, 0, {"a"}, false},
      {",,", ",", 3, 1, {}, true},
  };
  for (const Case& c : cases) {
    std::vector<char> buf(c.text, c.text + std::strlen(c.text) + 1);
    char* tokens[8];
    for (char*& t : tokens) t = reinterpret_cast<char*>(&tokens);  // marker
    const int n = c.max == -2 ? Tokenise(buf.data(), c.delimiters, tokens)
                              : TokeniseMax(buf.data(), c.delimiters, tokens, c.max);
    EXPECT_EQ(n, c.expected) << c.text << " max " << c.max;
    const std::size_t k = c.tokens.size();
    for (std::size_t i = 0; i < k; ++i) EXPECT_STREQ(tokens[i], c.tokens[i]) << c.text << " " << i;
    if (c.nullAfter) {
      EXPECT_EQ(tokens[k], nullptr) << c.text;
      if (k == 0) {
        EXPECT_EQ(tokens[1], c.max == 0 ? reinterpret_cast<char*>(&tokens) : nullptr) << c.text;
      }
    } else {
      EXPECT_EQ(tokens[k], reinterpret_cast<char*>(&tokens)) << "wrote past " << c.text;
    }
  }
}

// max 0 on a text without tokens wrote a closing null into a second entry
// the caller never had; a negative max wrote before any check.
TEST(Tokenise, TokeniseMaxNeverWritesPastMaxPlusOne) {
  char empty[] = ",,";
  char* one[2] = {nullptr, reinterpret_cast<char*>(one)};
  EXPECT_EQ(TokeniseMax(empty, ",", one, 0), 1);
  EXPECT_EQ(one[0], nullptr);
  EXPECT_EQ(one[1], reinterpret_cast<char*>(one));
  char text[] = "a";
  char* none[1] = {reinterpret_cast<char*>(none)};
  EXPECT_EQ(TokeniseMax(text, ",", none, -1), 0);
  EXPECT_EQ(none[0], reinterpret_cast<char*>(none));
}

TEST(Tokenise, SecondNamesForward) {
  char a[] = "x y z";
  char* tokens[4];
  EXPECT_EQ(Tokenize(a, " ", tokens), 3);
  EXPECT_STREQ(tokens[2], "z");
  char b[] = "x y z";
  EXPECT_EQ(TokenizeMax(b, " ", tokens, 1), 1);
  EXPECT_STREQ(tokens[1], "y");
  EXPECT_EQ(Tokenise(nullptr, " ", tokens), 0);
}

TEST(Files, PathsTable) {
  struct Case {
    const char* path;
    const char* suffix;
    char separator;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\Folder\\Sub\\Prog.exe", ".exe", '\\', "C:\\Folder\\Sub"},
      {"C:\\a.exe\\b\\prog.exe", ".exe", '\\', "C:"},  // the first ".exe" counts
      {"C:\\Folder\\Prog.EXE", ".exe", '\\', "C:\\Folder\\Prog.EXE"},
      {"Prog.exe", ".exe", '\\', "Prog.exe"},
      {"\\Prog.exe", ".exe", '\\', "\\Prog.exe"},  // the first character is never examined
      {"/opt/orogrid/bin/orogrid", "", '/', "/opt/orogrid/bin"},
      {"/orogrid", "", '/', "/orogrid"},
  };
  for (const Case& c : cases) {
    std::vector<char> buf(c.path, c.path + std::strlen(c.path) + 1);
    EXPECT_STREQ(CutModulePathToFolder(buf.data(), c.suffix, c.separator), c.expected) << c.path;
  }
  char path[] = "C:\\A\\B\\file";
  EXPECT_STREQ(CutAtLastBackslash(path), "C:\\A\\B");
  char plain[] = "file";
  EXPECT_STREQ(CutAtLastBackslash(plain), "file");
}

TEST(Files, GetModuleDirectoryIsTheTestsFolder) {
  char dir[1024];
  ASSERT_TRUE(GetModuleDirectory(dir, sizeof dir));
  const std::string folder(dir);
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '/');
  EXPECT_NE(folder.back(), '\\');
  EXPECT_EQ(folder.find("text_parse_test"), std::string::npos) << folder;
  EXPECT_NE(folder.find("bin"), std::string::npos) << folder;
  char tiny[4] = {'#', '#', '#', '#'};
  EXPECT_FALSE(GetModuleDirectory(tiny, 4));
  EXPECT_EQ(tiny[0], '\0');
}

namespace {
std::vector<std::string> g_rows;
void RecordRow(const char* revision) { g_rows.emplace_back(revision); }
}  // namespace

TEST(TextFcnsConfig, RegistersFiveStringsOnEveryCall) {
  g_rows.clear();
  SetRevisionRowWriter(RecordRow);
  RegisterTextFunctions();
  RegisterTextFunctions();
  RegisterTextFcnsRevision();
  SetRevisionRowWriter(nullptr);
  RegisterTextFunctions();  // no report open: no trace
  const std::vector<std::string> once = {
      "%Z% TextFunctions KT3102:01 TextFunctions $Revision: 1.14 $",
      "%Z% TextFunctions KT3102:02 tokenise $Revision: 1.3 $",
      "%Z% TextFunctions KT3102:03 Files $Revision: 1.2 $",
      "%z% TextFunctions KT3102  Formats $Revision: 1.10 $",
      "%Z% TextFunctions KT3102:05 TextFcnsConfig $Revision: 1.1 $",
  };
  std::vector<std::string> expected = once;
  expected.insert(expected.end(), once.begin(), once.end());
  expected.emplace_back("%Z% TextFunctions KT3102 TextFcns $Revision: 1.3 $");
  EXPECT_EQ(g_rows, expected);
}
