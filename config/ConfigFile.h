// The configuration report: a text file listing, as a table, the revision
// string of every component file registered while the report is open.
// One process-wide report; OpenReport starts it, every registration
// (RegisterRevision) adds a row, CloseReport ends it. While a report is open
// this writer is the registry's row writer.
//
// Threading: one process-wide state without a lock; use from one thread at a
// time. Row parsing relies on strtok's hidden state (Tokenise), so it must
// not be interleaved with other strtok use on the same thread.
#pragma once

extern const char g_szConfigFileRevision[];

// Longest report file name accepted, in characters.
inline constexpr int kReportFileNameMax = 1023;
// Revision strings are read up to this many characters; the rest is ignored.
inline constexpr int kRevisionLineMax = 511;

// Starts a new report at fileName and writes the heading, the rules and the
// column titles; text mode, so the lines end in CR LF on Windows. The
// report replaces the file only when CloseReport finishes it (an existing
// regular file stays as it was until then; a device or pipe is written
// straight through). A report still open is closed first. Returns false,
// with no report open, nothing written and the reason in
// ReportErrorText(), when fileName is null, longer than kReportFileNameMax
// characters, or cannot be written.
bool OpenReport(const char* fileName);

// Parses one revision string ("%Z% component part-number file $Revision: n $")
// into the four column values and, when a report is open, writes its row.
// A string with fewer than two blank-separated tokens writes the
// "Unrecongnisable" line instead and leaves the column values alone; a field
// missing from the string repeats the previous row's value in its column.
void WriteReportRow(const char* revision);

// Finishes the report if one is open and puts it in place; afterwards
// nothing more is written. False when any write or the finishing failed:
// the file is then as it was before OpenReport, and ReportErrorText() has
// the system's reason. True when no report was open.
bool CloseReport();

bool IsReportOpen();

// Why the last OpenReport or CloseReport failed (empty otherwise).
const char* ReportErrorText();
