// CSimulationThread: the simulation for tests that run a server beside them
// in real time. It writes through the library's simulation side (CTrnSim)
// on a thread of its own: it opens the record (creating it), writes each
// frame or state the test hands it before the call returns, and beats every
// 100 ms in between, as a live simulation does, so that a test waiting for
// the server for longer than the heartbeat's silence never looks killed.
//
// Threading: the public calls come from one test thread. The CTrnSim lives
// on the object's own thread, which opens and closes it (on Win32 the
// record's simulation hold belongs to the thread that took it).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

class CSimulationThread {
 public:
  CSimulationThread() = default;
  // Close(false).
  ~CSimulationThread();
  CSimulationThread(const CSimulationThread&) = delete;
  CSimulationThread& operator=(const CSimulationThread&) = delete;

  // Starts the thread, which opens (or creates) the record `segment` as its
  // simulation. OROGRID_OK, or the library's code with its reason in *why.
  // Once per object.
  int Open(const char* segment, std::string* why);
  // One frame (degrees; altitude in metres, NaN: unknown), written when the
  // call returns; the library's code.
  int Write(double latitude, double longitude, double heading,
            double altitudeMetres = std::numeric_limits<double>::quiet_NaN());
  // The record's simulationState as one frame, written when the call
  // returns; the library's code.
  int SetState(std::int32_t state);
  // Writes the lost state unless keepState, gives the record back and ends
  // the thread. Later calls do nothing.
  void Close(bool keepState = false);

 private:
  enum class Request { kNone, kWrite, kState, kClose };
  void Run(const std::string& segment);
  // Hands a request to the thread and waits for its result.
  int Ask(Request request);

  std::thread m_thread;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  Request m_request = Request::kNone;
  bool m_opened = false;   // the thread has tried to open (m_result says how)
  bool m_running = false;  // the thread runs and the record is open
  int m_result = 0;
  std::string m_why;
  double m_latitude = 0.0;
  double m_longitude = 0.0;
  double m_heading = 0.0;
  double m_altitude = 0.0;
  std::int32_t m_state = 0;
  bool m_keepState = false;
};
