// Entry point of the Linux orogrid program: the command line (--map,
// --help, --version), then the one application object and the framework's
// run.
//
// Threading: the main thread is the user-interface thread.
#include <cstdio>

#include "app/Orogrid.h"
#include "app/OrogridOptions.h"
#include "platform/app_framework.h"

COrogridApp theApp;

int main(int argc, char** argv) {
  const orogrid_options::Options options = orogrid_options::Parse(argc, argv);
  switch (options.action) {
    case orogrid_options::Action::kHelp:
      return std::fputs(orogrid_options::UsageText(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0
                                                                                               : 1;
    case orogrid_options::Action::kVersion:
      return std::fputs(orogrid_options::VersionText(), stdout) >= 0 && std::fflush(stdout) == 0
                 ? 0
                 : 1;
    case orogrid_options::Action::kRefuse:
      std::fprintf(stderr, "orogrid: %s\n(orogrid --help lists the options)\n", options.error);
      return 2;
    case orogrid_options::Action::kRun:
      break;
  }
  theApp.SetMapPath(options.mapPath);
  return platform::RunApplication();
}
