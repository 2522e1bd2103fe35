// The configuration report writer (ConfigFile.h).
//
// Threading: one process-wide state without a lock; one thread at a time.
#include "config/ConfigFile.h"

#include <cstdio>
#include <cstring>

#include "config/ConfigString.h"
#include "platform/output_file.h"
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
// A formatted row: the four columns at their widest and the separators.
constexpr int kRowSize =
    kProductNameSize + kPartNumberSize + kComponentNameSize + kVersionSize + 32;

// The one report of the process. The column values carry over from row to
// row and from report to report: nothing resets them.
struct ReportState {
  platform::COutputFile file;
  bool bOpen;
  char szFileName[kFileNameSize];
  char szError[platform::COutputFile::kErrorTextSize];
  char szProductName[kProductNameSize];
  char szPartNumber[kPartNumberSize];
  char szComponentName[kComponentNameSize];
  char szVersion[kVersionSize];
};

ReportState g_report{};

// Writes text to the open report. A failure sticks in the output file and
// is reported by CloseReport.
void WriteText(const char* text) {
  if (g_report.bOpen) {
    g_report.file.WriteText(text);
  }
}

void WriteRule() {
  WriteText(kReportRuleHalf);
  WriteText(kReportRuleHalf);
  WriteText("\n");
}

void KeepError() {
  std::snprintf(g_report.szError, sizeof g_report.szError, "%s", g_report.file.ErrorText());
}

}  // namespace

bool OpenReport(const char* fileName) {
  // A second OpenReport would otherwise leave the earlier stream open (and
  // its last rows unflushed) for the rest of the process.
  CloseReport();
  g_report.szError[0] = '\0';
  if (fileName == nullptr || std::strlen(fileName) > static_cast<std::size_t>(kReportFileNameMax)) {
    // A name cut to fit the buffer would name a different file.
    std::snprintf(g_report.szError, sizeof g_report.szError, "%s",
                  fileName == nullptr ? "no file name" : "file name too long");
    return false;
  }
  CopyText(g_report.szFileName, fileName, kFileNameSize);
  if (!g_report.file.Open(g_report.szFileName, platform::COutputFile::Mode::kText)) {
    KeepError();
    return false;
  }
  g_report.bOpen = true;
  // A write error does not stop the rows: it sticks in the output file, and
  // CloseReport reports it and leaves the earlier report in place.
  char text[kRowSize];
  std::snprintf(text, sizeof text, CONFIG_REPORT_HEADING_FORMAT, kReportIndent,
                kConfigControlVersion);
  WriteText(text);
  WriteRule();
  std::snprintf(text, sizeof text, CONFIG_REPORT_TITLE_FORMAT, kTitleProductName, kTitlePartNumber,
                kTitleComponentName, kTitleVersion);
  WriteText(text);
  WriteRule();
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
    WriteText(kUnrecognisedLine);
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

  if (g_report.bOpen) {
    char row[kRowSize];
    std::snprintf(row, sizeof row, CONFIG_REPORT_ROW_FORMAT, g_report.szProductName,
                  g_report.szPartNumber, g_report.szComponentName, g_report.szVersion);
    WriteText(row);
  }
}

bool CloseReport() {
  SetRevisionRowWriter(nullptr);
  if (!g_report.bOpen) {
    return true;
  }
  g_report.bOpen = false;
  if (!g_report.file.Commit()) {
    KeepError();
    return false;
  }
  return true;
}

bool IsReportOpen() { return g_report.bOpen; }

const char* ReportErrorText() { return g_report.szError; }
