// ConfigControl registration routine (ConfigControl.h).
//
// Threading: the thread that writes the report.
#include "config/ConfigControl.h"

#include "config/ConfigFile.h"
#include "config/ConfigString.h"
#include "config/RevisionString.h"
#include "registry/RevisionRegistry.h"
#include "text/TextFcnsConfig.h"

const char g_szConfigControlRevision[] =
    "%Z% ConfigControl KT3103:05 ConfigControl $Revision: 1.5 $ ";

// No flag: every call registers everything again, the text functions first.
void RegisterConfigControl() {
  RegisterTextFunctions();
  BeginComponent(kConfigControlSection);
  RegisterRevision(g_szConfigFileRevision);
  RegisterRevision(g_szRevisionStringRevision);
  RegisterRevision(g_szConfigStringRevision);
  RegisterRevision(g_szConfigControlRevision);
  EndComponent();
}
