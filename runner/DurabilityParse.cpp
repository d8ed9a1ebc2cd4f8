// Reading what `durability run`, `durability verify` and `refdb start` print,
// and counting a journal's commits while it grows.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Durability.h"
#include "Format.h"
#include "OutputLines.h"
#include "Parse.h"

namespace acidkit {

namespace {

// The whole line must match: trailing words mean another line than ours.
bool scanWhole(const std::string& line, const char* format, long long* a, long long* b,
               long long* c, double* x = nullptr, double* y = nullptr) {
  int end = -1;
  int got = x != nullptr ? sscanf(line.c_str(), format, a, b, c, x, y, &end)
                         : sscanf(line.c_str(), format, a, b, c, &end);
  return got == (x != nullptr ? 5 : 3) && end == static_cast<int>(line.size());
}

bool wholeNumber(const std::string& token, long long* value) {
  if (token.empty() || token.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = strtoll(token.c_str(), nullptr, 10);
  return true;
}

}  // namespace

std::string terminalLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
    line.remove_suffix(1);
  }
  if (size_t cr = line.rfind('\r'); cr != std::string_view::npos) line.remove_prefix(cr + 1);
  std::string shown;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\033' && i + 1 < line.size() && line[i + 1] == '[') {
      i += 2;
      while (i < line.size() && (line[i] < 0x40 || line[i] > 0x7e)) ++i;
      continue;
    }
    shown += line[i];
  }
  size_t first = shown.find_first_not_of(" \t");
  return first == std::string::npos ? "" : shown.substr(first);
}

RunTally parseRunTally(std::string_view output) {
  RunTally t;
  for (std::string_view view : splitLines(output)) {
    const std::string line(terminalLine(view));
    RunTally next = t;
    if (scanWhole(line,
                  "Acknowledged commits: %lld (New-Order %lld, Payment %lld) in %lf s, %lf per "
                  "second%n",
                  &next.acknowledged, &next.acknowledgedNewOrder, &next.acknowledgedPayment,
                  &next.seconds, &next.perSecond)) {
      next.acknowledgedFound = true;
      t = next;
    } else if (scanWhole(
                   line,
                   "In flight when the connections broke: %lld (New-Order %lld, Payment %lld)%n",
                   &next.inFlight, &next.inFlightNewOrder, &next.inFlightPayment)) {
      next.inFlightFound = true;
      t = next;
    }
  }
  return t;
}

VerifyReport parseVerifyReport(std::string_view output) {
  VerifyReport r;
  bool newOrderSeen = false, paymentSeen = false, passedSeen = false, failedSeen = false;
  for (std::string_view view : splitLines(output)) {
    const std::string line(terminalLine(view));
    if (line == kDurabilityTestPassed) {
      passedSeen = true;
      continue;
    }
    if (line == kDurabilityTestFailed) {
      failedSeen = true;
      continue;
    }
    if (line.starts_with(kReasonPrefix)) {
      r.reasons.push_back(line.substr(std::string_view(kReasonPrefix).size()));
      continue;
    }
    if (line.starts_with(kMissingCommitPrefix)) {
      r.missing.push_back(line.substr(std::string_view(kMissingCommitPrefix).size()));
      continue;
    }
    std::istringstream words(line);
    std::string label;
    words >> label;
    if (label != "New-Order" && label != "Payment") continue;
    std::vector<std::string> rest;
    for (std::string w; words >> w;) rest.push_back(w);
    // A row holds figures only; a line of words that starts with the same
    // name is not one.
    if (rest.empty() || rest[0].find_first_of("0123456789") == std::string::npos) continue;
    long long n[5] = {};
    bool numbers = rest.size() == 5;
    for (size_t i = 0; numbers && i < 5; ++i) numbers = wholeNumber(rest[i], &n[i]);
    if (!numbers) {
      r.problems.push_back("the " + label +
                           " row of the table does not hold five whole numbers: '" + line + "'");
      continue;
    }
    bool& seen = label == "New-Order" ? newOrderSeen : paymentSeen;
    if (seen) {
      r.problems.push_back("the table has two " + label + " rows");
      continue;
    }
    seen = true;
    VerifyRow& row = label == "New-Order" ? r.newOrder : r.payment;
    row = VerifyRow{n[0], n[1], n[2], n[3], n[4]};
    if (row.found + row.missing != row.acknowledged) {
      r.problems.push_back(
          format("the %s row does not add up: found %lld + missing %lld is not "
                 "acknowledged %lld",
                 label.c_str(), row.found, row.missing, row.acknowledged));
    }
  }
  r.tableFound = newOrderSeen && paymentSeen;
  if (passedSeen && failedSeen) {
    r.problems.push_back("it printed both verdict lines");
    r.verdict = Verdict::kFailed;
  } else if (passedSeen || failedSeen) {
    r.verdict = passedSeen ? Verdict::kPassed : Verdict::kFailed;
  }
  if (r.verdict == Verdict::kPassed &&
      (total(r).missing > 0 || !r.missing.empty() || !r.reasons.empty())) {
    r.problems.push_back("it passed, yet its table, Missing or Reason lines tell of lost commits");
  }
  return r;
}

VerifyRow total(const VerifyReport& report) {
  const VerifyRow& a = report.newOrder;
  const VerifyRow& b = report.payment;
  return {a.acknowledged + b.acknowledged, a.found + b.found, a.missing + b.missing,
          a.inFlight + b.inFlight, a.inFlightCommitted + b.inFlightCommitted};
}

std::optional<double> parseRecoverySeconds(std::string_view output) {
  static constexpr std::string_view kText = "recovered from the crash in ";
  std::optional<double> seconds;
  for (std::string_view view : splitLines(output)) {
    const std::string line = terminalLine(view);
    size_t at = line.find(kText);
    if (at == std::string_view::npos) continue;
    const std::string rest = line.substr(at + kText.size());
    if (rest.empty() || (rest[0] < '0' || rest[0] > '9')) continue;
    char* end = nullptr;
    double value = strtod(rest.c_str(), &end);
    if (std::string_view(end).starts_with(" s")) seconds = value;
  }
  return seconds;
}

long long JournalCounter::update() {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return count_;  // not written yet
  in.seekg(offset_);
  std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  offset_ += static_cast<long long>(chunk.size());
  partial_ += chunk;
  size_t from = 0;
  for (size_t nl; (nl = partial_.find('\n', from)) != std::string::npos; from = nl + 1) {
    std::string_view line(partial_.data() + from, nl - from);
    if (line.starts_with("NO ") || line.starts_with("P ")) ++count_;
  }
  partial_.erase(0, from);
  return count_;
}

}  // namespace acidkit
