// The timestamped line and the pause line.
#include <gtest/gtest.h>
#include <sql.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "support.h"

namespace {

using acidkit::pauseWithMessage;
using acidkit::printWithTimeAt;

std::string lineAt(const timeval& when, const char* message) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  printWithTimeAt(out, when, message);
  fclose(out);
  std::string line(buffer, size);
  free(buffer);
  return line;
}

time_t utc(int year, int month, int day, int hour, int minute, int second) {
  tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return timegm(&t);
}

class TimestampTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

TEST_F(TimestampTest, EveryFieldIsZeroFilledToItsWidth) {
  struct Case {
    timeval when;
    const char* expected;
  } cases[] = {
      {{utc(2026, 1, 7, 9, 5, 3), 42}, "[2026-01-07 09:05:03.000042] T1(New-Order) start\n"},
      {{utc(2026, 12, 31, 23, 59, 59), 999999},
       "[2026-12-31 23:59:59.999999] T1(New-Order) start\n"},
      {{utc(2027, 1, 1, 0, 0, 0), 0}, "[2027-01-01 00:00:00.000000] T1(New-Order) start\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(lineAt(c.when, "T1(New-Order) start"), c.expected);
}

TEST_F(TimestampTest, LocalTimeIsUsed) {
  setenv("TZ", "EST5", 1);  // five hours behind UTC, no daylight saving
  tzset();
  EXPECT_EQ(lineAt({utc(2026, 1, 7, 9, 5, 3), 42}, "x"), "[2026-01-07 04:05:03.000042] x\n");
}

TEST(PauseTest, PrintsTheTextWithTheLabelAndSleepsTheWholeSeconds) {
  testing::internal::CaptureStdout();
  time_t before = time(nullptr);
  pauseWithMessage("- %s paused prior to rollback", "T1", 1);
  time_t after = time(nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_GE(after - before, 1);
  ASSERT_EQ(out.back(), '\n');
  EXPECT_NE(out.find("] - T1 paused prior to rollback\n"), std::string::npos) << out;
}

TEST(PauseTest, NegativeSecondsPrintTheTextAndDoNotSleep) {
  testing::internal::CaptureStdout();
  time_t before = time(nullptr);
  pauseWithMessage("- %s paused after scanning first item (x)", "T2", -1);
  EXPECT_LE(time(nullptr) - before, 1);
  EXPECT_NE(
      testing::internal::GetCapturedStdout().find("- T2 paused after scanning first item (x)"),
      std::string::npos);
}

TEST(PauseTest, LongestPauseTextWithThreeCharacterLabelIsWhole) {
  testing::internal::CaptureStdout();
  pauseWithMessage("- %s paused after reading the NEW-ORDER table for selected district.", "T10",
                   0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("- T10 paused after reading the NEW-ORDER table for selected district.\n"),
            std::string::npos);
}

}  // namespace
