#include "support.h"

#include <unistd.h>

#include <ctime>

namespace acidkit {

void printWithTimeAt(FILE* out, const timeval& when, const char* message) {
  time_t seconds = when.tv_sec;
  tm local{};
  localtime_r(&seconds, &local);  // own result per call: threads log at once
  fprintf(out, "[%04d-%02d-%02d %02d:%02d:%02d.%06ld] %s\n", local.tm_year + 1900, local.tm_mon + 1,
          local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<long>(when.tv_usec),
          message);
}

}  // namespace acidkit

void printWithTime(const char* message) {
  timeval now{};
  gettimeofday(&now, nullptr);
  acidkit::printWithTimeAt(stdout, now, message);
}

namespace acidkit {

void pauseWithMessage(const char* format, const char* label, int seconds) {
  char text[128];  // longest pause text with a 3-character label fits
  snprintf(text, sizeof text, format, label);
  printWithTime(text);
  fflush(stdout);
  CallTrace& trace = callTrace();
  ++trace.pauses;
  trace.lastPauseStarted = monotonicSeconds();
  // A signal may cut sleep short; the pause is only over when its time is.
  for (unsigned left = seconds > 0 ? seconds : 0; left > 0;) left = sleep(left);
  trace.lastPauseEnded = monotonicSeconds();
}

double monotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

CallTrace& callTrace() {
  thread_local CallTrace trace;
  return trace;
}

void noteRetry() {
  CallTrace& trace = callTrace();
  ++trace.retries;
  trace.lastRetryAt = monotonicSeconds();
}

}  // namespace acidkit
