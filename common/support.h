// Timestamped log lines shared by the transactions and the test programs.
// printWithTime and this source's name are fixed names; the rest is the
// kit's own.
#pragma once

#include <sys/time.h>

#include <cstdio>

// Writes "[YYYY-MM-DD HH:MM:SS.uuuuuu] message\n" with the local time, in one
// formatted write so that lines of concurrent threads never mix. No flush.
void printWithTime(const char* message);

namespace acidkit {

// The same line for a given time and stream (what printWithTime does with
// the current time and stdout).
void printWithTimeAt(FILE* out, const timeval& when, const char* message);

// Pause of a transaction: the pause text with the thread label for %s as a
// timestamped line, flushed, then a sleep of whole seconds (none for a
// negative number, which would otherwise last the better part of a century).
void pauseWithMessage(const char* format, const char* label, int seconds);

// Seconds on the monotonic clock: when things happened relative to each
// other, whatever the wall clock does meanwhile.
double monotonicSeconds();

// What the transaction calls of one thread did that their records do not
// show: the pauses they took and how often they were rolled back and run
// again. The isolation programs judge from it whether a transaction really
// held its locks across the pause that another one had to wait for.
struct CallTrace {
  int pauses = 0;
  double lastPauseStarted = -1;  // monotonic seconds; -1 before the first
  double lastPauseEnded = -1;
  int retries = 0;
  double lastRetryAt = -1;  // when the last rollback before a new attempt ended
};

// This thread's trace; reset it (= {}) before a call to see that call alone.
CallTrace& callTrace();
// Records in this thread's trace that a transaction was rolled back to run again.
void noteRetry();

}  // namespace acidkit
