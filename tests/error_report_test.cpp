// Tests of KT_ErrorReport: report forms, the length cut and once-only codes.
#include <gtest/gtest.h>

#include <string>

#include "errors/KT_ErrorReport.h"

TEST(KT_ErrorReport, FreshReportIsEmpty) {
  KT_ErrorReport report;
  EXPECT_STREQ(report.GetErrorText(), "");
}

TEST(KT_ErrorReport, ReportForms) {
  KT_ErrorReport report;
  report.SetReport("CTrnShm::CTrnShm", "Shared Memory Version Mismatch\nPlease rebuild software");
  EXPECT_STREQ(report.GetErrorText(),
               "CTrnShm::CTrnShm\nShared Memory Version Mismatch\nPlease rebuild software");
  report.SetReport("a", "b", "c");
  EXPECT_STREQ(report.GetErrorText(), "a\nb\nc");
  report.SetReportNumber("cap", "msg", -5);
  EXPECT_STREQ(report.GetErrorText(), "cap\nmsg\n>-5<");
  report.SetReportNumber("cap", "msg", INT32_MIN);
  EXPECT_STREQ(report.GetErrorText(), "cap\nmsg\n>-2147483648<");
  report.SetText("plain");
  EXPECT_STREQ(report.GetErrorText(), "plain");
}

// A caller's text used to be cut in place, which faults on a constant text.
TEST(KT_ErrorReport, LongPartIsCutWithoutTouchingTheCallersText) {
  struct Case {
    std::size_t length;
    std::size_t kept;
  };
  for (const Case c : {Case{1023, 1023}, Case{1024, 1024}, Case{1025, 1023}, Case{5000, 1023}}) {
    const std::string message(c.length, 'm');
    KT_ErrorReport report;
    report.SetReport("c", message.c_str());
    EXPECT_EQ(report.ReportLength(), 2 + c.kept) << c.length;
    report.SetReport("c", "d", message.c_str());
    EXPECT_EQ(report.ReportLength(), 4 + c.kept) << c.length;
    report.SetText(message.c_str());
    EXPECT_EQ(report.ReportLength(), c.length) << "plain text is never cut";
    EXPECT_EQ(message.size(), c.length) << "caller's text changed";
  }
}

TEST(KT_ErrorReport, GetErrorTextKeepsFirst255Characters) {
  KT_ErrorReport report;
  const std::string text(300, 'z');
  report.SetText(text.c_str());
  EXPECT_EQ(std::string(report.GetErrorText()), std::string(255, 'z'));
}

TEST(KT_ErrorReport, OnceOnlyCodes) {
  KT_ErrorReport report;
  report.SetReportOnce("first", "m", 7);
  report.SetReportOnce("second", "m", 7);
  EXPECT_STREQ(report.GetErrorText(), "first\nm");
  report.SetTextOnce("other code", 8);
  EXPECT_STREQ(report.GetErrorText(), "other code");
  report.SetReportNumberOnce("n", "m", 1, 8);
  EXPECT_STREQ(report.GetErrorText(), "other code");
}

TEST(KT_ErrorReport, AfterFiftyCodesEveryReportGoesThrough) {
  KT_ErrorReport report;
  for (int code = 0; code < KT_ErrorReport::kMaxCodes; ++code) {
    EXPECT_FALSE(report.AlreadyReported(code));
  }
  EXPECT_EQ(report.ReportedCount(), 50);
  report.SetReportOnce("fifty-first", "m", 1000);
  EXPECT_STREQ(report.GetErrorText(), "fifty-first\nm");
  report.SetReportOnce("repeat", "m", 0);
  EXPECT_STREQ(report.GetErrorText(), "repeat\nm");
  EXPECT_EQ(report.ReportedCount(), 50);
}
