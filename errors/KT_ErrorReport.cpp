// KT_ErrorReport: last-failure report of shared components.
// Threading: owner's thread only.
#include "errors/KT_ErrorReport.h"

#include <cstdio>
#include <cstring>

const char g_szKT_ErrorReportRevision[] =
    "%Z% KT_ErrorReport KT2104:02 KT_ErrorReport $Revision: 1.1 $";

KT_ErrorReport::KT_ErrorReport()
    : m_text{}, m_reportedCodes{}, m_reportedCount(0), m_numberText{} {}

KT_ErrorReport::~KT_ErrorReport() {
  m_report.clear();
  m_report.shrink_to_fit();
}

void KT_ErrorReport::AppendPart(const char* part) {
  if (part == nullptr) {
    return;
  }
  // A part of exactly 1024 characters stays whole; a longer one keeps 1023.
  // The cut is made on our copy so that constant or shared caller texts are
  // left as they were.
  std::size_t length = std::strlen(part);
  if (length > static_cast<std::size_t>(kPartLimit)) {
    length = kPartLimit - 1;
  }
  m_report.append(part, length);
}

void KT_ErrorReport::SetReport(const char* caption, const char* message) {
  m_report.clear();
  AppendPart(caption);
  m_report.push_back('\n');
  AppendPart(message);
}

void KT_ErrorReport::SetReport(const char* caption, const char* message, const char* detail) {
  SetReport(caption, message);
  m_report.push_back('\n');
  AppendPart(detail);
}

void KT_ErrorReport::SetReportOnce(const char* caption, const char* message, std::int32_t code) {
  if (!AlreadyReported(code)) {
    SetReport(caption, message);
  }
}

void KT_ErrorReport::SetReportOnce(const char* caption, const char* message, const char* detail,
                                   std::int32_t code) {
  if (!AlreadyReported(code)) {
    SetReport(caption, message, detail);
  }
}

void KT_ErrorReport::SetReportNumber(const char* caption, const char* message,
                                     std::int32_t number) {
  std::snprintf(m_numberText, sizeof m_numberText, ">%d<", static_cast<int>(number));
  SetReport(caption, message, m_numberText);
}

void KT_ErrorReport::SetReportNumberOnce(const char* caption, const char* message,
                                         std::int32_t number, std::int32_t code) {
  if (!AlreadyReported(code)) {
    SetReportNumber(caption, message, number);
  }
}

void KT_ErrorReport::SetText(const char* text) { m_report.assign(text != nullptr ? text : ""); }

void KT_ErrorReport::SetTextOnce(const char* text, std::int32_t code) {
  if (!AlreadyReported(code)) {
    SetText(text);
  }
}

bool KT_ErrorReport::AlreadyReported(std::int32_t code) {
  if (m_reportedCount >= kMaxCodes) {
    return false;
  }
  for (int i = 0; i < m_reportedCount; ++i) {
    if (m_reportedCodes[i] == code) {
      return true;
    }
  }
  m_reportedCodes[m_reportedCount++] = code;
  return false;
}

const char* KT_ErrorReport::GetErrorText() {
  const std::size_t n = m_report.size() < static_cast<std::size_t>(kTextSize)
                            ? m_report.size()
                            : static_cast<std::size_t>(kTextSize);
  std::memcpy(m_text, m_report.data(), n);
  if (n < static_cast<std::size_t>(kTextSize)) {
    m_text[n] = '\0';
  }
  m_text[kTextSize - 1] = '\0';
  return m_text;
}
