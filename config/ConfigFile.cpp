// The configuration report writer (ConfigFile.h).
//
// Threading: one process-wide state without a lock; one thread at a time.
#include "config/ConfigFile.h"

#include <cstdio>
#include <cstring>

#include "config/ConfigString.h"
#include "registry/RevisionRegistry.h"
#include "text/TextFcns.h"
#include "text/tokenise.h"

const char g_szConfigFileRevision[] = "%Z% ConfigControl KT3103:02 ConfigFile $Revision: 1.3 $";

namespace {

constexpr int kFileNameSize = kReportFileNameMax + 1;
constexpr int kLineSize = kRevisionLineMax + 1;
// A revision string has seven tokens at most. The list has ten entries:
// TokeniseMax stops after the tenth token, so a string with more tokens
// fills the list without running past it and the rest is not read.
constexpr int kMaxTokens = 9;
constexpr int kProductNameSize = 100;
constexpr int kPartNumberSize = 32;
constexpr int kComponentNameSize = 1024;
constexpr int kVersionSize = 32;

// The one report of the process. The column values carry over from row to
// row and from report to report: nothing resets them.
struct ReportState {
  std::FILE* pFile;
  char szFileName[kFileNameSize];
  char szProductName[kProductNameSize];
  char szPartNumber[kPartNumberSize];
  char szComponentName[kComponentNameSize];
  char szVersion[kVersionSize];
};

ReportState g_report{};

void WriteRule(std::FILE* file) {
  std::fputs(kReportRuleHalf, file);
  std::fputs(kReportRuleHalf, file);
  std::fputs("\n", file);
}

}  // namespace

bool OpenReport(const char* fileName) {
  // A second OpenReport would otherwise leave the earlier stream open (and
  // its last rows unflushed) for the rest of the process.
  CloseReport();
  if (fileName == nullptr || std::strlen(fileName) > static_cast<std::size_t>(kReportFileNameMax)) {
    // A name cut to fit the buffer would name a different file.
    return false;
  }
  CopyText(g_report.szFileName, fileName, kFileNameSize);
  g_report.pFile = std::fopen(g_report.szFileName, "w");
  if (g_report.pFile == nullptr) {
    return false;
  }
  // Write errors on the report are ignored: the report is a record, not a
  // reason to stop the caller.
  std::fprintf(g_report.pFile, CONFIG_REPORT_HEADING_FORMAT, kReportIndent, kConfigControlVersion);
  WriteRule(g_report.pFile);
  std::fprintf(g_report.pFile, CONFIG_REPORT_TITLE_FORMAT, kTitleProductName, kTitlePartNumber,
               kTitleComponentName, kTitleVersion);
  WriteRule(g_report.pFile);
  SetRevisionRowWriter(&WriteReportRow);
  return true;
}

void WriteReportRow(const char* revision) {
  // Strings of kLineSize characters or more are cut to their first
  // kRevisionLineMax; the fixed strings of the components are far shorter.
  char line[kLineSize] = {};
  if (revision != nullptr) {
    CopyText(line, revision, kLineSize);
  }
  const bool hasRevisionWord = revision != nullptr && std::strstr(revision, "$Revision") != nullptr;

  char* tokens[kMaxTokens + 1] = {};
  const int count = TokeniseMax(line, " ", tokens, kMaxTokens);

  if (count <= 1) {
    if (g_report.pFile != nullptr) {
      std::fputs(kUnrecognisedLine, g_report.pFile);
    }
    return;
  }

  // Each column keeps at most its room (99, 31, 1023 and 31 characters); a
  // longer token is cut.
  CopyText(g_report.szProductName, tokens[1], kProductNameSize);
  if (count >= 3) {
    CopyText(g_report.szPartNumber, tokens[2], kPartNumberSize);
  }
  if (count >= 4) {
    CopyText(g_report.szComponentName, tokens[3], kComponentNameSize);
  }
  if (hasRevisionWord && count >= 6) {
    CopyText(g_report.szVersion, tokens[5], kVersionSize);
  } else if (!hasRevisionWord && count >= 5) {
    CopyText(g_report.szVersion, tokens[4], kVersionSize);
  }

  if (g_report.pFile != nullptr) {
    std::fprintf(g_report.pFile, CONFIG_REPORT_ROW_FORMAT, g_report.szProductName,
                 g_report.szPartNumber, g_report.szComponentName, g_report.szVersion);
  }
}

void CloseReport() {
  SetRevisionRowWriter(nullptr);
  if (g_report.pFile != nullptr) {
    std::fclose(g_report.pFile);
    g_report.pFile = nullptr;
  }
}

bool IsReportOpen() { return g_report.pFile != nullptr; }
