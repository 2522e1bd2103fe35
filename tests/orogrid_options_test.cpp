// The Linux server's command line: what each argument list asks for and
// how the refusals read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/OrogridOptions.h"

namespace {

using orogrid_options::Action;

orogrid_options::Options ParseArgs(std::vector<const char*> args) {
  args.insert(args.begin(), "orogrid");
  return orogrid_options::Parse(static_cast<int>(args.size()), args.data());
}

TEST(OrogridOptions, Accepted) {
  EXPECT_EQ(ParseArgs({}).action, Action::kRun);
  EXPECT_EQ(ParseArgs({}).mapPath, nullptr);
  const struct {
    std::vector<const char*> args;
    const char* map;
  } cases[] = {
      {{"--map", "a.bmp"}, "a.bmp"},
      {{"-m", "/maps/b.bmp"}, "/maps/b.bmp"},
      {{"--map=c d.bmp"}, "c d.bmp"},
      {{"--map", "-odd-name.bmp"}, "-odd-name.bmp"},
  };
  for (const auto& c : cases) {
    const auto o = ParseArgs(c.args);
    EXPECT_EQ(o.action, Action::kRun) << c.map;
    ASSERT_NE(o.mapPath, nullptr);
    EXPECT_STREQ(o.mapPath, c.map);
  }
  // --help and --version win wherever they stand, even after a bad word.
  EXPECT_EQ(ParseArgs({"--map", "x", "--help"}).action, Action::kHelp);
  EXPECT_EQ(ParseArgs({"-h"}).action, Action::kHelp);
  EXPECT_EQ(ParseArgs({"--version"}).action, Action::kVersion);
  EXPECT_NE(std::string(orogrid_options::UsageText()).find("--map FILE"), std::string::npos);
  EXPECT_EQ(std::string(orogrid_options::VersionText()).rfind("orogrid ", 0), 0u);
}

TEST(OrogridOptions, Refused) {
  const struct {
    std::vector<const char*> args;
    const char* error;
  } cases[] = {
      {{"--mpa", "a.bmp"}, "unknown option \"--mpa\""},    {{"-x"}, "unknown option \"-x\""},
      {{"a.bmp"}, "unexpected argument \"a.bmp\""},        {{"--map"}, "--map needs a map file"},
      {{"--map", ""}, "--map needs a map file"},           {{"--map="}, "--map needs a map file"},
      {{"--map", "a", "--map", "b"}, "--map given twice"},
  };
  for (const auto& c : cases) {
    const auto o = ParseArgs(c.args);
    EXPECT_EQ(o.action, Action::kRefuse) << c.error;
    EXPECT_STREQ(o.error, c.error);
  }
}

}  // namespace
