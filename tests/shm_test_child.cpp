// Child process of the shared-memory tests: attaches to a named terrain
// segment the way a second Orogrid or a simulation process would, so the
// tests can watch several real processes share one record.
// Usage: shm_test_child COMMAND NAME [ROUNDS]; see shm_test_support.h.
//
// Threading: single-threaded.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "registry/RevisionRegistry.h"
#include "shm/CTrnSeqShm.h"
#include "shm/CTrnShm.h"
#include "shm_test_support.h"

namespace {

int g_rows = 0;
void CountRow(const char* /*revision*/) { ++g_rows; }

int Hold(const char* name) {
  CTrnShm shm(name);
  if (!shm.IsConnected()) {
    return 10;
  }
  // Held until the test raises the flag (or kills us).
  const TrnShmData* data = shm.GetData();
  if (!WaitFor(
          [data] {
            return std::atomic_ref<std::uint8_t>(const_cast<std::uint8_t&>(data->cycleFlagA))
                       .load() != 0;
          },
          120000)) {
    return 11;
  }
  return 0;
}

// Serves the record `name` through its companion until killed (or for two
// minutes at most): one whole publishing tick, then it stays inside the
// next one (the sequence odd), where a crash would leave it.
int Serve(const char* name) {
  CTrnSeqShm seq(name);
  if (seq.Attach() != CTrnSeqShm::AttachResult::kServing) {
    return 30;
  }
  seq.Announce(360, 180, 120, 1);
  seq.BeginTick(2);
  seq.NotePublication(2);
  seq.EndTick();
  seq.BeginTick(3);
  std::this_thread::sleep_for(std::chrono::seconds(120));
  return 0;
}

int AttachLeave(const char* name) {
  CTrnShm shm(name);
  if (!shm.IsConnected()) {
    return 200;
  }
  return TrnUserCount(shm.GetData());
}

int Peek(const char* name) {
  CTrnShm shm(name);
  if (!shm.IsConnected()) {
    return 20;
  }
  TrnShmData* data = shm.GetData();
  if (data->aircraftLatitude != 12.5) {
    return 21;
  }
  // Written by hand: a test of the record's own sharing, beneath the simulation API.
  data->aircraftLongitude = 33.25;
  return 0;
}

int Storm(const char* name, int rounds) {
  int failures = 0;
  for (int i = 0; i < rounds; ++i) {
    CTrnShm shm(name);
    if (!shm.IsConnected() || TrnUserCount(shm.GetData()) < 1) {
      ++failures;
    }
  }
  return failures > 100 ? 100 : failures;
}

int Register() {
  SetRevisionRowWriter(CountRow);
  RawSegment first("unused-a", 16);
  RawSegment second("unused-b", 16);
  SetRevisionRowWriter(nullptr);
  return g_rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    return 99;
  }
  const char* command = argv[1];
  if (std::strcmp(command, kChildRegister) == 0) {
    return Register();
  }
  if (argc < 3) {
    return 99;
  }
  const char* name = argv[2];
  if (std::strcmp(command, kChildHold) == 0) {
    return Hold(name);
  }
  if (std::strcmp(command, kChildServe) == 0) {
    return Serve(name);
  }
  if (std::strcmp(command, kChildAttachLeave) == 0) {
    return AttachLeave(name);
  }
  if (std::strcmp(command, kChildPeek) == 0) {
    return Peek(name);
  }
  if (std::strcmp(command, kChildStorm) == 0 && argc > 3) {
    return Storm(name, std::atoi(argv[3]));
  }
  return 99;
}
