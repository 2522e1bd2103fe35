// Tests of the output file service: a good file is never replaced by a
// truncated one, nothing but regular files is replaced, links are followed
// to their target, and every failure carries the system's reason.
//
// Device-like targets are made in a scratch folder (FIFOs, device nodes
// with the numbers of the system's null and full devices); the system's own
// device files are never used as outputs.
//
// Threading: the FIFO test reads the pipe on a second thread.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "platform/output_file.h"
#include "platform/system_error.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/DeviceNodes.h"
#endif

namespace {

namespace fs = std::filesystem;
using platform::COutputFile;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

class OutputFile : public ::testing::Test {
 protected:
  void SetUp() override {
    static const unsigned runId = std::random_device{}();
    m_dir = fs::temp_directory_path() /
            ("orogrid-output-" + std::to_string(runId) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    platform::SetOutputWriteFailure(0);
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
  }
  // Names in the scratch folder other than the given ones (leftover
  // temporary files).
  int CountEntries() const {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) {
      ++count;
    }
    return count;
  }
  fs::path m_dir;
};

TEST_F(OutputFile, NewFileAppearsWholeOnlyAtCommit) {
  const fs::path out = m_dir / "picture.img";
  COutputFile file;
  ASSERT_TRUE(file.Open(out.string().c_str())) << file.ErrorText();
  EXPECT_TRUE(file.IsReplacing());
  // More than one buffer's worth, so system writes happen before Commit.
  const std::string data(3 * COutputFile::kBufferSize + 17, 'x');
  ASSERT_TRUE(file.Write(data.data(), data.size()));
  EXPECT_FALSE(fs::exists(out)) << "a half-written output is visible under its name";
  ASSERT_TRUE(file.Commit()) << file.ErrorText();
  EXPECT_EQ(ReadFile(out), data);
  EXPECT_EQ(CountEntries(), 1) << "a temporary file was left behind";
}

TEST_F(OutputFile, FailedWriteOrAbandonKeepsTheGoodFile) {
  const fs::path out = m_dir / "report.txt";
  WriteFile(out, "good");
  const int code = platform::FileNotFoundCode();
  {
    COutputFile file;
    ASSERT_TRUE(file.Open(out.string().c_str()));
    ASSERT_TRUE(file.WriteText("half"));
    platform::SetOutputWriteFailure(code);
    EXPECT_FALSE(file.WriteText("rest"));
    platform::SetOutputWriteFailure(0);
    EXPECT_FALSE(file.WriteText("more")) << "the first failure must stick";
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(file.ErrorCode(), code);
    char reason[COutputFile::kErrorTextSize];
    platform::SystemErrorText(code, reason, sizeof reason);
    EXPECT_STREQ(file.ErrorText(), reason);
  }
  {
    COutputFile file;  // neither committed nor abandoned: the destructor abandons
    ASSERT_TRUE(file.Open(out.string().c_str()));
    ASSERT_TRUE(file.WriteText("unfinished"));
  }
  EXPECT_EQ(ReadFile(out), "good");
  EXPECT_EQ(CountEntries(), 1);
}

TEST_F(OutputFile, RefusesFoldersAndMissingFolders) {
  COutputFile file;
  EXPECT_FALSE(file.Open(m_dir.string().c_str()));
  EXPECT_NE(file.ErrorText()[0], '\0');
  EXPECT_TRUE(fs::is_directory(m_dir));
  EXPECT_FALSE(file.Open((m_dir / "missing" / "out.txt").string().c_str()));
  EXPECT_NE(file.ErrorText()[0], '\0');
  EXPECT_FALSE(file.Open(""));
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(CountEntries(), 0);
}

TEST_F(OutputFile, TextModeWritesThePlatformsLineEnds) {
  const fs::path out = m_dir / "lines.txt";
  COutputFile file;
  ASSERT_TRUE(file.Open(out.string().c_str(), COutputFile::Mode::kText));
  ASSERT_TRUE(file.WriteText("a\nb\n"));
  ASSERT_TRUE(file.Commit());
#ifdef _WIN32
  EXPECT_EQ(ReadFile(out), "a\r\nb\r\n");
#else
  EXPECT_EQ(ReadFile(out), "a\nb\n");
#endif
}

#ifdef _WIN32

TEST_F(OutputFile, WritesThroughTheNullDevice) {
  COutputFile file;
  ASSERT_TRUE(file.Open("NUL")) << file.ErrorText();
  EXPECT_FALSE(file.IsReplacing());
  ASSERT_TRUE(file.WriteText("nothing"));
  EXPECT_TRUE(file.Commit()) << file.ErrorText();
}

#else

TEST_F(OutputFile, FollowsLinksToTheirTarget) {
  fs::create_directories(m_dir / "real");
  fs::create_directories(m_dir / "links");
  WriteFile(m_dir / "real" / "out.png", "old");
  fs::permissions(m_dir / "real" / "out.png", fs::perms(0640));
  // A relative link, through a second link.
  fs::create_symlink("../real/out.png", m_dir / "links" / "first");
  fs::create_symlink("first", m_dir / "links" / "second");
  // A dangling link: the output is made where it points.
  fs::create_symlink("../real/new.png", m_dir / "links" / "dangling");

  COutputFile file;
  ASSERT_TRUE(file.Open((m_dir / "links" / "second").string().c_str())) << file.ErrorText();
  ASSERT_TRUE(file.WriteText("new"));
  ASSERT_TRUE(file.Commit()) << file.ErrorText();
  ASSERT_TRUE(file.Open((m_dir / "links" / "dangling").string().c_str())) << file.ErrorText();
  ASSERT_TRUE(file.WriteText("made"));
  ASSERT_TRUE(file.Commit()) << file.ErrorText();

  EXPECT_TRUE(fs::is_symlink(m_dir / "links" / "first"));
  EXPECT_TRUE(fs::is_symlink(m_dir / "links" / "second"));
  EXPECT_TRUE(fs::is_symlink(m_dir / "links" / "dangling"));
  EXPECT_EQ(ReadFile(m_dir / "real" / "out.png"), "new");
  EXPECT_EQ(ReadFile(m_dir / "real" / "new.png"), "made");
  EXPECT_EQ(fs::status(m_dir / "real" / "out.png").permissions(), fs::perms(0640))
      << "a replaced file keeps its permissions";
}

TEST_F(OutputFile, RefusesLinkLoops) {
  fs::create_symlink("b", m_dir / "a");
  fs::create_symlink("a", m_dir / "b");
  COutputFile file;
  EXPECT_FALSE(file.Open((m_dir / "a").string().c_str()));
  EXPECT_EQ(file.ErrorCode(), ELOOP);
  EXPECT_EQ(CountEntries(), 2);
}

TEST_F(OutputFile, WritesThroughAFifo) {
  const fs::path fifo = m_dir / "pipe";
  ASSERT_EQ(mkfifo(fifo.string().c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFile(fifo); });
  COutputFile file;
  const bool opened = file.Open(fifo.string().c_str());
  EXPECT_TRUE(opened) << file.ErrorText();
  EXPECT_FALSE(file.IsReplacing());
  EXPECT_TRUE(file.WriteText("through the pipe"));
  EXPECT_TRUE(file.Commit()) << file.ErrorText();
  if (!opened) {
    // Let the reader's open return.
    std::ofstream unblock(fifo);
  }
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  struct stat info {};
  ASSERT_EQ(lstat(fifo.string().c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the FIFO was replaced";
}

// Device nodes with the numbers of the null device (1, 3) and the full
// device (1, 7), made in the scratch folder; needs the right to make nodes.
TEST_F(OutputFile, WritesThroughDevicesAndReportsAFullOne) {
  testsupport::DeviceNodes nodes;
  if (!testsupport::MakeDeviceNodes(m_dir, nodes)) {
    GTEST_SKIP() << "cannot make device nodes here";
  }
  COutputFile file;
  ASSERT_TRUE(file.Open(nodes.null.string().c_str())) << file.ErrorText();
  EXPECT_FALSE(file.IsReplacing());
  EXPECT_TRUE(file.WriteText("discarded"));
  EXPECT_TRUE(file.Commit()) << file.ErrorText();

  ASSERT_TRUE(file.Open(nodes.fullLink.string().c_str())) << file.ErrorText();
  file.WriteText("no room");
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(file.ErrorCode(), ENOSPC);
  char reason[COutputFile::kErrorTextSize];
  platform::SystemErrorText(ENOSPC, reason, sizeof reason);
  EXPECT_STREQ(file.ErrorText(), reason);

  for (const fs::path& node : {nodes.null, nodes.full}) {
    struct stat info {};
    ASSERT_EQ(lstat(node.string().c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << node << " was replaced";
  }
  EXPECT_TRUE(fs::is_symlink(nodes.fullLink));
  EXPECT_EQ(CountEntries(), 3);
}

#endif

}  // namespace
