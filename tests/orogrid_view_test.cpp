// Tests of the picture tool: grid snapshots taken while the server may be
// publishing, the picture drawn from them, and the program itself.
// Threading: the snapshot race test runs a writer thread beside the reader.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/module_path.h"
#include "platform/shared_memory.h"
#include "shm/CTrnShm.h"
#include "tests/support/TestSupport.h"
#include "tools/view/Picture.h"
#include "tools/view/Snapshot.h"

// ---------------------------------------------------------------- snapshots

namespace {

// Fills the record as one Orogrid sweep would: coarse grid, then the fine
// grid refined from it, each point tagged; then one cycle's count.
void PublishCoarse(TrnShmData& r, int tag) {
  for (int i = 0; i < trn::kCoarseSize; ++i) {
    for (int j = 0; j < trn::kCoarseSize; ++j) {
      r.coarseGrid[i][j] = TrnGridPoint{tag, tag, 47.0 + tag - j / 12.0, 11.0 + tag + i / 12.0};
    }
  }
}

void PublishFine(TrnShmData& r, int tag) {
  for (int cx = 0; cx < trn::kFineSize; ++cx) {
    for (int cy = 0; cy < trn::kFineSize; ++cy) {
      const TrnGridPoint& c = r.coarseGrid[trn::kFineOrigin + cx][trn::kFineOrigin + cy];
      for (int sx = 0; sx < trn::kSubDiv; ++sx) {
        for (int sy = 0; sy < trn::kSubDiv; ++sy) {
          r.fineGrid[cx][cy][sx][sy] =
              TrnGridPoint{tag, tag, c.latitude - sy / 36.0, c.longitude + sx / 36.0};
        }
      }
    }
  }
}

void Publish(TrnShmData& r, int tag) {
  PublishCoarse(r, tag);
  PublishFine(r, tag);
  ++r.updateCount;
}

struct Writer {
  TrnShmData* record;
  int publishOnAttempts;  // publish during attempts 1..publishOnAttempts
  int tag;
  int pauses;
  bool countOnly;  // a cycle without a sweep
};

void WriterAfterCopy(void* context, int attempt) {
  Writer& w = *static_cast<Writer*>(context);
  if (attempt <= w.publishOnAttempts) {
    if (w.countOnly) {
      ++w.record->updateCount;
    } else {
      Publish(*w.record, ++w.tag);
    }
  }
}

void CountPause(void* context, int) { ++static_cast<Writer*>(context)->pauses; }

std::unique_ptr<TrnShmData> NewRecord() {
  auto record = std::make_unique<TrnShmData>();
  std::memset(record.get(), 0, sizeof(TrnShmData));
  return record;
}

}  // namespace

TEST(OrogridView, SnapshotOfAQuietRecordTakesOneCopy) {
  auto record = NewRecord();
  Publish(*record, 1);
  record->aircraftElevation = 812;
  auto snap = std::make_unique<GridSnapshot>();
  ASSERT_EQ(TakeSnapshot(*record, *snap, SnapshotOptions{}), SnapshotResult::kConsistent);
  EXPECT_EQ(snap->attempts, 1);
  EXPECT_EQ(snap->updateCount, 1);
  EXPECT_EQ(snap->aircraftElevation, 812);
  // The snapshot must hold the published bytes exactly.
  // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
  EXPECT_EQ(std::memcmp(snap->coarse, record->coarseGrid, sizeof snap->coarse), 0);
}

TEST(OrogridView, SnapshotRereadsWhenTheRecordChangesUnderIt) {
  struct Case {
    const char* name;
    int publishOnAttempts;
    bool countOnly;
    int maxAttempts;
    SnapshotResult result;
    int attempts;
  };
  const Case cases[] = {
      {"one sweep during the copy", 1, false, 8, SnapshotResult::kConsistent, 2},
      {"three sweeps", 3, false, 8, SnapshotResult::kConsistent, 4},
      {"a cycle without a sweep", 1, true, 8, SnapshotResult::kConsistent, 2},
      {"writer never settles", 100, false, 5, SnapshotResult::kUnsettled, 5},
      {"counter never settles", 100, true, 3, SnapshotResult::kUnsettled, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto record = NewRecord();
    Publish(*record, 1);
    Writer writer{record.get(), c.publishOnAttempts, 1, 0, c.countOnly};
    SnapshotOptions options;
    options.maxAttempts = c.maxAttempts;
    options.hooks.afterCopy = WriterAfterCopy;
    options.hooks.pause = CountPause;
    options.hooks.context = &writer;
    auto snap = std::make_unique<GridSnapshot>();
    EXPECT_EQ(TakeSnapshot(*record, *snap, options), c.result);
    EXPECT_EQ(snap->attempts, c.attempts);
    EXPECT_EQ(writer.pauses, c.attempts - 1);
    if (c.result == SnapshotResult::kConsistent) {
      EXPECT_EQ(snap->coarse[0][0].cellId, writer.tag) << "the copy is of the latest publication";
      EXPECT_EQ(snap->fine[16][16][2][2].cellId, writer.tag);
      EXPECT_EQ(snap->updateCount, record->updateCount);
    }
  }
}

TEST(OrogridView, SnapshotRefusesNewCoarseGridWithOldFineGrid) {
  // Caught between Orogrid's two block copies: the counter has not moved
  // and nothing changes while we read, yet the grids do not belong together.
  auto record = NewRecord();
  Publish(*record, 1);
  PublishCoarse(*record, 2);
  Writer writer{record.get(), 0, 0, 0, false};
  SnapshotOptions options;
  options.maxAttempts = 4;
  options.hooks.pause = CountPause;
  options.hooks.context = &writer;
  auto snap = std::make_unique<GridSnapshot>();
  EXPECT_EQ(TakeSnapshot(*record, *snap, options), SnapshotResult::kUnsettled);
  EXPECT_EQ(writer.pauses, 3);
  PublishFine(*record, 2);
  EXPECT_EQ(TakeSnapshot(*record, *snap, options), SnapshotResult::kConsistent);
}

TEST(OrogridView, SnapshotRefusesAWriterStalledInsideItsBlockCopy) {
  // The writer stopped part way through a block copy: the counter has not
  // moved and the record holds still while we read and compare, and the
  // tear lies outside what the fine grid's first sub-points cover.
  struct Case {
    const char* name;
    void (*tear)(TrnShmData& record, const TrnShmData& next);
  };
  const Case cases[] = {
      {"coarse grid, inside a column",
       [](TrnShmData& r, const TrnShmData& next) { r.coarseGrid[0][3] = next.coarseGrid[0][3]; }},
      {"coarse grid, at a column's start",
       [](TrnShmData& r, const TrnShmData& next) {
         std::memcpy(r.coarseGrid[1], next.coarseGrid[1], sizeof r.coarseGrid[1]);
       }},
      {"fine grid, inside a cell",
       [](TrnShmData& r, const TrnShmData& next) {
         std::memcpy(r.coarseGrid, next.coarseGrid, sizeof r.coarseGrid);
         const auto* from = reinterpret_cast<const char*>(next.fineGrid);
         const auto* end = reinterpret_cast<const char*>(&next.fineGrid[16][16][2][0]);
         std::memcpy(r.fineGrid, from, static_cast<std::size_t>(end - from));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto record = NewRecord();
    auto next = NewRecord();
    Publish(*record, 1);
    Publish(*next, 2);
    c.tear(*record, *next);
    Writer writer{record.get(), 0, 0, 0, false};
    SnapshotOptions options;
    options.maxAttempts = 3;
    options.hooks.pause = CountPause;
    options.hooks.context = &writer;
    auto snap = std::make_unique<GridSnapshot>();
    EXPECT_EQ(TakeSnapshot(*record, *snap, options), SnapshotResult::kUnsettled);
  }
}

TEST(OrogridView, SnapshotWaitsForTheNextCycleBeforeCopying) {
  auto record = NewRecord();
  struct Ticker {
    TrnShmData* record;
    int pauses;
    int publishAt;
  } ticker{record.get(), 0, 3};
  SnapshotOptions options;
  options.waitForCycleMs = 100;
  options.hooks.context = &ticker;
  options.hooks.pause = [](void* context, int) {
    Ticker& t = *static_cast<Ticker*>(context);
    if (++t.pauses == t.publishAt) {
      Publish(*t.record, 7);
    }
  };
  auto snap = std::make_unique<GridSnapshot>();
  ASSERT_EQ(TakeSnapshot(*record, *snap, options), SnapshotResult::kConsistent);
  EXPECT_EQ(ticker.pauses, 3);
  EXPECT_EQ(snap->coarse[5][5].cellId, 7);
  // With nobody publishing the wait is bounded.
  ticker.pauses = 0;
  ticker.publishAt = -1;
  ASSERT_EQ(TakeSnapshot(*record, *snap, options), SnapshotResult::kConsistent);
  EXPECT_EQ(ticker.pauses, 50);
}

TEST(OrogridView, SnapshotUnderConcurrentPublicationIsNeverTorn) {
  // A writer thread publishes alternating grids as fast as Orogrid's block
  // copies go; every snapshot accepted must be one publication throughout.
  auto record = NewRecord();
  auto a = NewRecord();
  auto b = NewRecord();
  Publish(*a, 1);
  Publish(*b, 2);
  std::memcpy(record.get(), a.get(), sizeof(TrnShmData));
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    int n = 0;
    while (!stop.load()) {
      const TrnShmData& source = (++n % 2 == 0) ? *a : *b;
      std::memcpy(record->coarseGrid, source.coarseGrid, sizeof source.coarseGrid);
      std::memcpy(record->fineGrid, source.fineGrid, sizeof source.fineGrid);
      testsupport::WriteVolatile(record->updateCount, n);
      testsupport::SleepMs(2);
    }
  });
  auto snap = std::make_unique<GridSnapshot>();
  SnapshotOptions options;
  options.maxAttempts = 50;
  options.retryPauseMs = 1;
  int consistent = 0;
  for (int i = 0; i < 60; ++i) {
    if (TakeSnapshot(*record, *snap, options) != SnapshotResult::kConsistent) {
      continue;
    }
    ++consistent;
    const int tag = snap->coarse[0][0].cellId;
    ASSERT_TRUE(tag == 1 || tag == 2);
    for (int x = 0; x < trn::kCoarseSize; ++x) {
      for (int y = 0; y < trn::kCoarseSize; ++y) {
        ASSERT_EQ(snap->coarse[x][y].cellId, tag) << "torn coarse grid at " << x << "," << y;
      }
    }
    ASSERT_EQ(snap->fine[0][0][0][0].cellId, tag);
    ASSERT_EQ(snap->fine[16][16][2][2].cellId, tag) << "fine grid from another publication";
  }
  stop.store(true);
  writer.join();
  EXPECT_GT(consistent, 30);
}

// ---------------------------------------------------------------- processes

namespace {

using testsupport::BesideThisProgram;
using testsupport::FileExists;
using testsupport::UniqueName;

// The tools live beside this test program (every program lands in bin/).
int RunTool(const char* tool, const std::vector<std::string>& args) {
  return testsupport::RunProgram(testsupport::ProgramPath(tool), args);
}

}  // namespace

TEST(OrogridView, PictureToolReadsWithoutCountingItself) {
  const std::string segment = UniqueName("SimView");
  CTrnShm shm(segment.c_str());
  ASSERT_TRUE(shm.IsConnected()) << shm.GetErrorText();
  TrnShmData* record = shm.GetData();
  Publish(*record, 3);
  record->aircraftElevation = 1010;
  const std::string out = BesideThisProgram(segment + "_picture.img");
  std::remove(out.c_str());
  EXPECT_EQ(RunTool("orogrid-view", {out, "--segment", segment}), 0);
  EXPECT_TRUE(FileExists(out));
  EXPECT_FALSE(FileExists(out + ".tmp"));
  EXPECT_EQ(TrnUserCount(record), 1);
  EXPECT_EQ(record->aircraftElevation, 1010);
  // Another interface version is refused.
  record->interfaceVersion[30] = '9';
  EXPECT_EQ(RunTool("orogrid-view", {out, "--segment", segment}), 2);
  std::memcpy(record->interfaceVersion, InterfaceVersionText, std::strlen(InterfaceVersionText));
  std::remove(out.c_str());
}

TEST(OrogridView, PictureDrawsColumnsAcrossAndMarksTheAircraft) {
  // The grids' first index is the column: a ridge along coarse column 10
  // must come out as a vertical stripe, and sea (0 m) as water.
  auto snap = std::make_unique<GridSnapshot>();
  std::memset(snap.get(), 0, sizeof(GridSnapshot));
  for (int j = 0; j < trn::kCoarseSize; ++j) {
    snap->coarse[10][j].elevation = 3000;
  }
  snap->fine[2][3][1][2].elevation = 1500;
  snap->aircraftHeading = 90.0;
  snap->simulationState = 1;
  std::unique_ptr<platform::DeviceContext> dc =
      platform::CreateImageDC(picture::kWidth, picture::kHeight);
  ASSERT_TRUE(dc);
  BaseDisplay display;
  display.SetDC(dc.get());
  display.SetScale(picture::kFontScale);
  picture::DrawTerrainPicture(display, *snap);
  const auto at = [&](platform::Point p) { return dc->GetPixel(p.x + 1, p.y + 1); };
  EXPECT_EQ(at(picture::CoarsePixel(10, 140)), picture::ReliefColour(3000));
  EXPECT_EQ(at(picture::CoarsePixel(140, 10)), picture::ReliefColour(0));
  EXPECT_NE(picture::ReliefColour(0), picture::ReliefColour(1)) << "sea and lowland differ";
  EXPECT_EQ(at(picture::FinePixel(2, 3, 1, 2)), picture::ReliefColour(1500));
  EXPECT_EQ(at(picture::FinePixel(3, 2, 2, 1)), picture::ReliefColour(0));
  EXPECT_EQ(at(picture::CoarsePixel(trn::kCoarseCentre, trn::kCoarseCentre)),
            DisplayPalette::magenta);
  // The heading needle points east of the aircraft, in yellow.
  const platform::Point centre = picture::CoarsePixel(trn::kCoarseCentre, trn::kCoarseCentre);
  EXPECT_EQ(dc->GetPixel(centre.x + 2 + 30, centre.y + 2), DisplayPalette::yellow);
  EXPECT_NE(dc->GetPixel(centre.x + 2, centre.y + 2 - 30), DisplayPalette::yellow);
}
