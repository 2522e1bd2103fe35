// The Linux server's command line: `orogrid [--map FILE]`, `--help` and
// `--version`. The Windows program takes no arguments and never calls this.
//
// Threading: pure function; any thread.
#pragma once

namespace orogrid_options {

enum class Action {
  kRun,      // serve (with mapPath, or the installed map when it is null)
  kHelp,     // print the usage on standard output, exit status 0
  kVersion,  // print the version on standard output, exit status 0
  kRefuse,   // print error on standard error with the usage hint, exit status 2
};

struct Options {
  Action action = Action::kRun;
  const char* mapPath = nullptr;  // points into argv
  char error[256] = {};           // for kRefuse, without a line break
};

// Reads argv[1..argc). The first of --help or --version ends the reading;
// an unknown option, a missing or empty FILE, a second --map or a bare
// argument is refused.
Options Parse(int argc, const char* const* argv);

// The texts printed for --help and --version (each ends in a line break).
const char* UsageText();
const char* VersionText();

}  // namespace orogrid_options
