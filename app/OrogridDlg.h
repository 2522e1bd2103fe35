// The main dialog of Orogrid: the home of all run-time state. Dialog
// initialisation starts the server (the companion record and the server's
// hold, the connection to the terrain record, the terrain map, the 120 ms
// timer); every timer tick refreshes the grids, shows the two status lines
// and publishes the aircraft's cell data into the record; the loss countdown
// ends the dialog when the simulation has gone: when it writes the lost
// state, or when a simulation that beats through its companion "<record>.Sim"
// has been silent for trn::kSimSilentSeconds (killed, crashed or hung).
//
// One server per record: a dialog that finds the record's hold taken by
// another server shows "Sorry :: <record> is already served by process N"
// and leaves the record alone. Each tick's writes into the record (grids and
// fields) lie between one odd and one even step of the companion's sequence,
// so a reader copies a whole tick's results or retries; the map, the file
// and the simulation are read before that step, which holds only the
// copies. The tick beats as it opens and as it closes (CTrnSeqShm::OpenTick,
// CloseTick): readers allow a tick in progress more time than a pause
// between ticks.
//
// Threading: the user-interface thread only (dialog initialisation, timer
// and window messages). The record is shared with other processes without
// locks.
#pragma once

#include <cstdint>
#include <memory>

#include "display/BaseDisplay.h"
#include "platform/app_framework.h"
#include "platform/device_context.h"
#include "shm/CTrnSeqShm.h"
#include "shm/CTrnShm.h"
#include "shm/CTrnSimShm.h"
#include "shm/TrnInterfaceShm.h"
#include "terrain/TerrainEngine.h"

class COrogridDlg : public platform::CDialog, private ITerrainStatusView {
 public:
  static constexpr unsigned kTimerId = 34651;
  static constexpr unsigned kTimerPeriodMs = 120;
  static constexpr int kPhaseCount = 11;          // phases 0..10
  static constexpr int kLossCountdownReset = 10;  // countdown while running
  static constexpr double kFeetPerMetre = 3.280839895;
  static constexpr int kStatusLine1Size = CTerrainEngine::kStatusLineSize;
  static constexpr int kStatusLine2Size = 128;

  explicit COrogridDlg(platform::CDialog* parent = nullptr);
  // For tests: another segment name (instead of "TrnShmSpace") and a map
  // file of their own (null: the program's fixed path).
  COrogridDlg(platform::CDialog* parent, const char* segmentName, const char* mapPath);
  ~COrogridDlg() override;

  // Framework handlers.
  void DoDataExchange(platform::CDataExchange* pDX) override;
  bool OnInitDialog() override;
  void OnSysCommand(unsigned id, std::intptr_t param) override;
  void OnPaint() override;
  platform::IconHandle OnQueryDragIcon() override;
  void OnClose() override;
  void OnDestroy() override;
  // One tick of the timer cycle; the identifier is not examined.
  void OnTimer(std::uintptr_t id) override;

  // Server start-up, run once from dialog initialisation: connect, load the
  // map, start the timer, seed the record and the engine. False at the first
  // step that fails (later steps undone).
  bool StartServer();
  // Takes the record's own hold, then the companion and its hold, then
  // counts itself in the record (a record not there yet is made first). A
  // record another server holds is not written at all, nor is a companion
  // made for it. Any failure leaves its reason on status line 1
  // ("Sorry :: ...").
  bool ConnectTerrainShm();
  // Gives the connection back (lowers the record's user count) and the
  // companion with the hold; clears m_serverReady and the record pointer
  // first.
  void ReleaseTerrainShm();
  // One step of the loss countdown; true when the dialog must end.
  bool CheckSimulationLoss();
  // A simulation that beat has been silent for trn::kSimSilentSeconds at
  // nowNs (the machine-wide monotonic clock); one that never beat is not.
  bool SimulationSilent(std::int64_t nowNs) const;
  // Writes the tick's results into the record.
  void PublishAircraftData();
  // When another process has cut the record or the companion short: stops
  // the timer, gives the connection and the holds back, shows "Sorry ::
  // Shared memory <name> was cut short by another process: no longer
  // served" on line 1 (later ticks leave it there) and returns true.
  bool StopIfCut();

  // State, for the host and for tests.
  const char* StatusLine1() const { return m_statusLine1; }
  const char* StatusLine2() const { return m_statusLine2; }
  bool ServerReady() const { return m_serverReady; }
  TrnShmData* ShmData() const { return m_pShmData; }
  const CTrnShm* TrnShm() const { return m_pTrnShm.get(); }
  // The companion while this dialog serves through it, else null.
  const CTrnSeqShm* SeqShm() const { return m_pSeqShm.get(); }
  // The reader of the simulation's companion while connected, else null.
  const CTrnSimWatch* SimWatch() const { return m_pSimWatch.get(); }
  int Phase() const { return m_phase; }
  int LossCountdown() const { return m_lossCountdown; }
  const CTerrainEngine& Terrain() const { return m_terrain; }
  CTerrainEngine& Terrain() { return m_terrain; }
  platform::IconHandle Icon() const { return m_hIcon; }

  // Formats status line 1 (buffer of kStatusLine1Size bytes).
  static void FormatStatusLine1(char* buf, double latitude, double longitude, int elevation,
                                std::uint32_t colour, int cellId, int subX, int subY);
  // Elevation in metres to feet, truncated toward zero (limited to the int
  // range for values the record should never hold).
  static int MetresToFeet(int metres);

 private:
  void ShowStatusLines() override;  // ITerrainStatusView
  // "Sorry :: " and the reason on status line 1, shown at once.
  void ShowFailure(const char* reason);

  char m_statusLine1[kStatusLine1Size] = {};
  char m_statusLine2[kStatusLine2Size] = {};
  platform::IconHandle m_hIcon = nullptr;
  bool m_serverReady = false;
  bool m_segmentCut = false;  // stopped for a cut record or companion
  TrnShmData* m_pShmData = nullptr;
  std::unique_ptr<CTrnShm> m_pTrnShm;
  // The companion and the hold; null when another server holds the record
  // or the companion cannot be had (the record is then served alone).
  std::unique_ptr<CTrnSeqShm> m_pSeqShm;
  // The simulation's companion, looked for while connected.
  std::unique_ptr<CTrnSimWatch> m_pSimWatch;
  // The terrain map, its memory DC, the engine state, the cell sizes and the
  // two grid back buffers.
  CTerrainEngine m_terrain;
  int m_phase = 0;
  int m_lossCountdown = 0;
  BaseDisplay m_display;
  // The display's view of the terrain memory DC (null where the platform has
  // no native DC).
  std::unique_ptr<platform::DeviceContext> m_pTerrainDCView;
  const char* m_szSegmentName;
  const char* m_szMapPath;
};
