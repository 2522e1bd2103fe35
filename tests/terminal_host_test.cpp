// Tests of the POSIX terminal host's contract (platform/app_framework.h) when
// standard output is not a terminal: which control texts become lines and
// how often, timer ticks that are never made up, and closing on a signal.
// Standard output goes to a scratch file while a dialog runs modally.
//
// Threading: the test's main thread; the signals are raised on it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/app_framework.h"
#include "tests/support/TestSupport.h"

namespace {

using platform::ControlLog;

constexpr int kMainDialog = 100;
constexpr int kNestedDialog = 101;
constexpr int kThrottled = 1000;  // logged at most once a second
constexpr int kEveryChange = 1001;
constexpr int kSilent = 1002;

const platform::ControlResource kMainControls[] = {
    {kThrottled, "throttled 0", true, ControlLog::kAtMostOncePerSecond},
    {kEveryChange, "change 0", true, ControlLog::kEveryChange},
    {kSilent, "silent", true},
};
const platform::ControlResource kNestedControls[] = {
    {kEveryChange, "nested", true, ControlLog::kEveryChange},
};
const platform::DialogResource kDialogs[] = {
    {kMainDialog, "Host test", kMainControls, 3},
    {kNestedDialog, "Nested", kNestedControls, 1},
};
const platform::ResourceTable kTable = {kDialogs, 2, nullptr, 0, nullptr, 0};

// A dialog whose timer runs onTick(tick number) every periodMs.
class TickDialog : public platform::CDialog {
 public:
  TickDialog(int templateId, unsigned periodMs, std::function<void(TickDialog&, int)> onTick)
      : CDialog(templateId), m_periodMs(periodMs), m_onTick(std::move(onTick)) {}

  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    return SetTimer(1, m_periodMs);
  }
  void OnTimer(std::uintptr_t /*id*/) override { m_onTick(*this, ++m_ticks); }
  int Ticks() const { return m_ticks; }

 private:
  unsigned m_periodMs;
  std::function<void(TickDialog&, int)> m_onTick;
  int m_ticks = 0;
};

// Standard output sent to a scratch file for the fixture's life; Lines()
// reads what the host wrote.
class TerminalHost : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::UseResourceTable(&kTable);
    ASSERT_FALSE(m_scratch.Path().empty());
    m_path = m_scratch.File("stdout.txt");
    std::fflush(stdout);
    const int file = open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(file, 0);
    m_savedStdout = dup(STDOUT_FILENO);
    const bool redirected = m_savedStdout >= 0 && dup2(file, STDOUT_FILENO) == STDOUT_FILENO;
    close(file);
    ASSERT_TRUE(redirected);
  }

  void TearDown() override {
    RestoreStdout();
    platform::UseResourceTable(nullptr);
  }

  void RestoreStdout() {
    if (m_savedStdout >= 0) {
      std::fflush(stdout);
      dup2(m_savedStdout, STDOUT_FILENO);
      close(m_savedStdout);
      m_savedStdout = -1;
    }
  }

  std::vector<std::string> Lines() {
    RestoreStdout();
    std::vector<std::string> lines;
    std::ifstream in(m_path);
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  static int CountStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& line : lines) {
      n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
  }

  testsupport::ScratchFolder m_scratch{"terminal-host"};
  std::string m_path;
  int m_savedStdout = -1;
};

TEST_F(TerminalHost, ThrottledControlAtMostOnceASecondOthersOnEveryChange) {
  // Every 20 ms the throttled text changes; every tenth tick the other one
  // does too. After 2.3 s the dialog ends.
  const long long start = testsupport::NowMs();
  TickDialog dialog(kMainDialog, 20, [&](TickDialog& d, int tick) {
    d.SetDlgItemText(kThrottled, ("throttled " + std::to_string(tick)).c_str());
    if (tick % 10 == 0) {
      d.SetDlgItemText(kEveryChange, ("change " + std::to_string(tick / 10)).c_str());
      d.SetDlgItemText(kEveryChange, ("change " + std::to_string(tick / 10)).c_str());
    }
    d.SetDlgItemText(kSilent, "never logged");
    if (testsupport::NowMs() - start >= 2300) {
      d.EndDialog(platform::kIdOk);
    }
  });
  EXPECT_EQ(dialog.DoModal(), platform::kIdOk);
  const int ticks = dialog.Ticks();
  const std::vector<std::string> lines = Lines();

  // Throttled: the first change at once, then one a second, and the last
  // pending text when the window goes: 3 or 4 lines in 2.3 s, the last of
  // them the final text.
  const int throttled = CountStartingWith(lines, "throttled ");
  EXPECT_GE(throttled, 3);
  EXPECT_LE(throttled, 4);
  std::string lastThrottled;
  for (const std::string& line : lines) {
    lastThrottled = line.rfind("throttled ", 0) == 0 ? line : lastThrottled;
  }
  EXPECT_EQ(lastThrottled, "throttled " + std::to_string(ticks));

  // Every change, each once (setting the same text again is no change), in
  // order; the silent control never.
  std::vector<std::string> changes;
  for (const std::string& line : lines) {
    if (line.rfind("change ", 0) == 0) {
      changes.push_back(line);
    }
  }
  ASSERT_EQ(static_cast<int>(changes.size()), ticks / 10);
  for (std::size_t i = 0; i < changes.size(); ++i) {
    EXPECT_EQ(changes[i], "change " + std::to_string(i + 1));
  }
  EXPECT_EQ(CountStartingWith(lines, "never"), 0);
  EXPECT_EQ(static_cast<int>(lines.size()), throttled + ticks / 10);
}

TEST_F(TerminalHost, NestedDialogsControlsAreNotLogged) {
  TickDialog dialog(kMainDialog, 10, [](TickDialog& d, int tick) {
    if (tick == 1) {
      TickDialog nested(kNestedDialog, 10, [](TickDialog& n, int nestedTick) {
        n.SetDlgItemText(kEveryChange, ("nested " + std::to_string(nestedTick)).c_str());
        if (nestedTick == 3) {
          n.EndDialog(platform::kIdOk);
        }
      });
      EXPECT_EQ(nested.DoModal(), platform::kIdOk);
      d.EndDialog(platform::kIdOk);
    }
  });
  EXPECT_EQ(dialog.DoModal(), platform::kIdOk);
  EXPECT_EQ(CountStartingWith(Lines(), "nested"), 0);
}

TEST_F(TerminalHost, SlowTickIsNotMadeUpByABurst) {
  // The first tick of a 10 ms timer takes 300 ms: about 30 periods pass.
  // Afterwards the ticks come at their pace; a host that made up the missed
  // periods would deliver about 30 at once.
  std::vector<long long> at;
  long long slowEnd = 0;
  TickDialog dialog(kMainDialog, 10, [&](TickDialog& d, int tick) {
    at.push_back(testsupport::NowMs());
    if (tick == 1) {
      testsupport::SleepMs(300);
      slowEnd = testsupport::NowMs();
    }
    if (testsupport::NowMs() - slowEnd >= 200) {
      d.EndDialog(platform::kIdOk);
    }
  });
  EXPECT_EQ(dialog.DoModal(), platform::kIdOk);
  int soonAfter = 0;
  for (const long long t : at) {
    soonAfter += t >= slowEnd && t < slowEnd + 50 ? 1 : 0;
  }
  EXPECT_LE(soonAfter, 10) << "ticks in the 50 ms after the slow one";
  EXPECT_GE(dialog.Ticks(), 3) << "the timer kept running after the slow tick";
}

// The signals that close the program, raised during a tick: the dialog gets
// the system menu's Close (its Cancel), also from inside a nested dialog, and
// the program's own handling of the signal is back afterwards.
class TerminalHostSignal : public TerminalHost, public ::testing::WithParamInterface<int> {};

volatile sig_atomic_t g_ownHandlerRan = 0;
void OwnHandler(int /*signo*/) { g_ownHandlerRan = 1; }

TEST_P(TerminalHostSignal, ClosesTheDialogAndRestoresTheHandler) {
  const int signo = GetParam();
  struct sigaction own {};
  own.sa_handler = OwnHandler;
  sigemptyset(&own.sa_mask);
  struct sigaction before {};
  ASSERT_EQ(sigaction(signo, &own, &before), 0);

  for (const bool nested : {false, true}) {
    SCOPED_TRACE(nested ? "from a nested dialog" : "from the main dialog");
    int nestedResult = 0;
    TickDialog dialog(kMainDialog, 10, [&](TickDialog& d, int tick) {
      if (tick == 1 && nested) {
        TickDialog inner(kNestedDialog, 10, [&](TickDialog&, int) { raise(signo); });
        nestedResult = inner.DoModal();
      } else if (tick == 1) {
        raise(signo);
      } else if (tick > 100) {
        d.EndDialog(platform::kIdOk);  // the signal was lost
      }
    });
    EXPECT_EQ(dialog.DoModal(), platform::kIdCancel);
    EXPECT_LT(dialog.Ticks(), 100);
    if (nested) {
      EXPECT_EQ(nestedResult, platform::kIdCancel);
    }
  }
  g_ownHandlerRan = 0;
  raise(signo);
  EXPECT_EQ(g_ownHandlerRan, 1) << "the host left its handler in place";
  sigaction(signo, &before, nullptr);
}

INSTANTIATE_TEST_SUITE_P(CloseSignals, TerminalHostSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGINT    ? "SIGINT"
                                              : info.param == SIGTERM ? "SIGTERM"
                                                                      : "SIGHUP");
                         });

}  // namespace
