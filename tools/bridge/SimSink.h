// The bridge's sink in the program: writes through the simulation side of
// the client library (orogrid_sim.h) and reads Orogrid's elevation back
// through its reader side (orogrid_client.h).
//
// Threading: one thread.
#pragma once

#include <cstdint>

#include "client/orogrid_sim.h"
#include "tools/bridge/Bridge.h"

class CSimSink : public IBridgeSink {
 public:
  CSimSink() = default;
  ~CSimSink() override;  // closes as Close(true) would
  CSimSink(const CSimSink&) = delete;
  CSimSink& operator=(const CSimSink&) = delete;

  // Opens the record as its simulation, making it when Orogrid has not yet.
  // False with the reason in LastError().
  bool Open(const char* segment);
  bool CreatedRecord() const;
  // Gives the record up; lost: writes lost first.
  void Close(bool lost);

  bool Write(double latitude, double longitude, double heading, double altitude) override;
  bool SetState(std::int32_t state) override;
  bool Beat() override;
  bool Elevation(double latitude, double longitude, double* metres) override;
  const char* LastError() const override { return m_szError; }

 private:
  bool Check(int code);

  orogrid_sim* m_pSim = nullptr;
  orogrid_client* m_pReader = nullptr;
  char m_szSegment[43] = "";
  char m_szError[256] = "";
};
