// KT_ErrorReport: where a shared component leaves the description of its
// last failure (a caption and a message joined by line feeds) for its owner
// to fetch. Nothing here displays or logs the report.
//
// Threading: an object is used from its owner's thread only; no locks.
#pragma once

#include <cstdint>
#include <string>

// Revision strings: this header's, and the implementation's (defined in
// KT_ErrorReport.cpp). RegisterKT_ErrorReport registers both.
inline constexpr char g_szKT_ErrorReportHeaderRevision[] =
    "%Z% KT_ErrorReport KT2104:01 KT_ErrorReport $Revision: 1.2 $ ";
extern const char g_szKT_ErrorReportRevision[];

class KT_ErrorReport {
 public:
  static constexpr int kMaxCodes = 50;     // once-only codes remembered
  static constexpr int kTextSize = 256;    // GetErrorText's copy, NUL included
  static constexpr int kPartLimit = 1024;  // longer parts are cut to 1023

  KT_ErrorReport();
  ~KT_ErrorReport();
  KT_ErrorReport(const KT_ErrorReport&) = delete;
  KT_ErrorReport& operator=(const KT_ErrorReport&) = delete;

  // Each setter replaces the whole report. Parts longer than 1024 characters
  // are cut to their first 1023; the caller's texts are never modified.
  void SetReport(const char* caption, const char* message);
  void SetReport(const char* caption, const char* message, const char* detail);
  void SetReportOnce(const char* caption, const char* message, std::int32_t code);
  void SetReportOnce(const char* caption, const char* message, const char* detail,
                     std::int32_t code);
  // Detail is the number as ">%d<".
  void SetReportNumber(const char* caption, const char* message, std::int32_t number);
  void SetReportNumberOnce(const char* caption, const char* message, std::int32_t number,
                           std::int32_t code);
  // The text alone, no caption and no length cut.
  void SetText(const char* text);
  void SetTextOnce(const char* text, std::int32_t code);

  // True when `code` was reported before (the report is to be dropped);
  // otherwise remembers it. Once 50 codes are remembered every call returns
  // false and nothing more is remembered.
  bool AlreadyReported(std::int32_t code);

  // The first 255 characters of the report, NUL-terminated; valid until the
  // next call on this object.
  const char* GetErrorText();

  int ReportedCount() const { return m_reportedCount; }
  std::size_t ReportLength() const { return m_report.size(); }

 private:
  void AppendPart(const char* part);

  char m_text[kTextSize];
  std::string m_report;
  std::int32_t m_reportedCodes[kMaxCodes];
  std::int32_t m_reportedCount;
  char m_numberText[16];  // ">-2147483648<" and its NUL fit in 14
};
