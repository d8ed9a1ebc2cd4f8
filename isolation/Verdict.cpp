#include "Verdict.h"

#include <cstdarg>
#include <cstdio>

#include "OutputLines.h"

namespace acidkit {

namespace {

std::string formatted(const char* format, va_list args) {
  char text[512];
  vsnprintf(text, sizeof text, format, args);
  return text;
}

}  // namespace

void Verdict::require(bool holds, const char* format, ...) {
  if (holds) return;
  va_list args;
  va_start(args, format);
  reasons_.push_back(formatted(format, args));
  va_end(args);
}

void Verdict::note(const char* format, ...) {
  va_list args;
  va_start(args, format);
  notes_.push_back(formatted(format, args));
  va_end(args);
}

void Verdict::ranToItsEnd(const TransactionRun& run, const char* name) {
  require(run.succeeded(), "%s failed, so what it read or wrote proves nothing", name);
}

void Verdict::overlapped(const TransactionRun& later, const char* laterLabel,
                         const TransactionRun& earlier, const char* earlierLabel) {
  if (!later.succeeded() || !earlier.succeeded()) return;
  double pauseEnded = earlier.trace.lastPauseEnded;
  require(pauseEnded >= 0,
          "%s took no pause, so %s never met it holding its locks: nothing was tested",
          earlierLabel, laterLabel);
  if (pauseEnded < 0) return;
  require(later.started < pauseEnded,
          "%s started %.2f s after %s's pause had ended, so it never met %s holding its locks: "
          "nothing was tested",
          laterLabel, later.started - pauseEnded, earlierLabel, earlierLabel);
}

void Verdict::waitedFor(const TransactionRun& later, const char* laterLabel,
                        const TransactionRun& earlier, const char* earlierLabel) {
  if (!later.succeeded() || !earlier.succeeded() || earlier.trace.lastPauseEnded < 0) return;
  double early = earlier.trace.lastPauseEnded - later.ended;
  require(early <= kWaitSlackSeconds,
          "%s did not wait for %s: it returned %.2f s before %s's pause ended", laterLabel,
          earlierLabel, early, earlierLabel);
}

void Verdict::noteRetries(const TransactionRun& run, const char* name) {
  if (run.trace.retries == 0) return;
  note("%s was rolled back after a deadlock or lock wait timeout and run again %d time%s", name,
       run.trace.retries, run.trace.retries == 1 ? "" : "s");
}

void Verdict::printReasons() const {
  if (passed()) return;
  for (const std::string& reason : reasons_) printf("%s%s\n", kReasonPrefix, reason.c_str());
  for (const std::string& note : notes_) printf("%s%s\n", kReasonPrefix, note.c_str());
}

}  // namespace acidkit
