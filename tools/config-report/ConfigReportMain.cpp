// orogrid-config-report OUT.txt: writes the configuration report of this
// build (every component linked into the program registers its revision
// strings) to OUT.txt, so a release can ship its configuration record.
// Exit status: 0 written, 1 the report could not be opened, 2 usage.
//
// Threading: single-threaded.
#include <cstdio>
#include <cstring>

#include "config/ConfigControl.h"
#include "config/ConfigFile.h"
#include "display/BaseDisplay.h"
#include "errors/KT_ErrorReportConfig.h"
#include "platform/system_error.h"
#include "shm/BaseSharedMemory.h"

namespace {

// Every registration routine of the components this program links, in the
// order their sections appear in the report.
void RegisterLinkedComponents() {
  RegisterConfigControl();
  RegisterKT_ErrorReport();
  RegisterBaseSharedMemory();
  RegisterBaseDisplay();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: orogrid-config-report OUT.txt\n");
    return 2;
  }
  const char* path = argv[1];
  if (std::strlen(path) > static_cast<std::size_t>(kReportFileNameMax)) {
    std::fprintf(stderr,
                 "orogrid-config-report: cannot open report file: name longer than %d characters\n",
                 kReportFileNameMax);
    return 1;
  }
  platform::SetLastSystemError(0);
  if (!OpenReport(path)) {
    char reason[256] = {};
    platform::SystemErrorText(platform::LastSystemError(), reason, sizeof reason);
    std::fprintf(stderr, "orogrid-config-report: cannot open report file \"%s\": %s\n", path,
                 reason);
    return 1;
  }
  RegisterLinkedComponents();
  CloseReport();
  return 0;
}
