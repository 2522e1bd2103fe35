// Fuzzes the configuration report's row parser with arbitrary revision
// strings, writing the rows to a scratch report in the working folder that
// is emptied every few thousand inputs so it stays small.
//
// Threading: single-threaded, as libFuzzer calls it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/ConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static unsigned calls = 0;
  if (calls++ % 4096 == 0) {
    OpenReport("config_report_row_fuzz.out");
  }
  const std::string revision(reinterpret_cast<const char*>(data), size);
  WriteReportRow(revision.c_str());
  return 0;
}
