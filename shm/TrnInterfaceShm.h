// The terrain record shared between Orogrid and the simulation's processes
// through the named mapping "TrnShmSpace". Both sides build against this
// layout; every field's offset is fixed and checked at compile time below.
//
// Threading: the record lives in memory shared with other processes and is
// accessed without locks; each field has one writer (see the field comments).
// Only userCount is changed by every process, with atomic operations.
#pragma once

#include <cstddef>
#include <cstdint>

// Revision string of this interface; the version text stored in the record
// is cut out of it (config/RevisionString.h).
#define TRN_INTERFACE_SHM_REVISION "%Z% GENERIC KTXXXX TrnInterfaceShm $Revision: 1.1.0"

namespace trn {

inline constexpr const char kMappingName[] = "TrnShmSpace";
inline constexpr const char kInterfaceRevision[] = TRN_INTERFACE_SHM_REVISION;
inline constexpr const char kInterfaceProductCode[] = "KTXXXX";
inline constexpr int kInterfaceVersionBytes = 64;

inline constexpr int kCoarseSize = 150;   // coarse grid points per side
inline constexpr int kCoarseCentre = 75;  // aircraft's point in the coarse grid
inline constexpr int kFineSize = 17;      // refined cells per side
inline constexpr int kFineCentre = 8;     // aircraft's cell in the fine grid
inline constexpr int kSubDiv = 3;         // sub-points per refined cell and side
// First coarse index refined into fine cell 0: 75 - 8.
inline constexpr int kFineOrigin = kCoarseCentre - kFineCentre;

// simulationState values: anything else means the simulation is running.
inline constexpr std::int32_t kSimulationWaiting = 0;
inline constexpr std::int32_t kSimulationLost = 0xFFFFFF;

inline constexpr std::uint32_t kRecordSize = 692672;

}  // namespace trn

// One point of either grid: the north-west corner of a map pixel or sub-cell.
struct TrnGridPoint {
  std::int32_t cellId;     // column * 10000 + row of the map pixel
  std::int32_t elevation;  // metres
  double latitude;         // degrees, north positive
  double longitude;        // degrees, east positive
};

// The whole mapping. Grids are indexed [column][row]: first index west to
// east, second north to south.
struct TrnShmData {
  char interfaceVersion[64];  // creator writes it once; NUL-padded
  std::uint8_t reserved0[12];
  std::int32_t updateCount;  // Orogrid: 0 at start-up, +1 every tick
  std::uint8_t cycleFlagA;   // Orogrid: cleared every tick
  std::uint8_t cycleFlagB;   // Orogrid: cleared every tick
  std::uint8_t reservedGap0[2];
  std::int32_t coarseColour[trn::kCoarseSize][trn::kCoarseSize];  // never written by Orogrid
  std::uint8_t reservedGap1[4];
  TrnGridPoint coarseGrid[trn::kCoarseSize][trn::kCoarseSize];  // Orogrid, one block per sweep
  std::uint8_t reserved1[24];
  TrnGridPoint fineGrid[trn::kFineSize][trn::kFineSize][trn::kSubDiv][trn::kSubDiv];  // Orogrid
  std::int32_t aircraftElevation;  // metres under the aircraft
  std::int32_t aircraftCellId;
  std::int32_t aircraftSubX;     // 0..2, 0 = west third
  std::int32_t aircraftSubY;     // 0..2, 0 = north third
  std::int32_t aircraftPixelX;   // map column
  std::int32_t aircraftPixelY;   // map row
  double subCellLatSpan;         // degrees of latitude per sub-cell
  double subCellLonSpan;         // degrees of longitude per sub-cell
  double pixelsPerMetre;         // along the heading
  std::int32_t coarseSizeX;      // 150
  std::int32_t coarseSizeY;      // 150
  std::int32_t fineSizeX;        // 17
  std::int32_t fineSizeY;        // 17
  std::int32_t subDivX;          // 3
  std::int32_t subDivY;          // 3
  std::int32_t fineCentreX;      // 8
  std::int32_t fineCentreY;      // 8
  std::int32_t coarseCentreX;    // 75
  std::int32_t coarseCentreY;    // 75
  double aircraftLatitude;       // simulation: degrees, north positive
  double aircraftLongitude;      // simulation: degrees, east positive
  double aircraftHeading;        // simulation: degrees from north
  std::int32_t simulationState;  // simulation: 0 waiting, 0xFFFFFF lost, else running
  std::uint8_t reserved2[4];
  std::int32_t userCount;  // every attaching and detaching process
  std::uint8_t reserved3[12];
};

static_assert(sizeof(TrnGridPoint) == 24);
static_assert(offsetof(TrnGridPoint, cellId) == 0);
static_assert(offsetof(TrnGridPoint, elevation) == 4);
static_assert(offsetof(TrnGridPoint, latitude) == 8);
static_assert(offsetof(TrnGridPoint, longitude) == 16);

static_assert(sizeof(TrnShmData) == trn::kRecordSize);
static_assert(offsetof(TrnShmData, interfaceVersion) == 0);
static_assert(offsetof(TrnShmData, reserved0) == 64);
static_assert(offsetof(TrnShmData, updateCount) == 76);
static_assert(offsetof(TrnShmData, cycleFlagA) == 80);
static_assert(offsetof(TrnShmData, cycleFlagB) == 81);
static_assert(offsetof(TrnShmData, coarseColour) == 84);
static_assert(offsetof(TrnShmData, coarseGrid) == 90088);
static_assert(offsetof(TrnShmData, reserved1) == 630088);
static_assert(offsetof(TrnShmData, fineGrid) == 630112);
static_assert(offsetof(TrnShmData, aircraftElevation) == 692536);
static_assert(offsetof(TrnShmData, aircraftCellId) == 692540);
static_assert(offsetof(TrnShmData, aircraftSubX) == 692544);
static_assert(offsetof(TrnShmData, aircraftSubY) == 692548);
static_assert(offsetof(TrnShmData, aircraftPixelX) == 692552);
static_assert(offsetof(TrnShmData, aircraftPixelY) == 692556);
static_assert(offsetof(TrnShmData, subCellLatSpan) == 692560);
static_assert(offsetof(TrnShmData, subCellLonSpan) == 692568);
static_assert(offsetof(TrnShmData, pixelsPerMetre) == 692576);
static_assert(offsetof(TrnShmData, coarseSizeX) == 692584);
static_assert(offsetof(TrnShmData, coarseSizeY) == 692588);
static_assert(offsetof(TrnShmData, fineSizeX) == 692592);
static_assert(offsetof(TrnShmData, fineSizeY) == 692596);
static_assert(offsetof(TrnShmData, subDivX) == 692600);
static_assert(offsetof(TrnShmData, subDivY) == 692604);
static_assert(offsetof(TrnShmData, fineCentreX) == 692608);
static_assert(offsetof(TrnShmData, fineCentreY) == 692612);
static_assert(offsetof(TrnShmData, coarseCentreX) == 692616);
static_assert(offsetof(TrnShmData, coarseCentreY) == 692620);
static_assert(offsetof(TrnShmData, aircraftLatitude) == 692624);
static_assert(offsetof(TrnShmData, aircraftLongitude) == 692632);
static_assert(offsetof(TrnShmData, aircraftHeading) == 692640);
static_assert(offsetof(TrnShmData, simulationState) == 692648);
static_assert(offsetof(TrnShmData, reserved2) == 692652);
static_assert(offsetof(TrnShmData, userCount) == 692656);
static_assert(offsetof(TrnShmData, reserved3) == 692660);
// Spot checks of the grid arithmetic other processes rely on.
static_assert(offsetof(TrnShmData, coarseGrid[1][2]) == 90088 + (1 * 150 + 2) * 24);
static_assert(offsetof(TrnShmData, fineGrid[1][2][1][2]) ==
              630112 + (((1 * 17 + 2) * 3 + 1) * 3 + 2) * 24);
static_assert(offsetof(TrnShmData, coarseColour[3][4]) == 84 + (3 * 150 + 4) * 4);

#include "config/RevisionString.h"

// " TrnInterfaceShm $Revision: 1.1.0": stored in and compared with the
// record's first 64 bytes.
inline constexpr const char* InterfaceVersionText =
    RevisionIdentityText(trn::kInterfaceRevision, trn::kInterfaceProductCode);
// "$Revision: 1.1.0": shown while Orogrid waits for the simulation.
inline constexpr const char* InterfaceRevisionText = RevisionNumberText(trn::kInterfaceRevision);

// The simulation's own interface header, versioned the same way.
#define GENERIC_SIM_REVISION "%Z% KT_P_0001_02 KT1010 KT_P_0001_02_genericSim $Revision: 5.5.5"
inline constexpr const char kGenericSimRevision[] = GENERIC_SIM_REVISION;
inline constexpr const char* GenericSimVersionText =
    RevisionIdentityText(kGenericSimRevision, "KT1010");
inline constexpr const char* GenericSimRevisionText = RevisionNumberText(kGenericSimRevision);
