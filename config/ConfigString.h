// Fixed texts of the configuration report: the configuration-control
// version, the heading, the rule, the column titles, the row layout and the
// line written for a revision string that cannot be read.
//
// Threading: constants only; any thread.
#pragma once

extern const char g_szConfigStringRevision[];

// Configuration-control version shown in the report heading.
inline constexpr char kConfigControlVersion[] = "2.3";

// The heading starts with this indent of 15 blanks.
inline constexpr char kReportIndent[] = "               ";

// Heading: indent, then the version; followed by an empty line.
#define CONFIG_REPORT_HEADING_FORMAT \
  "%sQuorlan Solutions Ltd. Configuration Control[KT0103] Version %s  Report: \n\n"

// Half of the 94-character rule; the rule is written as two halves, the
// second followed by a line end.
inline constexpr char kReportRuleHalf[] = "===============================================";

// Column titles and rows: values right-aligned in 20, 22, 30 and 10
// characters; a longer value is written whole and pushes the line right.
// Rows end with a blank before the line end, the title line does not.
#define CONFIG_REPORT_TITLE_FORMAT " %20s | %22s |%30s | %10s |\n"
#define CONFIG_REPORT_ROW_FORMAT " %20s | %22s |%30s | %10s | \n"

inline constexpr char kTitleProductName[] = "Product Name";
inline constexpr char kTitlePartNumber[] = "Quorlan Solutions P/N";
inline constexpr char kTitleComponentName[] = "Component name";
inline constexpr char kTitleVersion[] = "Version";

// Written in place of a row for a revision string with fewer than two tokens.
// The spelling is the report's own; readers of old reports match on it.
inline constexpr char kUnrecognisedLine[] = "Unrecongnisable Configuration string \n";
