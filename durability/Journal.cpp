#include "Journal.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace acidkit {

std::string journalStartLine(const JournalStart& s) {
  char line[160];
  snprintf(line, sizeof line,
           "start warehouses=%" PRId32 " next_o_id_sum=%lld history_rows=%lld connections=%d\n",
           s.warehouses, s.nextOrderIdSum, s.historyRows, s.connections);
  return line;
}

std::string journalOrderLine(const JournaledOrder& o) {
  char line[96];
  snprintf(line, sizeof line, "NO %" PRId32 " %" PRId32 " %" PRId32 " %" PRId32 " %" PRId32 "\n",
           o.w, o.d, o.o, o.c, o.lines);
  return line;
}

std::string journalPaymentLine(const JournaledPayment& p) {
  char line[128];
  snprintf(line, sizeof line, "P %" PRId32 " %" PRId32 " %" PRId32 " %lld %s\n", p.w, p.d, p.c,
           p.cents, p.date.c_str());
  return line;
}

std::string journalEndLine(const JournalEnd& e) {
  char line[128];
  snprintf(line, sizeof line, "end new_order_in_flight=%lld payment_in_flight=%lld seconds=%.2f\n",
           e.newOrderInFlight, e.paymentInFlight, e.seconds);
  return line;
}

namespace {

// sscanf that must consume the whole line.
template <typename... Args>
bool scanWhole(const std::string& line, const char* format, Args... args) {
  int used = -1;
  std::string withEnd = std::string(format) + "%n";
  int n = sscanf(line.c_str(), withEnd.c_str(), args..., &used);
  return n == static_cast<int>(sizeof...(Args)) && used == static_cast<int>(line.size());
}

bool validDate(const char* date) {
  int y, mo, d, h, mi, s, used = -1;
  return strlen(date) == 19 &&
         sscanf(date, "%4d-%2d-%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) == 6 &&
         used == 19;
}

}  // namespace

bool parseJournal(std::istream& in, Journal* journal, std::string* error) {
  *journal = Journal{};
  std::string line;
  int number = 0;
  bool started = false;
  auto fail = [&](const char* what) {
    *error = "line " + std::to_string(number) + ": " + what + ": \"" + line + "\"";
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (number == 1) {
      if (line != kJournalHeader) return fail("not a durability journal");
      continue;
    }
    if (journal->ended) return fail("a line after the end line");
    if (line.rfind("start ", 0) == 0) {
      if (started) return fail("a second start line");
      JournalStart& s = journal->start;
      if (!scanWhole(line,
                     "start warehouses=%" SCNd32
                     " next_o_id_sum=%lld history_rows=%lld connections=%d",
                     &s.warehouses, &s.nextOrderIdSum, &s.historyRows, &s.connections) ||
          s.warehouses < 1) {
        return fail("a start line that cannot be read");
      }
      started = true;
    } else if (!started) {
      return fail("no start line before it");
    } else if (line.rfind("NO ", 0) == 0) {
      JournaledOrder o;
      if (!scanWhole(line, "NO %" SCNd32 " %" SCNd32 " %" SCNd32 " %" SCNd32 " %" SCNd32, &o.w,
                     &o.d, &o.o, &o.c, &o.lines)) {
        return fail("a New-Order line that cannot be read");
      }
      journal->orders.push_back(o);
    } else if (line.rfind("P ", 0) == 0) {
      JournaledPayment p;
      char day[11] = {}, time[9] = {};
      if (!scanWhole(line, "P %" SCNd32 " %" SCNd32 " %" SCNd32 " %lld %10s %8s", &p.w, &p.d, &p.c,
                     &p.cents, day, time)) {
        return fail("a Payment line that cannot be read");
      }
      p.date = std::string(day) + " " + time;
      if (!validDate(p.date.c_str())) return fail("a Payment line with a date that cannot be read");
      journal->payments.push_back(p);
    } else if (line.rfind("end ", 0) == 0) {
      JournalEnd& e = journal->end;
      if (!scanWhole(line, "end new_order_in_flight=%lld payment_in_flight=%lld seconds=%lf",
                     &e.newOrderInFlight, &e.paymentInFlight, &e.seconds)) {
        return fail("an end line that cannot be read");
      }
      journal->ended = true;
    } else {
      return fail("not a line of a durability journal");
    }
  }
  if (number == 0) {
    *error = "the journal is empty";
    return false;
  }
  if (!started) {
    *error = "the journal has no start line";
    return false;
  }
  return true;
}

}  // namespace acidkit
