// Tests of the named segments (BaseSharedMemory over the platform layer) and
// of the terrain connection CTrnShm, with real child processes where the
// behaviour is about several processes. Every test uses its own segment
// name (this process's id and a counter), so runs never meet.
//
// Threading: single-threaded; child processes run beside the test.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/monotonic_clock.h"
#include "platform/process_id.h"
#include "platform/segment_hold.h"
#include "platform/shared_memory.h"
#include "platform/system_error.h"
#include "shm/CTrnSeqShm.h"
#include "shm/CTrnShm.h"
#include "shm_test_support.h"
#include "tests/support/process.h"
#include "tests/support/shm_spoil.h"

namespace {

bool OnWindows() { return platform::PathSeparator() == '\\'; }

class ShmFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    std::snprintf(m_name, sizeof m_name, "OroShmT_%d_%d", testsupport::CurrentProcessId(),
                  ++counter);
    ASSERT_TRUE(ChildProgramPath(m_child, sizeof m_child));
  }
  void TearDown() override {
    platform::SetShmFault(platform::ShmFault::kNone, 0);
    platform::SetSegmentHoldFault(0);
    platform::ShmRemoveName(Companion().c_str());
    // Objects that left without being the last keep their views by design;
    // the name goes so that nothing of this run stays behind.
    platform::ShmRemoveName(m_name);
  }

  testsupport::ProcessHandle Start(const char* command, const char* rounds = nullptr) {
    const char* argv[] = {m_child, command, m_name, rounds, nullptr};
    testsupport::ProcessHandle process = 0;
    EXPECT_TRUE(testsupport::StartProcess(argv, &process)) << m_child;
    return process;
  }
  int Run(const char* command) { return testsupport::WaitProcess(Start(command)); }

  // A raw view of a record another process holds, once its creator counted.
  bool OpenRecordWhenCounted(RawSegment& raw) {
    return WaitFor([&] { return raw.OpenAndMap() || (raw.Close(), false); }, 20000) &&
           WaitFor([&] { return TrnUserCount(Record(raw)) >= 1; }, 20000);
  }
  std::string Companion() const { return std::string(m_name) + trn::kSeqNameSuffix; }
  static TrnShmData* Record(const RawSegment& raw) {
    return static_cast<TrnShmData*>(raw.GetView());
  }

  char m_name[BaseSharedMemory::kNameSize] = {};
  char m_child[1024] = {};
};

using BaseSharedMemoryTest = ShmFixture;
using CTrnShmTest = ShmFixture;
using CTrnSeqShmTest = ShmFixture;

TEST_F(BaseSharedMemoryTest, OpenOfMissingNameReportsFileNotFound) {
  RawSegment segment(m_name, 4096);
  EXPECT_FALSE(segment.OpenAndMap());
  EXPECT_EQ(segment.GetView(), nullptr);
  EXPECT_FALSE(segment.Refused());
  EXPECT_EQ(std::string(segment.GetErrorText()),
            "OpenFileMapping (Code: " + std::to_string(platform::FileNotFoundCode()) + ")");
  EXPECT_FALSE(platform::ShmExists(m_name));
}

TEST_F(BaseSharedMemoryTest, TwoViewsInOneProcessShareBytesAndCreateNeverClobbers) {
  RawSegment first(m_name, 8192);
  ASSERT_TRUE(first.CreateAndMap()) << first.GetErrorText();
  EXPECT_TRUE(first.CreatedNew());
  EXPECT_GE(first.MappedSize(), 8192u);
  first.Bytes()[8191] = 0x5A;

  // A second creation finds the live segment: same bytes, nothing zeroed.
  RawSegment second(m_name, 8192);
  ASSERT_TRUE(second.CreateAndMap()) << second.GetErrorText();
  EXPECT_FALSE(second.CreatedNew());
  EXPECT_NE(first.GetView(), second.GetView());
  EXPECT_EQ(second.Bytes()[8191], 0x5A);
  second.Bytes()[0] = 0x33;
  EXPECT_EQ(first.Bytes()[0], 0x33);

  EXPECT_FALSE(second.ZeroFill(0));
  EXPECT_FALSE(second.ZeroFill(second.MappedSize() + 1));
  EXPECT_EQ(first.Bytes()[0], 0x33);
  EXPECT_TRUE(second.ZeroFill(1));
  EXPECT_EQ(first.Bytes()[0], 0);

  second.Close();
  second.Close();  // a second Close is harmless
  EXPECT_EQ(second.GetView(), nullptr);
  EXPECT_EQ(first.Bytes()[8191], 0x5A);
  first.Close();
}

// A segment cut short under its views, and touched before anyone asked:
// the fault is caught, the view reads zeros (a writable one takes writes
// that go nowhere) and is marked cut; a view of another segment is not.
// Read-only views and the writable window of a reader alike.
TEST_F(BaseSharedMemoryTest, ViewsOfASegmentCutShortReadZerosAndAreMarkedCut) {
  if (OnWindows()) {
    GTEST_SKIP() << "a mapping's size is fixed when it is made";
  }
  const std::uint32_t size = 4 * 65536;
  RawSegment writer(m_name, size);
  ASSERT_TRUE(writer.CreateAndMap()) << writer.GetErrorText();
  std::memset(writer.Bytes(), 0x5A, size);
  platform::ShmHandle handle = platform::kNoShmHandle;
  ASSERT_EQ(platform::ShmStatus::kOk, platform::ShmOpen(m_name, &handle, nullptr));
  void* view = nullptr;
  std::size_t viewSize = 0;
  ASSERT_EQ(platform::ShmStatus::kOk,
            platform::ShmMapView(handle, size, &view, &viewSize, platform::ShmAccess::kReadOnly));
  void* at = nullptr;
  void* window = nullptr;
  std::size_t windowSize = 0;
  ASSERT_EQ(platform::ShmStatus::kOk,
            platform::ShmMapWindow(handle, size - 8, 4, &at, &window, &windowSize));
  EXPECT_LE(windowSize, 65536u);
  RawSegment other(Companion().c_str(), 4096);
  ASSERT_TRUE(other.CreateAndMap());

  ASSERT_TRUE(testsupport::ShmCutForTest(m_name, 4096));
  const auto* bytes = static_cast<const volatile unsigned char*>(view);
  EXPECT_EQ(0, bytes[size - 1]) << "past the new end: zeros, not a bus error";
  EXPECT_TRUE(platform::ShmViewCut(platform::kNoShmHandle, view)) << "the fault marks it";
  EXPECT_EQ(0, bytes[0]) << "the whole view is replaced";
  *static_cast<volatile std::int32_t*>(at) = 7;  // goes nowhere, ends nothing
  EXPECT_TRUE(platform::ShmViewCut(platform::kNoShmHandle, window));
  writer.Bytes()[size - 1] = 1;  // the creator's view, through the same handler
  EXPECT_TRUE(writer.Cut());
  EXPECT_FALSE(other.Cut());
  EXPECT_FALSE(platform::ShmViewCut(platform::kNoShmHandle, other.GetView()));

  platform::ShmUnmapView(window, windowSize);
  platform::ShmUnmapView(view, viewSize);
  platform::ShmCloseHandle(handle);
  writer.Close();
  other.Close();
}

#ifndef _WIN32
// The signal's own action: the default kills the process; under
// AddressSanitizer its handler, the one ours hands on to, reports and exits 1.
bool DiedOfTheSignalsOwnAction(int status) {
#if defined(__SANITIZE_ADDRESS__)
  if (WIFEXITED(status) && WEXITSTATUS(status) == 1) {
    return true;
  }
#endif
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS;
}

// The views' handler takes only faults the kernel raised on its views: a
// bus error another process sends, even one forged with a view's address,
// still ends the program, and the view is not marked cut.
TEST_F(BaseSharedMemoryTest, SentBusErrorIsNotAFaultOfAView) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        RawSegment segment(m_name, 4096);
        if (!segment.CreateAndMap()) {
          std::_Exit(3);
        }
        static siginfo_t info;
        std::memset(&info, 0, sizeof info);
        info.si_signo = SIGBUS;
        info.si_code = SI_QUEUE;
        info.si_addr = segment.GetView();
        syscall(SYS_rt_tgsigqueueinfo, getpid(), static_cast<pid_t>(syscall(SYS_gettid)), SIGBUS,
                &info);
        std::_Exit(segment.Cut() ? 5 : 6);
      },
      DiedOfTheSignalsOwnAction, "");
}
#endif

struct FaultCase {
  platform::ShmFault fault;
  const char* format;
};

TEST_F(BaseSharedMemoryTest, FailedSystemCallsLeaveTheirReportText) {
  const int code = platform::ShmAccessDeniedCode();
  const FaultCase cases[] = {
      {platform::ShmFault::kCreate, "Creating Shared memory (Code: %d)"},
      {platform::ShmFault::kOpen, "OpenFileMapping (Code: %d)"},
      {platform::ShmFault::kMap, "MapViewOfFile (Code: %d)"},
  };
  for (const FaultCase& c : cases) {
    platform::SetShmFault(c.fault, code);
    RawSegment segment(m_name, 4096);
    EXPECT_FALSE(segment.CreateAndMap());
    platform::SetShmFault(platform::ShmFault::kNone, 0);
    char expected[128];
    std::snprintf(expected, sizeof expected, c.format, code);
    EXPECT_STREQ(segment.GetErrorText(), expected);
    EXPECT_EQ(segment.LastErrorCode(), code);
    EXPECT_EQ(segment.GetView(), nullptr);
    segment.Close();
  }
}

TEST_F(BaseSharedMemoryTest, RegistersItsRevisionStringsOncePerProcess) {
  EXPECT_EQ(Run(kChildRegister), 2);
}

TEST_F(CTrnShmTest, FirstAttachCreatesZeroedStampedRecord) {
  CTrnShm shm(m_name);
  ASSERT_TRUE(shm.IsConnected()) << shm.GetErrorText();
  EXPECT_TRUE(shm.CreatedRecord());
  EXPECT_TRUE(shm.CheckVersion());
  const TrnShmData* data = shm.GetData();
  ASSERT_NE(data, nullptr);
  EXPECT_STREQ(data->interfaceVersion, " TrnInterfaceShm $Revision: 1.1.0");
  EXPECT_EQ(TrnUserCount(data), 1);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  std::size_t nonZero = 0;
  for (std::size_t i = 64; i < sizeof(TrnShmData); ++i) {
    nonZero += (bytes[i] != 0 &&
                (i < offsetof(TrnShmData, userCount) || i >= offsetof(TrnShmData, reserved3)));
  }
  EXPECT_EQ(nonZero, 0u);
  // The failed first open stays in the segment's report.
  EXPECT_EQ(std::string(shm.GetErrorText()),
            "OpenFileMapping (Code: " + std::to_string(platform::FileNotFoundCode()) + ")");
}

TEST_F(CTrnShmTest, ObjectsInOneProcessCountAndShareTheRecord) {
  auto* first = new CTrnShm(m_name);
  ASSERT_TRUE(first->IsConnected());
  RawSegment observer(m_name, trn::kRecordSize);
  ASSERT_TRUE(observer.OpenAndMap());
  auto* second = new CTrnShm(m_name);
  ASSERT_TRUE(second->IsConnected());
  EXPECT_FALSE(second->CreatedRecord());
  EXPECT_EQ(TrnUserCount(first->GetData()), 2);
  // Written by hand: a test of the record's own sharing, beneath the simulation API.
  first->GetData()->aircraftHeading = 271.5;
  EXPECT_EQ(second->GetData()->aircraftHeading, 271.5);

  TrnShmData* firstData = first->GetData();
  delete second;
  EXPECT_EQ(TrnUserCount(firstData), 1);
  delete first;
  EXPECT_EQ(TrnUserCount(Record(observer)), 0);
  EXPECT_EQ(Record(observer)->aircraftHeading, 271.5);
  observer.Close();
}

TEST_F(CTrnShmTest, TwoProcessesSeeTheSameBytes) {
  CTrnShm shm(m_name);
  ASSERT_TRUE(shm.IsConnected());
  // Written by hand: a test of the record's own sharing, beneath the simulation API.
  shm.GetData()->aircraftLatitude = 12.5;
  EXPECT_EQ(Run(kChildPeek), 0);
  EXPECT_EQ(shm.GetData()->aircraftLongitude, 33.25);
  EXPECT_EQ(TrnUserCount(shm.GetData()), 1);  // the child counted itself out again
}

TEST_F(CTrnShmTest, SecondProcessCountsTwoAndLastLeaverRemovesTheName) {
  const testsupport::ProcessHandle holder = Start(kChildHold);
  {
    RawSegment observer(m_name, trn::kRecordSize);
    ASSERT_TRUE(OpenRecordWhenCounted(observer));
    EXPECT_EQ(TrnUserCount(Record(observer)), 1);
    EXPECT_EQ(Run(kChildAttachLeave), 2);
    EXPECT_EQ(TrnUserCount(Record(observer)), 1);
    std::atomic_ref<std::uint8_t>(Record(observer)->cycleFlagA).store(1);
    observer.Close();
  }
  EXPECT_EQ(testsupport::WaitProcess(holder), 0);
  EXPECT_FALSE(platform::ShmExists(m_name));
  // The next one starts from scratch.
  CTrnShm next(m_name);
  EXPECT_TRUE(next.CreatedRecord());
}

struct VersionCase {
  const char* label;
  const char* text;
  std::size_t length;  // bytes written; the rest of the 64 stay zero
  bool matches;
};

TEST_F(CTrnShmTest, VersionTextDecidesWhetherToCount) {
  const VersionCase cases[] = {
      {"same text, garbage after its NUL", " TrnInterfaceShm $Revision: 1.1.0\0junk", 38, true},
      {"other revision", " TrnInterfaceShm $Revision: 1.2.0", 33, false},
      {"text runs on where the NUL belongs", " TrnInterfaceShm $Revision: 1.1.0x", 34, false},
      {"all 64 bytes used", " TrnInterfaceShm $Revision: 1.1.0xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 64,
       false},
  };
  int round = 0;
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.label);
    char name[BaseSharedMemory::kNameSize + 8];
    std::snprintf(name, sizeof name, "%s_v%d", m_name, ++round);
    RawSegment creator(name, trn::kRecordSize);
    ASSERT_TRUE(creator.CreateAndMap());
    TrnShmData* record = Record(creator);
    std::memcpy(record->interfaceVersion, c.text, c.length);
    record->userCount = 7;
    {
      CTrnShm shm(name);
      EXPECT_TRUE(shm.IsMapped());
      EXPECT_EQ(shm.IsConnected(), c.matches);
      EXPECT_EQ(shm.CheckVersion(), c.matches);
      EXPECT_EQ(TrnUserCount(record), c.matches ? 8 : 7);
      if (!c.matches) {
        EXPECT_EQ(shm.GetData(), nullptr);
        EXPECT_STREQ(shm.GetErrorText(),
                     "CTrnShm::CTrnShm\nShared Memory Version Mismatch\nPlease rebuild software");
      }
    }
    // A mismatched object leaves the count and the record alone.
    EXPECT_EQ(TrnUserCount(record), 7);
    EXPECT_EQ(std::memcmp(record->interfaceVersion, c.text, c.length), 0);
    creator.Close();
    platform::ShmRemoveName(name);
  }
}

TEST_F(CTrnShmTest, UndersizedSegmentIsRefusedUntouched) {
  RawSegment small(m_name, 4096);
  ASSERT_TRUE(small.CreateAndMap());
  std::memset(small.Bytes(), 0xA5, 4096);
  CTrnShm shm(m_name);
  EXPECT_FALSE(shm.IsMapped());
  EXPECT_FALSE(shm.IsConnected());
  EXPECT_EQ(std::string(shm.GetErrorText()), std::string("CTrnShm::CTrnShm\nShared memory ") +
                                                 m_name + " refused: smaller than 692672 bytes");
  for (int i = 0; i < 4096; ++i) {
    ASSERT_EQ(small.Bytes()[i], 0xA5) << i;
  }
  small.Close();
}

TEST_F(CTrnShmTest, SegmentOthersCouldWriteOrOwnIsRefused) {
  struct Case {
    const char* label;
    bool (*spoil)(const char* name);
    const char* why;
  };
  const Case cases[] = {
      {"group-writable", testsupport::ShmLoosenModeForTest,
       " refused: writable by group or others"},
      {"another user's", testsupport::ShmGiveAwayForTest, " refused: owned by another user"},
      {"another user's (seam)",
       [](const char*) {
         platform::SetShmFault(platform::ShmFault::kForeignOwner, 0);
         return true;
       },
       " refused: owned by another user"},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    char name[BaseSharedMemory::kNameSize + 8];
    std::snprintf(name, sizeof name, "%s_p%d", m_name, ++round);
    RawSegment creator(name, trn::kRecordSize);
    ASSERT_TRUE(creator.CreateAndMap());
    if (!c.spoil(name)) {
      creator.Close();
      continue;  // not possible on this platform or as this user
    }
    {
      CTrnShm shm(name);
      platform::SetShmFault(platform::ShmFault::kNone, 0);
      EXPECT_FALSE(shm.IsMapped());
      EXPECT_EQ(std::string(shm.GetErrorText()),
                std::string("CTrnShm::CTrnShm\nShared memory ") + name + c.why);
    }
    EXPECT_EQ(TrnUserCount(Record(creator)), 0);
    creator.Close();
    platform::ShmRemoveName(name);
  }
}

TEST_F(CTrnShmTest, NeitherOpenNorCreateGivesTheSystemText) {
  const int code = platform::ShmAccessDeniedCode();
  platform::SetShmFault(platform::ShmFault::kCreate, code);
  CTrnShm shm(m_name);
  platform::SetShmFault(platform::ShmFault::kNone, 0);
  EXPECT_FALSE(shm.IsMapped());
  char text[256];
  platform::SystemErrorText(code, text, sizeof text);
  EXPECT_EQ(std::string(shm.GetErrorText()), std::string("CTrnShm::CTrnShm\n") + text);
  EXPECT_GT(std::strlen(text), 0u);
}

TEST_F(CTrnShmTest, KilledHolderLeavesNothingToOpen) {
  const testsupport::ProcessHandle holder = Start(kChildHold);
  {
    RawSegment observer(m_name, trn::kRecordSize);
    ASSERT_TRUE(OpenRecordWhenCounted(observer));
    // Written by hand: what a dead holder leaves must not be found again.
    Record(observer)->aircraftLatitude = -41.25;
    observer.Close();
  }
  ASSERT_TRUE(testsupport::KillProcess(holder));
  EXPECT_EQ(testsupport::WaitProcess(holder), -1);
  // The count the dead holder left (1) and its marker go with the segment.
  CTrnShm shm(m_name);
  ASSERT_TRUE(shm.IsConnected()) << shm.GetErrorText();
  EXPECT_TRUE(shm.CreatedRecord());
  EXPECT_EQ(shm.GetData()->aircraftLatitude, 0.0);
  EXPECT_EQ(TrnUserCount(shm.GetData()), 1);
}

// A simulation that makes the record the ordinary POSIX way (no lock, no
// version text) and goes on writing: the record is adopted where it is, by
// every attacher and across the last attacher's leaving, never removed and
// made anew beside it (the fault: the writer's latitude 47.0 read as 0.0).
// Once the writer is gone, what it left is a leftover like any other.
TEST_F(CTrnShmTest, RecordOfAWriterWithoutLocksIsSharedNotSplit) {
  if (OnWindows()) {
    GTEST_SKIP() << "the system counts every user of a mapping alike";
  }
  const std::string writer = testsupport::ProgramPath("foreign_record_writer");
  const char* argv[] = {writer.c_str(), m_name, nullptr};
  testsupport::ProcessHandle process = 0;
  ASSERT_TRUE(testsupport::StartProcess(argv, &process)) << writer;
  ASSERT_TRUE(WaitFor([&] { return platform::ShmExists(m_name); }, 20000));
  const auto headingMoves = [](const TrnShmData* record) {
    const double first = testsupport::ReadVolatile(record->aircraftHeading);
    return WaitFor([&] { return testsupport::ReadVolatile(record->aircraftHeading) != first; },
                   20000);
  };
  {
    CTrnShm first(m_name);
    ASSERT_TRUE(first.IsConnected()) << first.GetErrorText();
    EXPECT_TRUE(first.Adopted());
    EXPECT_FALSE(first.CreatedRecord());
    const TrnShmData* record = first.GetData();
    ASSERT_TRUE(WaitFor([&] { return testsupport::ReadVolatile(record->aircraftLatitude) == 47.0; },
                        20000));
    EXPECT_EQ(11.0, testsupport::ReadVolatile(record->aircraftLongitude));
    EXPECT_EQ(1, testsupport::ReadVolatile(record->simulationState));
    EXPECT_EQ(1, TrnUserCount(record));
    EXPECT_TRUE(first.CheckVersion());
    EXPECT_TRUE(headingMoves(record)) << "the writer writes elsewhere";
    // Once held, the record is joined as usual.
    RawSegment second(m_name, trn::kRecordSize);
    ASSERT_TRUE(second.OpenAndMap()) << second.GetErrorText();
    EXPECT_FALSE(second.Adopted());
    EXPECT_EQ(47.0, testsupport::ReadVolatile(Record(second)->aircraftLatitude));
    second.Close();
  }
  // Both left; the writer still maps the record, so its name stays.
  EXPECT_TRUE(platform::ShmExists(m_name));
  {
    CTrnShm again(m_name);
    ASSERT_TRUE(again.IsConnected()) << again.GetErrorText();
    EXPECT_FALSE(again.CreatedRecord());
    EXPECT_EQ(47.0, testsupport::ReadVolatile(again.GetData()->aircraftLatitude));
    EXPECT_TRUE(headingMoves(again.GetData())) << "the writer writes elsewhere";
  }
  ASSERT_TRUE(testsupport::KillProcess(process));
  EXPECT_EQ(-1, testsupport::WaitProcess(process));
  // Nobody holds or maps what the writer left: made afresh.
  EXPECT_FALSE(platform::ShmExists(m_name));
  CTrnShm fresh(m_name);
  ASSERT_TRUE(fresh.IsConnected()) << fresh.GetErrorText();
  EXPECT_TRUE(fresh.CreatedRecord());
  EXPECT_EQ(0.0, fresh.GetData()->aircraftLatitude);
  EXPECT_EQ(1, TrnUserCount(fresh.GetData()));
}

// Many processes attaching and leaving at once: every attach succeeds and
// the count is exact afterwards. Under Wine each process start is slow, so
// the storm is smaller there.
TEST_F(CTrnShmTest, StormOfAttachersKeepsTheCountExact) {
  const int processes = OnWindows() ? 16 : 32;
  const char* rounds = OnWindows() ? "100" : "200";
  const std::string base = m_name;
  for (const bool held : {true, false}) {
    SCOPED_TRACE(held ? "segment held by the test" : "segment made and removed by the storm");
    std::snprintf(m_name, sizeof m_name, "%s%s", base.c_str(), held ? "h" : "f");
    CTrnShm* own = held ? new CTrnShm(m_name) : nullptr;
    std::vector<testsupport::ProcessHandle> children;
    children.reserve(static_cast<std::size_t>(processes));
    for (int i = 0; i < processes; ++i) {
      children.push_back(Start(kChildStorm, rounds));
    }
    for (const testsupport::ProcessHandle child : children) {
      EXPECT_EQ(testsupport::WaitProcess(child), 0);
    }
    if (own != nullptr) {
      EXPECT_EQ(TrnUserCount(own->GetData()), 1);
      delete own;
    }
    // Every process has ended: nothing holds the segment any more (but a
    // Win32 creator keeps its creation handle until it ends).
    if (!(held && OnWindows())) {
      EXPECT_FALSE(platform::ShmExists(m_name));
    }
    platform::ShmRemoveIfStale(m_name);
    platform::ShmRemoveName(m_name);
  }
}

TEST(PlatformProcessAndClock, OwnProcessIsAliveAndTheClockNeverGoesBack) {
  EXPECT_NE(0u, platform::ThisProcessId());
  EXPECT_TRUE(platform::IsProcessAlive(platform::ThisProcessId()));
  EXPECT_FALSE(platform::IsProcessAlive(0));
  std::int64_t last = platform::MonotonicNanoseconds();
  EXPECT_GT(last, 0);
  for (int i = 0; i < 1000; ++i) {
    const std::int64_t now = platform::MonotonicNanoseconds();
    ASSERT_GE(now, last);
    last = now;
  }
}

// Two holds in one process conflict as two processes' do, and the hold does
// not disturb the segment's own liveness: the last Close still removes it.
TEST_F(CTrnSeqShmTest, HoldIsExclusiveInOneProcessAndLeavesTheSegmentsLifetimeAlone) {
  RawSegment segment(m_name, 128);
  ASSERT_TRUE(segment.CreateAndMap()) << segment.GetErrorText();
  platform::SegmentHold first = platform::kNoSegmentHold;
  platform::SegmentHold second = platform::kNoSegmentHold;
  ASSERT_EQ(platform::HoldStatus::kAcquired, platform::TakeSegmentHold(m_name, &first));
  EXPECT_EQ(platform::HoldStatus::kHeldElsewhere, platform::TakeSegmentHold(m_name, &second));
  EXPECT_EQ(platform::kNoSegmentHold, second);
  RawSegment reader(m_name, 128);
  EXPECT_TRUE(reader.OpenAndMap()) << reader.GetErrorText();  // readers still join
  reader.Close();
  platform::ReleaseSegmentHold(first);
  ASSERT_EQ(platform::HoldStatus::kAcquired, platform::TakeSegmentHold(m_name, &second));
  platform::ReleaseSegmentHold(second);
  segment.Close();
  if (!OnWindows()) {
    EXPECT_FALSE(platform::ShmExists(m_name));
  }
  platform::SetSegmentHoldFault(platform::ShmAccessDeniedCode());
  RawSegment again(m_name, 128);
  ASSERT_TRUE(again.CreateAndMap());
  EXPECT_EQ(platform::HoldStatus::kFailed, platform::TakeSegmentHold(m_name, &first));
  EXPECT_EQ(platform::ShmAccessDeniedCode(), platform::LastSystemError());
  again.Close();
}

// A server in another process holds the companion; a second one learns its
// process id and is refused. Killed, the holder leaves the hold free and
// its companion stale; the next server takes both over.
TEST_F(CTrnSeqShmTest, KilledServerGivesTheHoldToTheNext) {
  const testsupport::ProcessHandle server = Start(kChildServe);
  RawSegment view(Companion().c_str(), trn::kSeqRecordSize);
  const TrnSeqData* seq = nullptr;
  ASSERT_TRUE(WaitFor([&] { return view.OpenAndMap() || (view.Close(), false); }, 20000));
  seq = static_cast<const TrnSeqData*>(view.GetView());
  ASSERT_TRUE(WaitFor(
      [&] {
        return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(seq->magic)).load() ==
               trn::kSeqMagic;
      },
      20000));
  const std::uint32_t serverId = seq->serverProcessId;
  EXPECT_NE(platform::ThisProcessId(), serverId);
  EXPECT_TRUE(platform::IsProcessAlive(serverId));
  {
    CTrnSeqShm second(m_name);
    EXPECT_EQ(CTrnSeqShm::AttachResult::kServedElsewhere, second.Attach());
    EXPECT_EQ(serverId, second.HolderProcessId());
    EXPECT_FALSE(second.Serving());
  }
  ASSERT_TRUE(testsupport::KillProcess(server));
  EXPECT_EQ(-1, testsupport::WaitProcess(server));
  EXPECT_FALSE(platform::IsProcessAlive(serverId));
  // Killed inside a tick: what readers find is stale and mid-write.
  EXPECT_EQ(trn::kSeqMagic, seq->magic);
  const std::uint32_t killedAt = TrnSeqReadBegin(seq);
  EXPECT_EQ(killedAt & 1U, 1U);
  EXPECT_EQ(seq->publicationCount, 1U);
  const std::uint32_t generation = seq->generation;

  CTrnSeqShm next(m_name);
  ASSERT_EQ(CTrnSeqShm::AttachResult::kServing, next.Attach()) << next.GetErrorText();
  // What a reader goes by: a new process, a sequence even and past the
  // killed one's, a new generation that has published nothing.
  EXPECT_EQ(platform::ThisProcessId(), seq->serverProcessId);
  EXPECT_EQ(0u, seq->magic);  // until the new server announces itself
  const std::uint32_t claimed = TrnSeqReadBegin(seq);
  EXPECT_EQ(claimed & 1U, 0U);
  EXPECT_EQ(claimed, killedAt + 1U);
  EXPECT_EQ(seq->claimSequence, claimed);
  EXPECT_EQ(seq->generation, generation + 1U);
  EXPECT_EQ(seq->publicationCount, 0U);
  next.Announce(360, 180, 120, 5);
  next.BeginTick(6);
  next.EndTick();
  EXPECT_NE(TrnSeqReadBegin(seq), seq->claimSequence) << "a tick has ended since the claim";
  next.Release();
  view.Close();
}

}  // namespace
