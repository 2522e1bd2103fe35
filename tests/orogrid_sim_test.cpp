// Tests of the simulation stand-in (route files, great-circle flight, run
// states, options, read-back, the program itself).
// Threading: the test thread only.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "client/CTrnSim.h"
#include "client/orogrid_sim.h"
#include "platform/module_path.h"
#include "platform/shared_memory.h"
#include "shm/CTrnShm.h"
#include "tests/support/PublicationWatch.h"
#include "tests/support/TestSupport.h"
#include "tools/sim/Flight.h"
#include "tools/sim/Route.h"
#include "tools/sim/SimMonitor.h"
#include "tools/sim/SimOptions.h"

namespace {

constexpr double kMetresPerDegree = flight::kEarthRadiusMetres * 3.14159265358979323846 / 180.0;

bool ParseText(CRoute& route, const std::string& text) {
  return route.Parse(text.data(), text.size());
}

}  // namespace

// ---------------------------------------------------------------- routes

struct RouteCase {
  const char* name;
  std::string text;
  int count;            // waypoints when accepted; -1: refused
  const char* message;  // part of the error when refused
};

void PrintTo(const RouteCase& c, std::ostream* os) { *os << c.name; }

class OrogridSimRoute : public ::testing::TestWithParam<RouteCase> {};

TEST_P(OrogridSimRoute, AcceptsOrRefuses) {
  const RouteCase& c = GetParam();
  CRoute route;
  route.SetDemonstration();
  const int before = route.Count();
  const bool ok = ParseText(route, c.text);
  if (c.count >= 0) {
    ASSERT_TRUE(ok) << route.GetError();
    EXPECT_EQ(route.Count(), c.count);
  } else {
    ASSERT_FALSE(ok);
    EXPECT_NE(std::strstr(route.GetError(), c.message), nullptr) << route.GetError();
    EXPECT_EQ(route.Count(), before) << "a refused text must leave the route as it was";
    EXPECT_DOUBLE_EQ(route.At(0).latitude, 47.795);
  }
}

INSTANTIATE_TEST_SUITE_P(
    OrogridSim, OrogridSimRoute,
    ::testing::Values(
        RouteCase{"Blanks", "47.2 11.3\n47.3 11.4\n", 2, ""},
        RouteCase{"CommaAndTabs", "47.2,11.3\n\t47.3 ,\t11.4\r\n", 2, ""},
        RouteCase{"CommentsAndBlankLines", "# header\n\n47.2 11.3 # start\n   \n47.3 11.4", 2, ""},
        RouteCase{"ExponentAndSigns", "+4.7e1 -1.13E+1\n-90 180\n90 -180\n", 3, ""},
        RouteCase{"OneWaypoint", "47.2 11.3\n", -1, "at least 2"},
        RouteCase{"Empty", "", -1, "at least 2"},
        RouteCase{"OnlyComments", "# nothing\n#\n", -1, "at least 2"},
        RouteCase{"LatitudeTooBig", "47 11\n90.0001 11\n", -1, "line 2: latitude out of range"},
        RouteCase{"LongitudeTooSmall", "47 11\n47 -180.5\n", -1, "line 2: longitude out of range"},
        RouteCase{"NaN", "nan 11\n47 11\n", -1, "line 1: latitude is not a decimal"},
        RouteCase{"Infinity", "47 11\n47 inf\n", -1, "longitude is not a decimal"},
        RouteCase{"Overflow", "47 11\n1e999 11\n", -1, "latitude is not a decimal"},
        RouteCase{"HexFloat", "0x1p4 11\n47 11\n", -1, "latitude is not a decimal"},
        RouteCase{"TrailingGarbage", "47.2x 11\n47 11\n", -1, "latitude is not a decimal"},
        RouteCase{"ThirdField", "47.2 11.3 12\n47 11\n", -1, "unexpected text"},
        RouteCase{"MissingLongitude", "47.2\n47 11\n", -1, "expected LATITUDE LONGITUDE"},
        RouteCase{"TwoCommas", "47.2,,11\n47 11\n", -1, "unexpected text"},
        RouteCase{"LoneSignAndPoint", "- .\n47 11\n", -1, "latitude is not a decimal"},
        RouteCase{"EmbeddedNul", std::string("47 11\n47\0 11\n", 12), -1, "line 2: NUL byte"},
        RouteCase{"LongLine", "47 11\n47 11" + std::string(200, ' ') + "\n", -1,
                  "line 2: line longer"},
        RouteCase{"LongNumber", "47." + std::string(70, '1') + " 11\n47 11\n", -1,
                  "latitude is not a decimal"}),
    [](const ::testing::TestParamInfo<RouteCase>& info) { return std::string(info.param.name); });

TEST(OrogridSim, RouteTooManyWaypointsIsRefused) {
  std::string text;
  for (int i = 0; i <= CRoute::kMaxWaypoints; ++i) {
    text += "10 20\n";
  }
  CRoute route;
  ASSERT_FALSE(ParseText(route, text));
  EXPECT_NE(std::strstr(route.GetError(), "more than 1000 waypoints"), nullptr) << route.GetError();
  text.resize(text.size() - 6);
  EXPECT_TRUE(ParseText(route, text)) << route.GetError();
  EXPECT_EQ(route.Count(), CRoute::kMaxWaypoints);
}

TEST(OrogridSim, RouteFileThatCannotBeOpenedNamesTheFile) {
  CRoute route;
  EXPECT_FALSE(route.Load("/nonexistent-dir/route.txt"));
  EXPECT_NE(std::strstr(route.GetError(), "cannot open route file \"/nonexistent-dir/route.txt\""),
            nullptr)
      << route.GetError();
}

TEST(OrogridSim, DemonstrationRouteEndsOverInnsbruck) {
  CRoute route;
  route.SetDemonstration();
  ASSERT_GE(route.Count(), 2);
  for (int i = 0; i < route.Count(); ++i) {
    EXPECT_TRUE(ValidPosition(route.At(i).latitude, route.At(i).longitude));
  }
  EXPECT_DOUBLE_EQ(route.At(route.Count() - 1).latitude, 47.26);
  EXPECT_DOUBLE_EQ(route.At(route.Count() - 1).longitude, 11.35);
}

// ---------------------------------------------------------------- great circles

struct CourseCase {
  Waypoint from;
  Waypoint to;
  double course;    // degrees
  double distance;  // metres
};

TEST(OrogridSim, GreatCircleCoursesAndDistances) {
  const CourseCase cases[] = {
      {{0, 0}, {1, 0}, 0.0, kMetresPerDegree},
      {{0, 0}, {0, 1}, 90.0, kMetresPerDegree},
      {{0, 0}, {-1, 0}, 180.0, kMetresPerDegree},
      {{0, 0}, {0, -1}, 270.0, kMetresPerDegree},
      // Across the antimeridian the short way, not round the world.
      {{0, 179.5}, {0, -179.5}, 90.0, kMetresPerDegree},
      {{0, -179.5}, {0, 179.5}, 270.0, kMetresPerDegree},
      // Towards the pole from anywhere.
      {{89, 123}, {90, 0}, 0.0, kMetresPerDegree},
      // Coincident points: no course, no distance.
      {{47.26, 11.35}, {47.26, 11.35}, 0.0, 0.0},
  };
  for (const CourseCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from.latitude << "," << c.from.longitude << " -> "
                                    << c.to.latitude << "," << c.to.longitude);
    const double course = flight::InitialCourse(c.from, c.to);
    EXPECT_NEAR(std::remainder(course - c.course, 360.0), 0.0, 1e-9) << course;
    EXPECT_LT(course, 360.0);
    EXPECT_NEAR(flight::DistanceMetres(c.from, c.to), c.distance, 1e-6);
  }
  // A great circle leaves 60 N eastbound on a course north of east.
  const double course = flight::InitialCourse({60, 0}, {60, 10});
  EXPECT_GT(course, 80.0);
  EXPECT_LT(course, 90.0);
}

TEST(OrogridSim, DestinationRetracesTheGreatCircle) {
  const Waypoint pairs[][2] = {{{47.795, 13.043}, {47.26, 11.35}},
                               {{-33.9, 151.2}, {51.5, -0.1}},
                               {{0, 179.9}, {0.5, -179.8}}};
  for (const auto& pair : pairs) {
    const Waypoint end = flight::Destination(pair[0], flight::InitialCourse(pair[0], pair[1]),
                                             flight::DistanceMetres(pair[0], pair[1]));
    EXPECT_NEAR(end.latitude, pair[1].latitude, 1e-7);
    EXPECT_NEAR(end.longitude, pair[1].longitude, 1e-7);
  }
  const Waypoint wrapped = flight::Destination({0, 179.9}, 90.0, 0.2 * kMetresPerDegree);
  EXPECT_NEAR(wrapped.longitude, -179.9, 1e-9) << "longitude stays within -180..180";
}

TEST(OrogridSim, FlightCarriesTheRemainderIntoTheNextLeg) {
  CRoute route;
  ASSERT_TRUE(ParseText(route, "0 0\n0 1\n1 1\n"));
  CFlight flight(route);
  EXPECT_NEAR(flight.Heading(), 90.0, 1e-9);
  flight.Advance(kMetresPerDegree + 500.0);
  EXPECT_EQ(flight.NextWaypoint(), 2);
  EXPECT_NEAR(flight.Position().longitude, 1.0, 1e-9);
  EXPECT_NEAR(flight.Position().latitude * kMetresPerDegree, 500.0, 1e-6);
  EXPECT_NEAR(flight.Heading(), 0.0, 1e-9);
  EXPECT_FALSE(flight.Finished());
}

TEST(OrogridSim, FlightInSmallStepsEndsExactlyOnTheLastWaypoint) {
  CRoute route;
  ASSERT_TRUE(ParseText(route, "47.795 13.043\n47.7 12.9\n47.7 12.9\n47.26 11.35\n"));
  CFlight flight(route);
  const double total = flight::DistanceMetres(route.At(0), route.At(1)) +
                       flight::DistanceMetres(route.At(1), route.At(3));
  int steps = 0;
  while (!flight.Finished() && steps < 100000) {
    flight.Advance(72.0);  // 140 kt for one second
    ++steps;
    // Heading always points at the next waypoint or is the last leg's.
    ASSERT_GE(flight.Heading(), 0.0);
    ASSERT_LT(flight.Heading(), 360.0);
  }
  ASSERT_TRUE(flight.Finished());
  EXPECT_EQ(steps, static_cast<int>(std::ceil(total / 72.0)));
  EXPECT_NEAR(flight.FlownMetres(), total, 1e-3);
  EXPECT_EQ(flight.Position().latitude, 47.26);
  EXPECT_EQ(flight.Position().longitude, 11.35);
  // Westward on the last leg, and it stays so once there.
  EXPECT_GT(flight.Heading(), 240.0);
  EXPECT_LT(flight.Heading(), 300.0);
  const double last = flight.Heading();
  flight.Advance(1000.0);
  EXPECT_EQ(flight.Heading(), last);
  EXPECT_EQ(flight.Position().latitude, 47.26);
}

TEST(OrogridSim, FlightIgnoresNonPositiveAndNaNSteps) {
  CRoute route;
  ASSERT_TRUE(ParseText(route, "10 20\n10.5 20\n"));
  CFlight flight(route);
  for (double step : {0.0, -100.0, std::nan(""), -HUGE_VAL}) {
    flight.Advance(step);
    EXPECT_EQ(flight.Position().latitude, 10.0);
    EXPECT_EQ(flight.FlownMetres(), 0.0);
  }
}

TEST(OrogridSim, FlightStartsWaitingRunsAndEndsLost) {
  CRoute route;
  route.SetDemonstration();
  CFlight flight(route);
  EXPECT_EQ(static_cast<std::int32_t>(flight.State()), 0);
  flight.Start();
  EXPECT_EQ(static_cast<std::int32_t>(flight.State()), 1);
  flight.Lose();
  EXPECT_EQ(static_cast<std::int32_t>(flight.State()), 0xFFFFFF);
}

TEST(OrogridSim, StateNamesAndValues) {
  struct Case {
    const char* text;
    bool ok;
    std::int32_t value;
    const char* name;
  };
  const Case cases[] = {
      {"waiting", true, 0, "waiting"},
      {"running", true, 1, "running"},
      {"lost", true, 0xFFFFFF, "lost"},
      {"16777215", true, 0xFFFFFF, "lost"},
      {"0xFFFFFF", true, 0xFFFFFF, "lost"},
      {"16777214", true, 16777214, "running"},
      {"-1", true, -1, "running"},
      {"0", true, 0, "waiting"},
      {"2147483647", true, 2147483647, "running"},
      {"2147483648", false, 0, ""},
      {"0xFFFFFFFF", false, 0, ""},
      {"0x0x1", false, 0, ""},
      {"12abc", false, 0, ""},
      {" 1", false, 0, ""},
      {"", false, 0, ""},
      {"Lost", false, 0, ""},
      {"--1", false, 0, ""},
      {"0x", false, 0, ""},
      {"999999999999999999999", false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t value = 12345;
    ASSERT_EQ(ParseSimState(c.text, value), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
      EXPECT_STREQ(SimStateName(value), c.name);
    } else {
      EXPECT_EQ(value, 12345) << "a refused text leaves the value alone";
    }
  }
}

// ---------------------------------------------------------------- options

TEST(OrogridSim, OptionsTable) {
  struct Case {
    std::vector<const char*> args;
    SimCommand command;
    const char* error;  // part of the message for kError
  };
  const Case cases[] = {
      {{}, SimCommand::kFly, ""},
      {{"--help"}, SimCommand::kHelp, ""},
      {{"--speed", "250", "--rate", "20", "--time-scale", "50", "--duration", "3", "--hold", "1"},
       SimCommand::kFly,
       ""},
      {{"--state", "lost", "--segment", "Test_1.a-b"}, SimCommand::kSetState, ""},
      {{"--speed", "nan"}, SimCommand::kError, "--speed: \"nan\" is not a number"},
      {{"--speed", "0"}, SimCommand::kError, "--speed: value out of range"},
      {{"--speed", "-3"}, SimCommand::kError, "out of range"},
      {{"--rate", "1000"}, SimCommand::kError, "--rate: value out of range"},
      {{"--time-scale", "1e400"}, SimCommand::kError, "not a number"},
      {{"--duration", "-1"}, SimCommand::kError, "out of range"},
      {{"--altitude", "-1000"}, SimCommand::kFly, ""},
      {{"--altitude", "30001"}, SimCommand::kError, "--altitude: value out of range"},
      {{"--altitude", "nan"}, SimCommand::kError, "not a number"},
      {{"--speed"}, SimCommand::kError, "--speed needs a value"},
      {{"--segment", "a/b"}, SimCommand::kError, "not a valid name"},
      {{"--segment", ""}, SimCommand::kError, "not a valid name"},
      {{"--segment", "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopq"},
       SimCommand::kError,
       "not a valid name"},
      {{"--state", "flying"}, SimCommand::kError, "--state: \"flying\""},
      {{"--state", "lost", "--route", "r.txt"}, SimCommand::kError, "does not fly"},
      {{"--route", ""}, SimCommand::kError, "--route"},
      {{"--bogus", "1"}, SimCommand::kError, "unknown option --bogus"},
      {{"--bogus"}, SimCommand::kError, "unknown option --bogus"},  // not "needs a value"
      {{"-x"}, SimCommand::kError, "unknown option -x"},
      {{"--version"}, SimCommand::kVersion, ""},
      {{"route.txt"}, SimCommand::kError, "unexpected argument"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"orogrid-sim"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(argv.size() > 1 ? argv[1] : "(none)");
    SimOptions options;
    char error[256];
    EXPECT_EQ(
        ParseSimOptions(static_cast<int>(argv.size()), argv.data(), options, error, sizeof error),
        c.command)
        << error;
    if (c.command == SimCommand::kError) {
      EXPECT_NE(std::strstr(error, c.error), nullptr) << error;
    }
  }
  // The altitude is unknown unless given; given, the stand-in flies level there.
  EXPECT_TRUE(std::isnan(SimOptions{}.altitudeMetres));
  SimOptions level;
  const char* levelArgv[] = {"orogrid-sim", "--altitude", "2400"};
  char levelError[256];
  ASSERT_EQ(ParseSimOptions(3, levelArgv, level, levelError, sizeof levelError), SimCommand::kFly);
  EXPECT_EQ(level.altitudeMetres, 2400.0);
  SimOptions options;
  const char* argv[] = {"orogrid-sim", "--state", "0xFFFFFF", "--segment", "Seg1"};
  char error[256];
  ASSERT_EQ(ParseSimOptions(5, argv, options, error, sizeof error), SimCommand::kSetState);
  EXPECT_EQ(options.state, 0xFFFFFF);
  EXPECT_STREQ(options.segment, "Seg1");
}

// ---------------------------------------------------------------- read-back

TEST(OrogridSim, PublicationWatchSeesGridChangesOnly) {
  auto record = std::make_unique<TrnShmData>();
  std::memset(record.get(), 0, sizeof(TrnShmData));
  CPublicationWatch watch;
  watch.Observe(GridFingerprint(*record), 1.0);
  EXPECT_FALSE(watch.SeenPublication());
  EXPECT_LT(watch.AgeAt(2.0), 0.0);
  record->updateCount = 5;  // a cycle without a sweep
  record->aircraftElevation = 100;
  watch.Observe(GridFingerprint(*record), 2.0);
  EXPECT_FALSE(watch.SeenPublication());
  record->fineGrid[16][16][2][2].elevation = 1;  // the very last byte range
  watch.Observe(GridFingerprint(*record), 3.0);
  record->coarseGrid[0][0].cellId = 1;
  watch.Observe(GridFingerprint(*record), 4.5);
  EXPECT_EQ(watch.Publications(), 2);
  EXPECT_DOUBLE_EQ(watch.AgeAt(5.0), 0.5);
}

TEST(OrogridSim, StatusLineShowsHemispheresAndMissingGrids) {
  StatusValues v{};
  v.latitude = -33.5;
  v.longitude = -70.25;
  v.elevation = 1234;
  v.gridAge = -1.0;
  char line[256];
  FormatStatusLine(line, sizeof line, v);
  EXPECT_NE(std::strstr(line, "33.50000S 070.25000W"), nullptr) << line;
  EXPECT_NE(std::strstr(line, "elev 1234 m"), nullptr) << line;
  EXPECT_NE(std::strstr(line, "grids none seen"), nullptr) << line;
  v.gridAge = 0.44;
  FormatStatusLine(line, sizeof line, v);
  EXPECT_NE(std::strstr(line, "grids 0.4 s ago"), nullptr) << line;
}

// ---------------------------------------------------------------- processes

namespace {

using testsupport::BesideThisProgram;
using testsupport::FileExists;
using testsupport::UniqueName;
using testsupport::WriteTextFile;

// The tools live beside this test program (every program lands in bin/).
int RunTool(const char* tool, const std::vector<std::string>& args) {
  return testsupport::RunProgram(testsupport::ProgramPath(tool), args);
}

}  // namespace

TEST(OrogridSim, StandInFliesSetsLostAndLeavesTheUserCountBack) {
  const std::string segment = UniqueName("SimFly");
  CTrnShm shm(segment.c_str());
  ASSERT_TRUE(shm.IsConnected()) << shm.GetErrorText();
  TrnShmData* record = shm.GetData();
  ASSERT_EQ(TrnUserCount(record), 1);
  const std::string route = BesideThisProgram(segment + "_route.txt");
  ASSERT_TRUE(WriteTextFile(route, "# tiny\n47.30 11.30\n47.26, 11.35\n"));

  EXPECT_EQ(RunTool("orogrid-sim", {"--segment", segment, "--route", route, "--speed", "600",
                                    "--time-scale", "500", "--rate", "50"}),
            0);
  EXPECT_EQ(record->simulationState, 0xFFFFFF);
  EXPECT_EQ(TrnUserCount(record), 1) << "the stand-in took itself out of the count";
  EXPECT_EQ(record->aircraftLatitude, 47.26);
  EXPECT_EQ(record->aircraftLongitude, 11.35);
  EXPECT_GT(record->aircraftHeading, 90.0);  // south-east
  EXPECT_LT(record->aircraftHeading, 180.0);

  // --state only sets the state, and leaves the count as it was.
  EXPECT_EQ(RunTool("orogrid-sim", {"--segment", segment, "--state", "running"}), 0);
  EXPECT_EQ(record->simulationState, 1);
  EXPECT_EQ(RunTool("orogrid-sim", {"--segment", segment, "--state", "16777214"}), 0);
  EXPECT_EQ(record->simulationState, 16777214);
  EXPECT_EQ(TrnUserCount(record), 1);

  // Bad input is refused before the segment is touched.
  const std::string bad = BesideThisProgram(segment + "_bad.txt");
  ASSERT_TRUE(WriteTextFile(bad, "47.30 11.30\nnan 11.35\n"));
  {
    // A mark that bad input must leave: a frame at latitude 1.5, in the
    // state the record holds.
    client::CTrnSim mark;
    ASSERT_EQ(mark.Open(segment.c_str(), false), OROGRID_OK) << mark.LastError();
    ASSERT_EQ(mark.Write(1.5, 11.35, 90.0, std::numeric_limits<double>::quiet_NaN()), OROGRID_OK)
        << mark.LastError();
    mark.Close(true);
  }
  ASSERT_EQ(record->aircraftLatitude, 1.5);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--segment", segment, "--route", bad},
        std::vector<std::string>{"--segment", segment, "--route",
                                 BesideThisProgram(segment + "_missing.txt")},
        std::vector<std::string>{"--segment", segment, "--speed", "nan"},
        std::vector<std::string>{"--segment", segment, "--state", "sideways"}}) {
    SCOPED_TRACE(args[2] + " " + args[3]);
    EXPECT_EQ(RunTool("orogrid-sim", args), 1);
    EXPECT_EQ(record->simulationState, 16777214);
    EXPECT_EQ(record->aircraftLatitude, 1.5);
    EXPECT_EQ(TrnUserCount(record), 1);
  }
  std::remove(route.c_str());
  std::remove(bad.c_str());
}

TEST(OrogridSim, RefusedInputCreatesNoSegment) {
  const std::string segment = UniqueName("SimNone");
  ASSERT_FALSE(platform::ShmExists(segment.c_str()));
  EXPECT_EQ(RunTool("orogrid-sim", {"--segment", segment, "--rate", "0"}), 1);
  EXPECT_EQ(RunTool("orogrid-view", {BesideThisProgram(segment + ".png"), "--segment", segment}),
            2);
  EXPECT_FALSE(platform::ShmExists(segment.c_str()))
      << "the picture tool must never create the segment";
  EXPECT_FALSE(FileExists(BesideThisProgram(segment + ".png")));
}
