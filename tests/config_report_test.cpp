// Tests of configuration control: the report writer, the registry's
// forwarding and the registration routines' once-per-process and every-call
// behaviour.
//
// The report state is process-wide, so every test closes its report.
// RegisterKT_ErrorReport's flag is process-wide too: only one test calls it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/ConfigControl.h"
#include "config/ConfigFile.h"
#include "errors/KT_ErrorReportConfig.h"
#include "platform/output_file.h"
#include "platform/system_error.h"
#include "registry/RevisionRegistry.h"

namespace {

namespace fs = std::filesystem;

// A fresh path in the temporary folder, unique to this run.
fs::path TempReportPath(const char* name) {
  static const unsigned runId = std::random_device{}();
  return fs::temp_directory_path() /
         ("orogrid-config-" + std::to_string(runId) + "-" + name + ".txt");
}

// The file's text with CR LF turned into LF: the report is written in text
// mode, so Windows ends its lines in CR LF. A CR anywhere else is kept and
// makes a comparison fail.
std::string ReadReport(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream raw;
  raw << in.rdbuf();
  const std::string bytes = raw.str();
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      continue;
    }
    text.push_back(bytes[i]);
  }
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) {
    return "";
  }
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// The four column values of each row line after the heading (the lines
// after the second rule); an unrecognised line gives one entry of its text.
std::vector<std::vector<std::string>> Rows(const std::string& text) {
  const std::vector<std::string> lines = Lines(text);
  std::vector<std::vector<std::string>> rows;
  for (std::size_t i = 5; i < lines.size(); ++i) {
    std::vector<std::string> cells;
    std::istringstream in(lines[i]);
    for (std::string cell; std::getline(in, cell, '|');) {
      cells.push_back(Trim(cell));
    }
    if (cells.size() == 5 && cells[4].empty()) {
      cells.pop_back();  // the blank after the last bar
    }
    rows.push_back(cells);
  }
  return rows;
}

constexpr char kHeading[] =
    "               Quorlan Solutions Ltd. Configuration Control[KT0103] Version 2.3  Report: \n"
    "\n"
    "=============================================================================================="
    "\n"
    "         Product Name |  Quorlan Solutions P/N |                Component name |    Version "
    "|\n"
    "=============================================================================================="
    "\n";

class ConfigReport : public ::testing::Test {
 protected:
  void TearDown() override {
    CloseReport();
    std::error_code ignored;
    for (const fs::path& p : m_paths) {
      fs::remove(p, ignored);
    }
  }
  fs::path Path(const char* name) {
    m_paths.push_back(TempReportPath(name));
    return m_paths.back();
  }
  std::vector<fs::path> m_paths;
};

TEST_F(ConfigReport, GoldenReport) {
  const fs::path path = Path("golden");
  ASSERT_TRUE(OpenReport(path.string().c_str()));
  WriteReportRow("%Z% BaseSharedMemory KT2082:01 BaseSharedMemory $Revision: 1.7 $ ");
  WriteReportRow("%z% TextFunctions KT3102  Formats $Revision: 1.10 $");
  WriteReportRow("Orphan");
  WriteReportRow("%Z% Solo");
  WriteReportRow("%Z% GENERIC KTXXXX TrnInterfaceShm $Revision: 1.1.0");
  WriteReportRow("   ");
  WriteReportRow("%Z% A KT1 File 2.0");  // no "$Revision": the version is token 4
  CloseReport();

  const std::string expected =
      std::string(kHeading) +
      R"(     BaseSharedMemory |              KT2082:01 |              BaseSharedMemory |        1.7 | 
        TextFunctions |                 KT3102 |                       Formats |       1.10 | 
Unrecongnisable Configuration string 
                 Solo |                 KT3102 |                       Formats |       1.10 | 
              GENERIC |                 KTXXXX |               TrnInterfaceShm |      1.1.0 | 
Unrecongnisable Configuration string 
                    A |                    KT1 |                          File |        2.0 | 
)";
  EXPECT_EQ(ReadReport(path), expected);
}

TEST_F(ConfigReport, LongValuePushesTheLineRight) {
  const fs::path path = Path("wide");
  ASSERT_TRUE(OpenReport(path.string().c_str()));
  WriteReportRow("%Z% ProductNameOfTwentyFive1 P F $Revision: 1 $");
  CloseReport();
  EXPECT_EQ(Lines(ReadReport(path)).at(5),
            " ProductNameOfTwentyFive1 |                      P |                             F |  "
            "        "
            "1 | ");
}

TEST_F(ConfigReport, RegistrationWritesOnlyWhileAReportIsOpen) {
  RegisterRevision("%Z% Before KT1 Before $Revision: 1 $");
  const fs::path path = Path("open-close");
  ASSERT_TRUE(OpenReport(path.string().c_str()));
  EXPECT_TRUE(IsReportOpen());
  RegisterRevision("%Z% During KT2 During $Revision: 2 $");
  CloseReport();
  EXPECT_FALSE(IsReportOpen());
  const std::string closed = ReadReport(path);
  RegisterRevision("%Z% After KT3 After $Revision: 3 $");
  WriteReportRow("%Z% After KT3 After $Revision: 3 $");
  CloseReport();  // a second close is harmless
  EXPECT_EQ(ReadReport(path), closed);
  EXPECT_EQ(Rows(closed),
            (std::vector<std::vector<std::string>>{{"During", "KT2", "During", "2"}}));
}

// With no report open a row still updates the column values, which carry
// over into the next report; nothing resets them.
TEST_F(ConfigReport, ColumnValuesCarryOverWithoutAReport) {
  WriteReportRow("%Z% Carried KT7 CarriedFile $Revision: 7.7 $");
  const fs::path path = Path("carry");
  ASSERT_TRUE(OpenReport(path.string().c_str()));
  WriteReportRow("%Z% Solo");
  WriteReportRow("word");
  WriteReportRow("%Z% Two Parts");
  CloseReport();
  EXPECT_EQ(Rows(ReadReport(path)), (std::vector<std::vector<std::string>>{
                                        {"Solo", "KT7", "CarriedFile", "7.7"},
                                        {"Unrecongnisable Configuration string"},
                                        {"Two", "Parts", "CarriedFile", "7.7"},
                                    }));
}

// Regression: opening a second report used to leave the first stream open,
// its buffered rows never written.
TEST_F(ConfigReport, ReopeningClosesTheEarlierReport) {
  const fs::path first = Path("first");
  const fs::path second = Path("second");
  ASSERT_TRUE(OpenReport(first.string().c_str()));
  WriteReportRow("%Z% One KT1 One $Revision: 1 $");
  ASSERT_TRUE(OpenReport(second.string().c_str()));
  WriteReportRow("%Z% Two KT2 Two $Revision: 2 $");
  CloseReport();
  EXPECT_EQ(Rows(ReadReport(first)),
            (std::vector<std::vector<std::string>>{{"One", "KT1", "One", "1"}}));
  EXPECT_EQ(Rows(ReadReport(second)),
            (std::vector<std::vector<std::string>>{{"Two", "KT2", "Two", "2"}}));
}

// Regression: write errors on the report were ignored, so a full disk left
// a truncated report where the good one was and the caller saw success.
TEST_F(ConfigReport, FailedWriteKeepsTheEarlierReportAndSaysWhy) {
  const fs::path path = Path("full-disk");
  ASSERT_TRUE(OpenReport(path.string().c_str()));
  WriteReportRow("%Z% Good KT1 Good $Revision: 1 $");
  ASSERT_TRUE(CloseReport());
  const std::string good = ReadReport(path);

  ASSERT_TRUE(OpenReport(path.string().c_str()));
  platform::SetOutputWriteFailure(platform::FileNotFoundCode());
  // More than the output's buffer, so the failure happens while rows go on.
  for (int i = 0; i < 200; ++i) {
    WriteReportRow("%Z% Lost KT1 Lost $Revision: 1 $");
  }
  platform::SetOutputWriteFailure(0);
  EXPECT_FALSE(CloseReport());
  EXPECT_FALSE(IsReportOpen());
  char reason[256];
  platform::SystemErrorText(platform::FileNotFoundCode(), reason, sizeof reason);
  EXPECT_STREQ(ReportErrorText(), reason);
  EXPECT_EQ(ReadReport(path), good);
  EXPECT_TRUE(CloseReport()) << "nothing open: nothing to fail";
}

TEST_F(ConfigReport, ReportThatCannotBeOpened) {
  const fs::path open = Path("was-open");
  ASSERT_TRUE(OpenReport(open.string().c_str()));
  const fs::path missing = fs::temp_directory_path() / "orogrid-no-such-folder" / "report.txt";
  EXPECT_FALSE(OpenReport(missing.string().c_str()));
  EXPECT_FALSE(IsReportOpen());
  EXPECT_NE(ReportErrorText()[0], '\0');
  RegisterRevision("%Z% Lost KT1 Lost $Revision: 1 $");
  EXPECT_FALSE(fs::exists(missing));
  // The report open before the failed attempt was closed, complete.
  EXPECT_EQ(ReadReport(open), kHeading);

  EXPECT_FALSE(OpenReport(nullptr));
  // A name longer than the 1023-character room is refused rather than cut
  // to the name of some other file.
  const std::string tooLong = (fs::temp_directory_path() / std::string(1100, 'n')).string();
  EXPECT_FALSE(OpenReport(tooLong.c_str()));
  EXPECT_FALSE(IsReportOpen());
}

// Strings outside the limits of the fixed components' strings are cut, never
// written past a buffer.
struct HostileCase {
  const char* name;
  std::string revision;
  std::vector<std::string> row;
  friend void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }
};

class ConfigReportHostile : public ConfigReport,
                            public ::testing::WithParamInterface<HostileCase> {};

TEST_P(ConfigReportHostile, IsCutToTheColumnRooms) {
  const fs::path path = Path(GetParam().name);
  ASSERT_TRUE(OpenReport(path.string().c_str()));
  WriteReportRow("%Z% Seed KTS SeedFile $Revision: 0 $");
  WriteReportRow(GetParam().revision.c_str());
  CloseReport();
  const auto rows = Rows(ReadReport(path));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1], GetParam().row);
}

INSTANTIATE_TEST_SUITE_P(
    ConfigReport, ConfigReportHostile,
    ::testing::Values(
        HostileCase{
            "many-tokens",
            "%Z% P KT1 F $Revision: 1.0 $ a b c d e f g h i j k l m n o p q r s t u v w x y z",
            {"P", "KT1", "F", "1.0"}},
        HostileCase{"long-product",
                    "%Z% " + std::string(300, 'p') + " KT1 F $Revision: 1 $",
                    {std::string(99, 'p'), "KT1", "F", "1"}},
        HostileCase{
            "long-part-and-version",
            "%Z% P " + std::string(40, 'k') + " F $Revision: " + std::string(40, 'v') + " $",
            {"P", std::string(31, 'k'), "F", std::string(31, 'v')}},
        HostileCase{"long-component",
                    "%Z% P KT1 " + std::string(505, 'c') + " $Revision: 1 $",
                    // The line is read up to 511 characters: the component is
                    // cut there and the version repeats the previous row.
                    {"P", "KT1", std::string(511 - 10, 'c'), "0"}},
        HostileCase{"longer-than-the-line",
                    "%Z% P KT1 F $Revision: 2 $" + std::string(600, ' ') + "tail",
                    {"P", "KT1", "F", "2"}},
        HostileCase{"tab-is-not-a-separator", "%Z%\tP KT1", {"KT1", "KTS", "SeedFile", "0"}}),
    [](const ::testing::TestParamInfo<HostileCase>& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (c == '-') c = '_';
      }
      return name;
    });

// ConfigControl has no flag: each call registers the text functions' section
// and then its own four strings again.
TEST_F(ConfigReport, ConfigControlRegistersOnEveryCall) {
  const std::vector<std::vector<std::string>> once = {
      {"TextFunctions", "KT3102:01", "TextFunctions", "1.14"},
      {"TextFunctions", "KT3102:02", "tokenise", "1.3"},
      {"TextFunctions", "KT3102:03", "Files", "1.2"},
      {"TextFunctions", "KT3102", "Formats", "1.10"},
      {"TextFunctions", "KT3102:05", "TextFcnsConfig", "1.1"},
      {"ConfigControl", "KT3103:02", "ConfigFile", "1.3"},
      {"ConfigControl", "KT3103:03", "RevisionString", "1.2"},
      {"ConfigControl", "KT3103:04", "ConfigString", "1.2"},
      {"ConfigControl", "KT3103:05", "ConfigControl", "1.5"},
  };
  RegisterConfigControl();  // no report open: no trace
  const fs::path path = Path("config-control");
  ASSERT_TRUE(OpenReport(path.string().c_str()));
  RegisterConfigControl();
  RegisterConfigControl();
  CloseReport();
  std::vector<std::vector<std::string>> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(Rows(ReadReport(path)), twice);
}

// The only caller of RegisterKT_ErrorReport in this program, so its flag is
// still clear here.
TEST_F(ConfigReport, ErrorReportRegistersOncePerProcess) {
  const fs::path path = Path("error-report");
  ASSERT_TRUE(OpenReport(path.string().c_str()));
  RegisterKT_ErrorReport();
  RegisterKT_ErrorReport();
  CloseReport();
  EXPECT_EQ(Rows(ReadReport(path)), (std::vector<std::vector<std::string>>{
                                        {"KT_ErrorReport", "KT2104:02", "KT_ErrorReport", "1.1"},
                                        {"KT_ErrorReport", "KT2104:01", "KT_ErrorReport", "1.2"},
                                    }));
}

}  // namespace
