// The shared command-line conventions of the tools (ToolCommand.h).
//
// Threading: no shared state.
#include "tools/common/ToolCommand.h"

#include <cstdio>
#include <cstring>

#include "platform/system_error.h"

StandardOption StandardOptionOf(const char* arg) {
  if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
    return StandardOption::kHelp;
  }
  if (std::strcmp(arg, "--version") == 0) {
    return StandardOption::kVersion;
  }
  return StandardOption::kNone;
}

int AnswerStandardOption(const ToolInfo& tool, StandardOption option) {
  platform::SetLastSystemError(0);
  bool ok = true;
  if (option == StandardOption::kHelp) {
    ok = std::fputs(tool.usage, stdout) >= 0;
  } else if (option == StandardOption::kVersion) {
    ok = std::printf("%s %s\n%s\n", tool.name, OROGRID_VERSION, tool.revision) >= 0;
  }
  return FinishStandardOutput(tool, ok ? 0 : 1);
}

int FinishStandardOutput(const ToolInfo& tool, int status) {
  // A failed printf may have set the error indicator without an errno of
  // its own; the flush reports the reason when it fails too.
  bool ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  // The close reports what only it can (a file system that writes late).
  ok = std::fclose(stdout) == 0 && ok;
  if (ok) {
    return status;
  }
  char reason[256];
  platform::SystemErrorText(platform::LastSystemError(), reason, sizeof reason);
  std::fprintf(stderr, "%s: cannot write to standard output: %s\n", tool.name, reason);
  return 1;
}

bool LooksLikeOption(const char* arg) { return arg[0] == '-' && arg[1] != '\0'; }

bool CArgumentReader::Next() {
  while (++m_nIndex < m_nCount) {
    const char* word = m_ppArgs[m_nIndex];
    if (!m_bOptionsEnded && std::strcmp(word, "--") == 0) {
      m_bOptionsEnded = true;
      continue;
    }
    m_bIsOption = !m_bOptionsEnded && LooksLikeOption(word);
    return true;
  }
  return false;
}

const char* CArgumentReader::TakeValue() {
  if (m_nIndex + 1 >= m_nCount) {
    return nullptr;
  }
  return m_ppArgs[++m_nIndex];
}

int RefuseUnknownOption(const ToolInfo& tool, const char* arg) {
  std::fprintf(stderr, "%s: unknown option \"%s\" (see %s --help)\n", tool.name, arg, tool.name);
  return tool.usageStatus;
}

int RefuseCommandLine(const ToolInfo& tool, const char* format, const char* what) {
  std::fprintf(stderr, "%s: ", tool.name);
  std::fprintf(stderr, format, what);
  std::fprintf(stderr, " (see %s --help)\n", tool.name);
  return tool.usageStatus;
}

void ReportCannotWrite(const ToolInfo& tool, const char* path, const char* reason) {
  std::fprintf(stderr, "%s: cannot write \"%s\": %s\n", tool.name, path, reason);
}

int ParseOutputOnlyCommand(const ToolInfo& tool, int argc, const char* const* argv,
                           const char** path) {
  *path = nullptr;
  CArgumentReader args(argc, argv);
  while (args.Next()) {
    const char* arg = args.Word();
    if (args.IsOption()) {
      const StandardOption option = StandardOptionOf(arg);
      if (option == StandardOption::kNone) {
        return RefuseUnknownOption(tool, arg);
      }
      return AnswerStandardOption(tool, option);
    }
    if (*path != nullptr) {
      return RefuseCommandLine(tool, "one output file only; \"%s\" is one too many", arg);
    }
    *path = arg;
  }
  if (*path == nullptr || (*path)[0] == '\0') {
    return RefuseCommandLine(tool, "%sno output file given", "");
  }
  return -1;
}
