#include "ui/download_figures.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quorvane {
namespace {

DownloadCounts Counts(std::uint64_t bytes_expected, std::uint64_t bytes_received,
                      std::uint64_t files_expected, std::uint64_t files_received) {
  return DownloadCounts{bytes_expected, bytes_received, files_expected, files_received};
}

TEST(DownloadFigures, FirstSecondShowsZeroSpeedAndTime) {
  const DownloadFigures f =
      ComputeDownloadFigures(Counts(56'789'000, 1'234'567, 10, 3), 999, false);
  ASSERT_TRUE(f.in_progress);
  EXPECT_EQ(f.speed, "   0.000  ko/s");
  EXPECT_EQ(f.remaining_time, "Temps restant :00:00:00");
  EXPECT_EQ(f.amounts, "1234 ko/56789");
  EXPECT_EQ(f.files, "3 fichiers sur 10");
  EXPECT_EQ(f.percent, 2);
}

TEST(DownloadFigures, SpeedAmountsAndRemainingTimeInEnglish) {
  // 12345 bytes/s after 10 s; 876,550 bytes left take 71.0045 s.
  const DownloadFigures f = ComputeDownloadFigures(Counts(1'000'000, 123'450, 5, 1), 10'999, true);
  EXPECT_EQ(f.speed, "  12.345  ko/s");
  EXPECT_EQ(f.amounts, "123 ko/1000");
  EXPECT_EQ(f.remaining_time, "Time :00:01:11");
  EXPECT_EQ(f.files, "1 files of 5");
  EXPECT_EQ(f.percent, 12);
}

TEST(DownloadFigures, LargeCountsStayExact) {
  const DownloadFigures f =
      ComputeDownloadFigures(Counts(60'000'000, 30'000'000, 2, 1), 3'000, true);
  EXPECT_EQ(f.percent, 50);
  EXPECT_EQ(f.speed, "10000.000  ko/s");  // wider than 8: printf widens, never cuts
  EXPECT_EQ(f.amounts, "30000 ko/60000");
  EXPECT_EQ(f.remaining_time, "Time :00:00:03");
}

TEST(DownloadFigures, RemainingTimeWrapsAtADay) {
  // 1 byte/s with 90,061 bytes left: 25 h 1 min 1 s reads as 01:01:01.
  const DownloadFigures f = ComputeDownloadFigures(Counts(90'062, 1, 9, 0), 1'000, true);
  EXPECT_EQ(f.remaining_time, "Time :01:01:01");
  EXPECT_EQ(FormatTimeOfDay(86'400'000.0), "00:00:00");
  EXPECT_EQ(FormatTimeOfDay(3'599'999.6), "01:00:00");  // rounded to the millisecond
  EXPECT_EQ(FormatTimeOfDay(1e300).size(), 8u);
  EXPECT_EQ(FormatTimeOfDay(HUGE_VAL), "00:00:00");
}

TEST(DownloadFigures, NothingShownWhenDoneOrNothingExpected) {
  EXPECT_FALSE(ComputeDownloadFigures(Counts(100, 50, 3, 3), 5000, true).in_progress);
  EXPECT_FALSE(ComputeDownloadFigures(Counts(100, 100, 3, 2), 5000, true).in_progress);
  EXPECT_FALSE(ComputeDownloadFigures(Counts(0, 0, 0, 0), 5000, true).in_progress);
  const DownloadFigures done = ComputeDownloadFigures(Counts(100, 150, 3, 3), 5000, false);
  EXPECT_TRUE(done.speed.empty() && done.amounts.empty() && done.remaining_time.empty() &&
              done.files.empty());
}

TEST(DownloadFigures, ComparisonsAreUnsigned) {
  // A negative count passed by mistake reads as a huge one, not as "below".
  const auto minus_one = static_cast<std::uint64_t>(-1);
  EXPECT_FALSE(ComputeDownloadFigures(Counts(100, minus_one, 3, 1), 5000, true).in_progress);
  const DownloadFigures f = ComputeDownloadFigures(Counts(minus_one, 10, 3, 1), 5000, true);
  EXPECT_TRUE(f.in_progress);
  EXPECT_EQ(f.percent, 0);
}

TEST(DownloadFigures, AFinishedDownloadClosesAtAHundredPercent) {
  // The last file arrived while the byte estimate was not reached; bytes count
  // only when no file count came.
  for (const DownloadCounts& done :
       {Counts(4000, 3000, 4, 4), Counts(4000, 4000, 0, 0), Counts(4000, 5000, 4, 9)}) {
    EXPECT_FALSE(ComputeDownloadFigures(done, 5000, true).in_progress);
    EXPECT_TRUE(IsDownloadFinished(done));
  }
  EXPECT_FALSE(IsDownloadFinished(Counts(0, 0, 0, 0)));  // nothing expected yet
  EXPECT_FALSE(IsDownloadFinished(Counts(4000, 3999, 4, 3)));
  EXPECT_FALSE(
      IsDownloadFinished(Counts(4000, 4000, 7, 3)));  // more bytes than told, files missing
  const DownloadFigures f = FinalDownloadFigures(Counts(4000, 3000, 4, 4), true);
  EXPECT_EQ(f.percent, 100);
  EXPECT_FALSE(f.in_progress);
  EXPECT_EQ(f.files, "4 files of 4");
  EXPECT_EQ(f.amounts, "3 ko/4");
  EXPECT_EQ(f.speed, "");
  EXPECT_EQ(f.remaining_time, "");
  EXPECT_EQ(FinalDownloadFigures(Counts(4000, 4000, 4, 4), false).files, "4 fichiers sur 4");
}

}  // namespace
}  // namespace quorvane
