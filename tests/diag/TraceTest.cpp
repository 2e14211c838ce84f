#include "Trace.h"

#include <gtest/gtest.h>

#include <string>

using qrt::diag::CTraceCapture;

TEST(Trace, CaptureCollectsFormattedLinesAndRestoresPreviousSink) {
  std::string outer;
  auto previous = qrt::diag::SetTraceSink([&outer](std::string_view t) { outer.append(t); });
  {
    CTraceCapture capture;
    qrt::diag::TraceFormat("nNotUsedSize = %d\n", 256);
    qrt::diag::Trace("BankName = ");
    EXPECT_EQ(capture.Text(), "nNotUsedSize = 256\nBankName = ");
  }
  qrt::diag::Trace("after");
  EXPECT_EQ(outer, "after");
  qrt::diag::SetTraceSink(std::move(previous));
}

TEST(Trace, OverlongLineIsCutNotOverrun) {
  CTraceCapture capture;
  std::string longText(10000, 'x');
  qrt::diag::TraceFormat("%s", longText.c_str());
  EXPECT_EQ(capture.Text().size(), 4095u);
}
