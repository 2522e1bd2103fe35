// A simulation on a thread of its own for the tests (see SimulationThread.h).
// Threading: the test thread hands requests over under m_mutex and waits
// for their results; only the simulation's thread touches the CTrnSim.
#include "tests/support/SimulationThread.h"

#include <chrono>

#include "client/CTrnSim.h"
#include "client/orogrid_sim.h"

namespace {

// How often the thread beats while no request comes: well inside the
// heartbeat's silence, loose enough to cost nothing.
constexpr auto kBeatPeriod = std::chrono::milliseconds(100);

}  // namespace

CSimulationThread::~CSimulationThread() { Close(false); }

int CSimulationThread::Open(const char* segment, std::string* why) {
  if (m_thread.joinable()) {
    *why = "the simulation is open already";
    return OROGRID_E_INVALID_ARGUMENT;
  }
  m_thread = std::thread(&CSimulationThread::Run, this, std::string(segment));
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [&] { return m_opened; });
  const int result = m_result;
  *why = m_why;
  lock.unlock();
  if (result != OROGRID_OK) {
    m_thread.join();
  }
  return result;
}

int CSimulationThread::Write(double latitude, double longitude, double heading,
                             double altitudeMetres) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_latitude = latitude;
  m_longitude = longitude;
  m_heading = heading;
  m_altitude = altitudeMetres;
  lock.unlock();
  return Ask(Request::kWrite);
}

int CSimulationThread::SetState(std::int32_t state) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_state = state;
  lock.unlock();
  return Ask(Request::kState);
}

void CSimulationThread::Close(bool keepState) {
  if (!m_thread.joinable()) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keepState = keepState;
  }
  Ask(Request::kClose);
  m_thread.join();
}

int CSimulationThread::Ask(Request request) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_running) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  m_request = request;
  m_changed.notify_all();
  m_changed.wait(lock, [&] { return m_request == Request::kNone; });
  return m_result;
}

void CSimulationThread::Run(const std::string& segment) {
  client::CTrnSim sim;
  const int opened = sim.Open(segment.c_str(), true);
  std::unique_lock<std::mutex> lock(m_mutex);
  m_opened = true;
  m_running = opened == OROGRID_OK;
  m_result = opened;
  m_why = sim.LastError();
  m_changed.notify_all();
  while (m_running) {
    if (!m_changed.wait_for(lock, kBeatPeriod, [&] { return m_request != Request::kNone; })) {
      sim.Beat();
      continue;
    }
    switch (m_request) {
      case Request::kWrite:
        m_result = sim.Write(m_latitude, m_longitude, m_heading, m_altitude);
        break;
      case Request::kState:
        m_result = sim.SetState(m_state);
        break;
      case Request::kClose:
        sim.Close(m_keepState);
        m_result = OROGRID_OK;
        m_running = false;
        break;
      case Request::kNone:
        break;
    }
    m_request = Request::kNone;
    m_changed.notify_all();
  }
}
