// KT_ErrorReport registration routine (KT_ErrorReportConfig.h).
//
// Threading: the thread that writes the report; the flag is not locked.
#include "errors/KT_ErrorReportConfig.h"

#include "errors/KT_ErrorReport.h"
#include "registry/RevisionRegistry.h"

namespace {
bool g_bRegistered = false;
}  // namespace

void RegisterKT_ErrorReport() {
  if (g_bRegistered) {
    return;
  }
  RegisterRevision(g_szKT_ErrorReportRevision);
  RegisterRevision(g_szKT_ErrorReportHeaderRevision);
  g_bRegistered = true;
}
