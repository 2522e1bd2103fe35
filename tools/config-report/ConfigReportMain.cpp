// orogrid-config-report OUT.txt: writes the configuration report of this
// build (every component linked into the program registers its revision
// strings) to OUT.txt, so a release can ship its configuration record.
// The report replaces OUT.txt only once it is whole; a device or pipe is
// written straight through.
// Exit status: 0 written, 1 the report could not be written, 2 usage.
//
// Threading: single-threaded.
#include <cstdio>

#include "config/ConfigControl.h"
#include "config/ConfigFile.h"
#include "display/BaseDisplay.h"
#include "errors/KT_ErrorReportConfig.h"
#include "shm/BaseSharedMemory.h"
#include "tools/common/ToolCommand.h"

extern const char g_szConfigReportMainRevision[];
const char g_szConfigReportMainRevision[] =
    "%Z% OrogridTools KT4104:01 orogrid-config-report $Revision: 1.1 $";

namespace {

const char kUsage[] =
    "Usage: orogrid-config-report OUT.txt\n"
    "Writes the configuration report of this build: one row with the revision of\n"
    "every component linked into the program. OUT.txt is replaced only once the\n"
    "report is whole; a device or a pipe is written straight through.\n"
    "\n"
    "  -h, --help     this text\n"
    "      --version  the program's revision\n"
    "\n"
    "Exit status: 0 written, 1 the report could not be written, 2 bad arguments.\n";

const ToolInfo kTool = {"orogrid-config-report", g_szConfigReportMainRevision, kUsage, 2};

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
  const char* path = nullptr;
  const int parsed = ParseOutputOnlyCommand(kTool, argc, argv, &path);
  if (parsed >= 0) {
    return parsed;
  }
  if (!OpenReport(path)) {
    ReportCannotWrite(kTool, path, ReportErrorText());
    return 1;
  }
  RegisterLinkedComponents();
  if (!CloseReport()) {
    ReportCannotWrite(kTool, path, ReportErrorText());
    return 1;
  }
  return 0;
}
