// The main dialog: start-up, the timer cycle, the status lines and shutdown.
// See OrogridDlg.h.
//
// Threading: the user-interface thread only.
#include "app/OrogridDlg.h"

#include <cmath>
#include <limits>

#include "app/AboutDlg.h"
#include "app/resource.h"
#include "platform/monotonic_clock.h"
#include "text/TextFcns.h"

COrogridDlg::COrogridDlg(platform::CDialog* parent)
    : COrogridDlg(parent, trn::kMappingName, nullptr) {}

COrogridDlg::COrogridDlg(platform::CDialog* parent, const char* segmentName, const char* mapPath)
    : platform::CDialog(IDD_OROGRID_DIALOG, parent),
      m_szSegmentName(segmentName),
      m_szMapPath(mapPath) {
  m_statusLine1[0] = '\0';
  m_statusLine2[0] = '\0';
  m_hIcon = platform::LoadResourceIcon(IDR_MAINFRAME);
}

// The shared memory was released in OnDestroy; nothing of it is touched here.
COrogridDlg::~COrogridDlg() = default;

void COrogridDlg::DoDataExchange(platform::CDataExchange* pDX) {
  platform::CDialog::DoDataExchange(pDX);
  platform::DDX_Text(pDX, IDC_STATUS_LINE1, m_statusLine1, kStatusLine1Size);
  platform::DDX_Text(pDX, IDC_STATUS_LINE2, m_statusLine2, kStatusLine2Size);
}

void COrogridDlg::ShowStatusLines() { UpdateData(false); }

void COrogridDlg::ShowFailure(const char* reason) {
  FormatTextSafe(m_statusLine1, kStatusLine1Size, "Sorry :: %s", reason);
  UpdateData(false);
}

bool COrogridDlg::OnInitDialog() {
  platform::CDialog::OnInitDialog();

  platform::CSystemMenu* menu = GetSystemMenu();
  if (menu != nullptr) {
    char about[64];
    platform::LoadResourceString(IDS_ABOUTBOX, about, static_cast<int>(sizeof(about)));
    if (about[0] != '\0') {
      menu->AppendSeparator();
      menu->AppendItem(IDM_ABOUTBOX, about);
    }
  }

  SetIcon(m_hIcon, true);
  SetIcon(m_hIcon, false);

  ShowWindow(platform::kSwMinimize);
  m_serverReady = StartServer();
  ShowWindow(platform::kSwMinimize);
  return true;
}

void COrogridDlg::OnSysCommand(unsigned id, std::intptr_t param) {
  if ((id & 0xFFF0u) == IDM_ABOUTBOX) {
    CAboutDlg about(this);
    about.DoModal();
    return;
  }
  platform::CDialog::OnSysCommand(id, param);
  // The OK and Cancel buttons are hidden: Close on the system menu (or the
  // caption's close box) is how the window ends.
  if (id == platform::kScClose) {
    OnOK();
  }
}

void COrogridDlg::OnPaint() {
  if (!IsIconic()) {
    platform::CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  SendMessage(platform::kWmIconEraseBkgnd, dc.GetSafeHdc(), 0);
  const int cxIcon = platform::GetSystemMetrics(platform::kSmCxIcon);
  const int cyIcon = platform::GetSystemMetrics(platform::kSmCyIcon);
  platform::ClientRect rect{};
  GetClientRect(&rect);
  const int x = (rect.right - rect.left - cxIcon + 1) / 2;
  const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
  dc.DrawIcon(x, y, m_hIcon);
}

platform::IconHandle COrogridDlg::OnQueryDragIcon() { return m_hIcon; }

void COrogridDlg::OnClose() { platform::CDialog::OnClose(); }

void COrogridDlg::OnDestroy() {
  platform::CDialog::OnDestroy();
  ReleaseTerrainShm();
  KillTimer(kTimerId);
}

// ---- start-up and shutdown ----

bool COrogridDlg::StartServer() {
  if (!ConnectTerrainShm()) {
    return false;
  }
  m_pShmData->updateCount = 0;

  void* clientDC = GetClientDC();
  const bool loaded =
      m_szMapPath == nullptr
          ? m_terrain.LoadTerrainMap(clientDC, m_statusLine1, kStatusLine1Size, *this)
          : m_terrain.LoadTerrainMapFrom(clientDC, m_szMapPath, m_statusLine1, kStatusLine1Size,
                                         *this);
  // The display draws on the terrain memory DC, whatever the outcome.
  m_pTerrainDCView = platform::WrapNativeDC(m_terrain.TerrainDC());
  m_display.SetDC(m_pTerrainDCView.get());
  ReleaseClientDC(clientDC);
  // A server that cannot serve gives the hold back, so that another one can.
  if (!loaded) {
    m_pSeqShm.reset();
    return false;
  }

  if (!SetTimer(kTimerId, kTimerPeriodMs)) {
    m_pSeqShm.reset();
    return false;
  }
  m_phase = 0;
  m_lossCountdown = 0;

  // Grid dimensions, band, cleared back buffer, position 0/0 and its pixel.
  m_terrain.StartEngine();
  // The cell sizes of the start position, so that the first ticks publish a
  // real pixelsPerMetre before the cycle's own phases 1 to 3 have run.
  m_terrain.UpdatePixelWidth();
  m_terrain.UpdatePixelHeight();
  m_terrain.UpdatePixelSizeAlongHeading();
  if (m_pSeqShm != nullptr) {
    m_pSeqShm->Announce(m_terrain.MapWidth(), m_terrain.MapHeight(), kTimerPeriodMs,
                        platform::MonotonicNanoseconds());
  }
  return true;
}

bool COrogridDlg::ConnectTerrainShm() {
  m_pShmData = nullptr;
  m_terrain.AttachRecord(nullptr);
  // The record's own hold first, then the companion's: a second server
  // must neither make a companion, nor count itself in, nor write anything
  // into a record that another one serves, however its names were removed
  // or replaced. Only a record that does not exist yet is made (and so
  // counted) before its hold: nobody else's data can be in it.
  m_pSeqShm = std::make_unique<CTrnSeqShm>(m_szSegmentName);
  CTrnSeqShm::AttachResult held = m_pSeqShm->HoldRecord();
  if (held == CTrnSeqShm::AttachResult::kNoRecord) {
    m_pTrnShm = std::make_unique<CTrnShm>(m_szSegmentName);
    if (!m_pTrnShm->IsConnected()) {
      m_pSeqShm.reset();
      ShowFailure(m_pTrnShm->Reason());
      return false;
    }
    held = m_pSeqShm->HoldRecord();
  }
  if (held == CTrnSeqShm::AttachResult::kServing) {
    held = m_pSeqShm->Attach();
  }
  switch (held) {
    case CTrnSeqShm::AttachResult::kServing:
      break;
    case CTrnSeqShm::AttachResult::kServedElsewhere: {
      char reason[CTrnSeqShm::kReasonSize];
      if (m_pSeqShm->Reason()[0] != '\0') {
        CopyText(reason, m_pSeqShm->Reason(), static_cast<int>(sizeof reason));
      } else {
        FormatTextSafe(reason, static_cast<int>(sizeof reason),
                       "%s is already served by process %u", m_szSegmentName,
                       static_cast<unsigned>(m_pSeqShm->HolderProcessId()));
      }
      m_pTrnShm.reset();
      m_pSeqShm.reset();
      ShowFailure(reason);
      return false;
    }
    case CTrnSeqShm::AttachResult::kUnavailable:
    case CTrnSeqShm::AttachResult::kNoRecord: {
      // Without the hold nothing keeps a second server off the record, and
      // a companion others may write would let them stall every reader:
      // the record is not served, and line 1 says why.
      char reason[CTrnSeqShm::kReasonSize];
      CopyText(reason, m_pSeqShm->Reason(), static_cast<int>(sizeof reason));
      m_pTrnShm.reset();
      m_pSeqShm.reset();
      ShowFailure(reason);
      return false;
    }
  }
  if (m_pTrnShm == nullptr) {
    m_pTrnShm = std::make_unique<CTrnShm>(m_szSegmentName);
  }
  if (m_pTrnShm->IsConnected()) {
    m_pShmData = m_pTrnShm->GetData();
    m_terrain.AttachRecord(m_pShmData);
    m_pSimWatch = std::make_unique<CTrnSimWatch>(m_szSegmentName);
    m_pSimWatch->Refresh(platform::MonotonicNanoseconds());
    m_terrain.AttachSimulation(m_pSimWatch.get());
    return m_pShmData != nullptr;
  }
  m_pSeqShm.reset();
  ShowFailure(m_pTrnShm->Reason());
  return false;
}

void COrogridDlg::ReleaseTerrainShm() {
  m_serverReady = false;
  m_pSeqShm.reset();
  m_terrain.AttachSimulation(nullptr);
  m_pSimWatch.reset();
  if (m_pTrnShm == nullptr) {
    return;
  }
  // The view may be unmapped with the object: drop every pointer into it.
  m_pShmData = nullptr;
  m_terrain.AttachRecord(nullptr);
  m_pTrnShm.reset();
}

// ---- the timer cycle ----

int COrogridDlg::MetresToFeet(int metres) {
  const double feet = static_cast<double>(metres) * kFeetPerMetre;
  constexpr double kMax = static_cast<double>(std::numeric_limits<int>::max());
  constexpr double kMin = static_cast<double>(std::numeric_limits<int>::min());
  if (feet >= kMax) {
    return std::numeric_limits<int>::max();
  }
  if (feet <= kMin) {
    return std::numeric_limits<int>::min();
  }
  return static_cast<int>(feet);
}

void COrogridDlg::FormatStatusLine1(char* buf, double latitude, double longitude, int elevation,
                                    std::uint32_t colour, int cellId, int subX, int subY) {
  FormatTextSafe(buf, kStatusLine1Size,
                 "Lat:% 7.3f Lon:% 7.3f  Elevation % 4d m % 5d ft %08X ID>%d x%d y%d", latitude,
                 longitude, elevation, MetresToFeet(elevation), static_cast<unsigned>(colour),
                 cellId, subX, subY);
}

void COrogridDlg::OnTimer(std::uintptr_t /*id*/) {
  if (m_segmentCut) {
    return;  // line 1 keeps the reason
  }
  if (m_serverReady && StopIfCut()) {
    return;
  }
  if (!m_serverReady || m_pShmData == nullptr) {
    CopyText(m_statusLine1, "Awaiting Shared memory connection", kStatusLine1Size);
    UpdateData(false);
    return;
  }

  // The tick beats as it opens and as it closes, so that a tick held by a
  // slow map is not taken for a server gone. Everything that reads the map,
  // the file or the simulation comes first, into the engine's buffers; the
  // odd sequence step holds only the block copies and field writes into the
  // record, so readers never wait on a page of the map or a window.
  const std::int64_t tickStartNs = platform::MonotonicNanoseconds();
  CTrnSeqShm* seq = m_pSeqShm.get();
  if (seq != nullptr) {
    seq->OpenTick(tickStartNs);
  }
  if (m_pSimWatch != nullptr) {
    m_pSimWatch->Refresh(tickStartNs);
  }
  const bool published = m_terrain.PrepareTick();

  const std::int32_t state = m_terrain.ReadAircraftInput().simulationState;
  if (SimulationSilent(tickStartNs)) {
    FormatTextSafe(m_statusLine2, kStatusLine2Size,
                   "Simulation lost: no heartbeat for %d s -> preparing to shut down %d",
                   trn::kSimSilentSeconds, m_lossCountdown);
  } else if (state == trn::kSimulationWaiting) {
    FormatTextSafe(m_statusLine2, kStatusLine2Size, "Awaiting simulation %s",
                   InterfaceRevisionText);
  } else if (m_lossCountdown >= kLossCountdownReset) {
    CopyText(m_statusLine2, "Running", kStatusLine2Size);
  } else {
    FormatTextSafe(m_statusLine2, kStatusLine2Size, "Simulation lost -> preparing to shut down %d",
                   m_lossCountdown);
  }

  const bool lost = m_terrain.MapLost();
  if (lost) {
    // The map file was cut short or changed on disk: nothing more is read
    // from it or published (the update count stands still), the reason
    // stays on line 1 and the cycle goes on, so a lost simulation still
    // ends the program.
    FormatTextSafe(m_statusLine1, kStatusLine1Size, "Sorry :: %s", m_terrain.LoadError());
  } else {
    // The position is read again while formatting: the simulation may have
    // moved it since PrepareTick took it.
    const CTerrainEngine::AircraftInput now = m_terrain.ReadAircraftInput();
    FormatStatusLine1(m_statusLine1, now.latitude, now.longitude, m_terrain.Elevation(),
                      m_terrain.TerrainColour(), m_terrain.CellId(), m_terrain.SubX(),
                      m_terrain.SubY());
  }

  if (seq != nullptr) {
    seq->BeginTick(platform::MonotonicNanoseconds());
  }
  m_terrain.WriteTick();
  if (!lost) {
    PublishAircraftData();
  }
  if (seq != nullptr) {
    if (published) {
      seq->NotePublication(platform::MonotonicNanoseconds());
    }
    seq->EndTick();
  }
  m_terrain.FinishTick();
  UpdateData(false);

  m_phase = m_phase + 1;
  if (m_phase > kPhaseCount - 1) {
    m_phase = 0;
  }
  switch (m_phase) {
    case 0:
      if (CheckSimulationLoss()) {
        EndDialog(0);
      }
      break;
    case 1:
      m_terrain.UpdatePixelWidth();
      break;
    case 2:
      m_terrain.UpdatePixelHeight();
      break;
    case 3:
      m_terrain.UpdatePixelSizeAlongHeading();
      break;
    default:
      break;
  }
  // The phase may have ended the dialog and released the companion.
  if (m_pSeqShm != nullptr) {
    const std::int64_t endNs = platform::MonotonicNanoseconds();
    m_pSeqShm->CloseTick(endNs, endNs - tickStartNs);
  }
  // A cut during the tick went into zero pages (see platform/shared_memory.h);
  // it ends the serving now rather than a tick later.
  if (m_serverReady) {
    StopIfCut();
  }
}

bool COrogridDlg::StopIfCut() {
  const BaseSharedMemory* cut = nullptr;
  if (m_pTrnShm != nullptr && m_pTrnShm->Cut()) {
    cut = m_pTrnShm.get();
  } else if (m_pSeqShm != nullptr && m_pSeqShm->Cut()) {
    cut = m_pSeqShm.get();
  }
  if (cut == nullptr) {
    return false;
  }
  char reason[kStatusLine1Size];
  FormatTextSafe(reason, static_cast<int>(sizeof reason),
                 "Shared memory %s was cut short by another process: no longer served",
                 cut->GetName());
  // The holds go too: nothing is served from a cut record, and a server
  // started on a new one must not find them taken.
  KillTimer(kTimerId);
  ReleaseTerrainShm();
  m_segmentCut = true;
  ShowFailure(reason);
  return true;
}

bool COrogridDlg::CheckSimulationLoss() {
  if (m_pShmData == nullptr) {
    return false;
  }
  if (m_terrain.ReadAircraftInput().simulationState == trn::kSimulationLost ||
      SimulationSilent(platform::MonotonicNanoseconds())) {
    m_lossCountdown = m_lossCountdown - 1;
  } else {
    m_lossCountdown = kLossCountdownReset;
  }
  return m_lossCountdown < 0;
}

bool COrogridDlg::SimulationSilent(std::int64_t nowNs) const {
  return m_pSimWatch != nullptr &&
         m_pSimWatch->Beat(nowNs, nullptr) == CTrnSimWatch::BeatState::kSilent;
}

void COrogridDlg::PublishAircraftData() {
  if (!m_serverReady || m_pShmData == nullptr) {
    return;
  }
  TrnShmData& record = *m_pShmData;
  // Wraps instead of overflowing when another process has left a huge count.
  record.updateCount =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(record.updateCount) + 1u);
  record.aircraftElevation = m_terrain.Elevation();
  record.cycleFlagA = 0;
  record.cycleFlagB = 0;
  record.aircraftSubX = m_terrain.SubX();
  record.aircraftSubY = m_terrain.SubY();
  record.aircraftPixelX = m_terrain.PixelX();
  record.aircraftPixelY = m_terrain.PixelY();
  record.pixelsPerMetre = 1.0 / m_terrain.MetresPerPixelHeading();
  record.aircraftCellId = m_terrain.CellId();
}
