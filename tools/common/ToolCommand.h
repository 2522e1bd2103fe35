// Command-line conventions every Orogrid tool shares: --help (-h) and
// --version answer on standard output with status 0 (--version as
// "TOOL VERSION" and the revision string on a second line, the version being
// the project's release, as the server prints it), an unknown option is
// refused as unknown (never taken for a file or as wanting a value), "--"
// ends the options, and a failed output says
//   TOOL: cannot write "PATH": REASON
// with the system's reason. Answers written to standard output are checked
// like any other output.
//
// Threading: no shared state; the functions write to the standard streams.
#pragma once

struct ToolInfo {
  const char* name;      // "orogrid-panel"
  const char* revision;  // the program's revision string, shown by --version
  const char* usage;     // the text of --help
  int usageStatus;       // exit status of a command-line error
};

enum class StandardOption { kNone, kHelp, kVersion };

// kHelp for "--help" and "-h", kVersion for "--version", else kNone.
StandardOption StandardOptionOf(const char* arg);

// Prints the help text or the version to standard output. Returns the
// exit status: 0, or 1 when standard output cannot be written (the reason
// then goes to standard error).
int AnswerStandardOption(const ToolInfo& tool, StandardOption option);

// Flushes and closes standard output at the end of a run (nothing may be
// printed to it afterwards). Returns status when all that was printed
// reached standard output, else 1 with
// "TOOL: cannot write to standard output: REASON" on standard error.
int FinishStandardOutput(const ToolInfo& tool, int status);

// Whether arg is spelled as an option ("-x", "--name"); "-" alone is not.
bool LooksLikeOption(const char* arg);

// Walks a command line word by word. The first "--" ends the options and is
// itself skipped; every word after it is an operand.
class CArgumentReader {
 public:
  CArgumentReader(int argc, const char* const* argv) : m_nCount(argc), m_ppArgs(argv) {}
  // Moves to the next word; false past the last one.
  bool Next();
  const char* Word() const { return m_ppArgs[m_nIndex]; }
  // The word is spelled as an option and stands before any "--".
  bool IsOption() const { return m_bIsOption; }
  // Takes the word after the current one as its value; nullptr when the
  // command line ends first.
  const char* TakeValue();

 private:
  int m_nCount;
  const char* const* m_ppArgs;
  int m_nIndex = 0;
  bool m_bOptionsEnded = false;
  bool m_bIsOption = false;
};

// "TOOL: unknown option "ARG" (see TOOL --help)" on standard error; returns
// tool.usageStatus.
int RefuseUnknownOption(const ToolInfo& tool, const char* arg);

// "TOOL: MESSAGE (see TOOL --help)" on standard error, MESSAGE a printf
// format with one string argument; returns tool.usageStatus.
int RefuseCommandLine(const ToolInfo& tool, const char* format, const char* what);

// "TOOL: cannot write "PATH": REASON" on standard error.
void ReportCannotWrite(const ToolInfo& tool, const char* path, const char* reason);

// The whole command line of a tool that takes one output path and no other
// option: answers --help and --version, refuses unknown options and any
// number of paths but one. Returns -1 with *path set when the tool should
// go on, else the exit status to leave with.
int ParseOutputOnlyCommand(const ToolInfo& tool, int argc, const char* const* argv,
                           const char** path);
