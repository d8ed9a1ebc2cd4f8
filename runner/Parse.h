// Reading the programs' output: verdict lines and timestamped lines. Pure
// functions of the text, so that they can be checked on recorded output.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace acidkit {

std::vector<std::string_view> splitLines(std::string_view text);

enum class Verdict { kPassed, kFailed, kMissing };
// "passed", "failed", "missing" (report.json's words).
const char* verdictName(Verdict v);

struct VerdictResult {
  Verdict verdict = Verdict::kMissing;
  // Every line that speaks about the outcome, in output order: the final
  // verdict and the partial ones ("Test passed", "Failed consistency
  // condition 2", "Customer balance incorrect", ...).
  std::vector<std::string> lines;
  // The line that decides: the final failed line, else the first partial
  // failure, else the passed line; empty when there is no verdict line.
  std::string headline;
  // Why it failed: the text of each "Reason: " line, in output order (also
  // in `lines`, whole).
  std::vector<std::string> reasons;
  // The partial failure lines ("Failed consistency condition 2", "Error
  // New Order Transaction!", ...), in output order.
  std::vector<std::string> failures;
};

// program: "consist", "atom" or "isolation1".."isolation9". A program's
// output passes only with its own passed line and no failure line; one
// without any verdict line counts as failed (kMissing).
VerdictResult findVerdict(std::string_view program, std::string_view output);

// "[YYYY-MM-DD HH:MM:SS.uuuuuu] text": the local time as microseconds on a
// day count from 1970-01-01 (only differences matter) and the text.
struct Stamped {
  long long micros = 0;
  std::string_view text;
};
std::optional<Stamped> parseStamped(std::string_view line);

enum class Mark { kStart, kPause, kEnd };

struct LaneEvent {
  std::string lane;  // "T0".."T4"
  Mark mark = Mark::kStart;
  double seconds = 0;  // since the first timestamped line of the output
  std::string name;    // transaction name of start and end lines, e.g. "New-Order"
  std::string text;    // the whole timestamped line
};

struct Timeline {
  std::string origin;      // time of the first timestamped line, "YYYY-MM-DD HH:MM:SS.uuuuuu"
  double lastSeconds = 0;  // of the last timestamped line
  std::vector<LaneEvent> events;  // in output order
};

// Start lines "T1(New-Order) start", end lines "T1(New-Order) end" and pause
// lines "- T1 paused ..." become events of their lane; other lines are
// skipped.
Timeline parseTimeline(std::string_view output);

}  // namespace acidkit
