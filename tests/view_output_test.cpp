// Process tests of the picture tool's output: orogrid-view run against a
// private segment writes its picture through symbolic links, FIFOs and
// devices instead of replacing them, refuses folders, and fails with its
// write status on a full device. Device-like targets are made in a scratch
// folder; the system's own device files are never used as outputs.
//
// Threading: the FIFO test reads the pipe on a second thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shm/CTrnShm.h"
#include "tests/support/TestSupport.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/DeviceNodes.h"
#endif

namespace {

namespace fs = std::filesystem;

constexpr int kExitWriteFailed = 4;

int RunView(const std::string& out, const std::string& segment) {
  return testsupport::RunProgram(testsupport::ProgramPath("orogrid-view"),
                                 {out, "--segment", segment});
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool IsPicture(const std::string& bytes) {
  return bytes.size() > 8 &&
         ((bytes[0] == '\x89' && bytes[1] == 'P') || (bytes[0] == 'B' && bytes[1] == 'M'));
}

// A private segment with the grids published once, and a scratch folder.
class ViewOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    m_segment = testsupport::UniqueName("ViewOut");
    m_shm = std::make_unique<CTrnShm>(m_segment.c_str());
    ASSERT_TRUE(m_shm->IsConnected()) << m_shm->GetErrorText();
    // One publication: the coarse grid and the fine grid cut from it.
    TrnShmData& record = *m_shm->GetData();
    for (int i = 0; i < trn::kCoarseSize; ++i) {
      for (int j = 0; j < trn::kCoarseSize; ++j) {
        record.coarseGrid[i][j] = TrnGridPoint{3, 3, 50.0 - j / 12.0, 14.0 + i / 12.0};
      }
    }
    for (int cx = 0; cx < trn::kFineSize; ++cx) {
      for (int cy = 0; cy < trn::kFineSize; ++cy) {
        const TrnGridPoint& c = record.coarseGrid[trn::kFineOrigin + cx][trn::kFineOrigin + cy];
        for (int sx = 0; sx < trn::kSubDiv; ++sx) {
          for (int sy = 0; sy < trn::kSubDiv; ++sy) {
            record.fineGrid[cx][cy][sx][sy] =
                TrnGridPoint{3, 3, c.latitude - sy / 36.0, c.longitude + sx / 36.0};
          }
        }
      }
    }
    ++record.updateCount;
    ASSERT_FALSE(m_scratch.Path().empty());
    m_dir = m_scratch.Path();
  }
  int View(const fs::path& out) { return RunView(out.string(), m_segment); }
  int Entries() const {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) {
      ++count;
    }
    return count;
  }

  testsupport::ScratchFolder m_scratch{"view-output"};
  std::string m_segment;
  std::unique_ptr<CTrnShm> m_shm;
  fs::path m_dir;
};

}  // namespace

TEST_F(ViewOutput, ReplacesARegularFileWholeAndRefusesAFolder) {
  const fs::path out = m_dir / "picture.img";
  {
    std::ofstream old(out, std::ios::binary);
    old << "old picture";
  }
  ASSERT_EQ(View(out), 0);
  EXPECT_TRUE(IsPicture(ReadFile(out)));
  EXPECT_EQ(Entries(), 1) << "a temporary file was left behind";
  EXPECT_EQ(View(m_dir), kExitWriteFailed);
  EXPECT_TRUE(fs::is_directory(m_dir));
  EXPECT_EQ(View(m_dir / "missing" / "picture.img"), kExitWriteFailed);
  EXPECT_EQ(Entries(), 1);
}

#ifdef _WIN32

TEST_F(ViewOutput, WritesThroughTheNullDevice) { EXPECT_EQ(RunView("NUL", m_segment), 0); }

#else

// Regression: the picture went to a temporary file renamed over OUT, so a
// link, a FIFO or a device node was replaced by a plain file and a full
// device reported success.
TEST_F(ViewOutput, WritesThroughLinksFifosAndDevices) {
  fs::create_directories(m_dir / "real");
  fs::create_symlink("real/picture.img", m_dir / "link");
  ASSERT_EQ(View(m_dir / "link"), 0);
  EXPECT_TRUE(fs::is_symlink(m_dir / "link"));
  EXPECT_TRUE(IsPicture(ReadFile(m_dir / "real" / "picture.img")));

  // The reading end is open before the tool starts and read until the tool
  // has ended, so a tool that never opens the FIFO cannot hang the test.
  const fs::path fifo = m_dir / "pipe";
  ASSERT_EQ(mkfifo(fifo.string().c_str(), 0600), 0);
  const int readEnd = open(fifo.string().c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(readEnd, 0);
  std::atomic<bool> viewEnded{false};
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    for (;;) {
      const bool ended = viewEnded.load();
      pollfd wait{readEnd, POLLIN, 0};
      poll(&wait, 1, 50);
      ssize_t n = 0;
      while ((n = read(readEnd, buffer, sizeof buffer)) > 0) {
        received.append(buffer, static_cast<std::size_t>(n));
      }
      if (ended) {
        break;
      }
    }
  });
  EXPECT_EQ(View(fifo), 0);
  viewEnded = true;
  reader.join();
  close(readEnd);
  EXPECT_TRUE(IsPicture(received));
  EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);

  testsupport::DeviceNodes nodes;
  if (!testsupport::MakeDeviceNodes(m_dir, nodes)) {
    GTEST_SKIP() << "cannot make device nodes here";
  }
  EXPECT_EQ(View(nodes.null), 0);
  EXPECT_EQ(View(nodes.full), kExitWriteFailed);
  EXPECT_EQ(View(nodes.fullLink), kExitWriteFailed);
  EXPECT_EQ(fs::symlink_status(nodes.null).type(), fs::file_type::character);
  EXPECT_EQ(fs::symlink_status(nodes.full).type(), fs::file_type::character);
  EXPECT_TRUE(fs::is_symlink(nodes.fullLink));
}

#endif
