#include "Parse.h"

#include <array>
#include <cstdio>
#include <iterator>

#include "OutputLines.h"

namespace acidkit {

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end == text.size() ? end : end + 1);
  }
  return lines;
}

namespace {

struct VerdictTexts {
  std::string passed;                        // the program's final passed line
  std::string failed;                        // its final failed line
  std::vector<std::string> failures;         // partial failures, failing on their own
  std::vector<std::string> failurePrefixes;  // failure lines that go on with a number
  std::vector<std::string> partial;          // partial successes, shown but not deciding
};

VerdictTexts textsOf(std::string_view program) {
  VerdictTexts t;
  if (program == "atom") {
    t.passed = kAllAtomicityTestsPassed;
    t.failed = kAtomicityTestsFailed;
    t.failures = {kAtomicityTestFailed, kAtomicityStepFailed};
    t.partial = {kAtomicityTestPassed};
  } else if (program == "consist") {
    t.passed = kAllConsistencyTestsPassed;
    t.failed = kConsistencyTestsFailed;
    t.failures = {kConsistencyStepFailed};
    for (int k = 1; k <= kConsistencyConditions; ++k) {
      t.failures.push_back(consistencyConditionFailedLine(k));
      t.partial.push_back(consistencyTestPassedLine(k));
    }
  } else if (program.starts_with("isolation") && program.size() == 10 && program[9] >= '1' &&
             program[9] <= '9') {
    t.passed = isolationVerdictLine(program[9] - '0', true);
    t.failed = isolationVerdictLine(program[9] - '0', false);
    t.failures.assign(std::begin(kIsolationFailureLines), std::end(kIsolationFailureLines));
    t.failurePrefixes.assign(std::begin(kIsolationFailurePrefixes),
                             std::end(kIsolationFailurePrefixes));
  }
  return t;
}

bool contains(const std::vector<std::string>& texts, std::string_view line) {
  for (const std::string& t : texts) {
    if (t == line) return true;
  }
  return false;
}

bool startsWithAny(const std::vector<std::string>& prefixes, std::string_view line) {
  for (const std::string& p : prefixes) {
    if (line.starts_with(p)) return true;
  }
  return false;
}

}  // namespace

VerdictResult findVerdict(std::string_view program, std::string_view output) {
  VerdictTexts texts = textsOf(program);
  VerdictResult r;
  if (texts.passed.empty()) return r;  // not a program of the suite
  bool passedLine = false, failedLine = false;
  std::string firstFailure;
  for (std::string_view line : splitLines(output)) {
    if (line.starts_with(kReasonPrefix)) {
      r.reasons.emplace_back(line.substr(std::string_view(kReasonPrefix).size()));
    } else if (line == texts.passed) {
      passedLine = true;
    } else if (line == texts.failed) {
      failedLine = true;
    } else if (contains(texts.failures, line) || startsWithAny(texts.failurePrefixes, line)) {
      if (firstFailure.empty()) firstFailure = line;
      r.failures.emplace_back(line);
    } else if (!contains(texts.partial, line)) {
      continue;
    }
    r.lines.emplace_back(line);
  }
  // A failure anywhere outweighs a passed line: the programs never print
  // both, so both together mean the output cannot be trusted.
  if (failedLine || !firstFailure.empty() || !r.reasons.empty()) {
    r.verdict = Verdict::kFailed;
    r.headline = failedLine              ? texts.failed
                 : !firstFailure.empty() ? firstFailure
                                         : std::string(kReasonPrefix) + r.reasons.front();
  } else if (passedLine) {
    r.verdict = Verdict::kPassed;
    r.headline = texts.passed;
  }
  return r;
}

namespace {

// Reads `width` digits at `at`; -1 when any is not a digit.
int digits(std::string_view s, size_t at, size_t width) {
  int value = 0;
  for (size_t i = at; i < at + width; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    value = value * 10 + (s[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  long long era = (y >= 0 ? y : y - 399) / 400;
  long long yoe = y - era * 400;
  long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

std::optional<Stamped> parseStamped(std::string_view line) {
  // [2024-01-07 09:05:03.000042] text
  // 0    5  8  11 14 17 20     27
  constexpr size_t kPrefix = 29;
  if (line.size() < kPrefix - 1 || line[0] != '[' || line[5] != '-' || line[8] != '-' ||
      line[11] != ' ' || line[14] != ':' || line[17] != ':' || line[20] != '.' || line[27] != ']') {
    return std::nullopt;
  }
  int year = digits(line, 1, 4), month = digits(line, 6, 2), day = digits(line, 9, 2);
  int hour = digits(line, 12, 2), minute = digits(line, 15, 2), second = digits(line, 18, 2);
  int micro = digits(line, 21, 6);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 60 || micro < 0) {
    return std::nullopt;
  }
  // printWithTime always puts one blank and a text behind the bracket.
  if (line.size() < kPrefix || line[28] != ' ') return std::nullopt;
  Stamped s;
  long long seconds =
      daysFromCivil(year, month, day) * 86400LL + hour * 3600LL + minute * 60LL + second;
  s.micros = seconds * 1000000LL + micro;
  s.text = line.substr(kPrefix);
  return s;
}

namespace {

// "T" and one or two digits at the start of `text`; its length, or 0.
size_t laneLabelLength(std::string_view text) {
  if (text.size() < 2 || text[0] != 'T' || text[1] < '0' || text[1] > '9') return 0;
  return text.size() > 2 && text[2] >= '0' && text[2] <= '9' ? 3 : 2;
}

// "T1(New-Order) start" / "T1(New-Order) end", or "- T1 paused ...".
std::optional<LaneEvent> laneEventOf(std::string_view text) {
  LaneEvent e;
  if (text.starts_with("- ")) {
    std::string_view rest = text.substr(2);
    size_t n = laneLabelLength(rest);
    if (n == 0 || !rest.substr(n).starts_with(" paused")) return std::nullopt;
    e.lane = rest.substr(0, n);
    e.mark = Mark::kPause;
    return e;
  }
  size_t n = laneLabelLength(text);
  if (n == 0 || text.size() <= n || text[n] != '(') return std::nullopt;
  size_t close = text.rfind(") ");
  if (close == std::string_view::npos || close < n) return std::nullopt;
  std::string_view what = text.substr(close + 2);
  if (what == "start") {
    e.mark = Mark::kStart;
  } else if (what == "end") {
    e.mark = Mark::kEnd;
  } else {
    return std::nullopt;
  }
  e.lane = text.substr(0, n);
  e.name = text.substr(n + 1, close - n - 1);
  return e;
}

}  // namespace

Timeline parseTimeline(std::string_view output) {
  Timeline t;
  std::optional<long long> origin;
  for (std::string_view line : splitLines(output)) {
    std::optional<Stamped> s = parseStamped(line);
    if (!s) continue;
    if (!origin) {
      origin = s->micros;
      t.origin = line.substr(1, 26);
    }
    double seconds = static_cast<double>(s->micros - *origin) / 1e6;
    if (seconds > t.lastSeconds) t.lastSeconds = seconds;
    std::optional<LaneEvent> e = laneEventOf(s->text);
    if (!e) continue;
    e->seconds = seconds;
    e->text = line;
    t.events.push_back(std::move(*e));
  }
  return t;
}

const char* verdictName(Verdict v) {
  switch (v) {
    case Verdict::kPassed:
      return "passed";
    case Verdict::kFailed:
      return "failed";
    case Verdict::kMissing:
      break;
  }
  return "missing";
}

}  // namespace acidkit
