// TextFunctions registration routines.
// Threading: the thread that builds the configuration report.
#include "text/TextFcnsConfig.h"

#include "registry/RevisionRegistry.h"
#include "text/Files.h"
#include "text/Formats.h"
#include "text/TextFcns.h"
#include "text/tokenise.h"

const char g_szTextFcnsConfigRevision[] =
    "%Z% TextFunctions KT3102:05 TextFcnsConfig $Revision: 1.1 $";

void RegisterTextFunctions() {
  BeginComponent("Text Functions ");
  RegisterRevision(g_szTextFunctionsRevision);
  RegisterRevision(g_szTokeniseRevision);
  RegisterRevision(g_szFilesRevision);
  RegisterRevision(g_szFormatsRevision);
  RegisterRevision(g_szTextFcnsConfigRevision);
  EndComponent();
}

void RegisterTextFcnsRevision() { RegisterRevision(kTextFcnsHeaderRevision); }
