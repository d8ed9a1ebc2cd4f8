// The durability test's journal ("success file"): what `durability run`
// knew to be committed, written by the client as each commit is
// acknowledged, and read back by `durability verify` after the database has
// come back. One line per fact, plain text, so that a person can read it and
// another program can count its commits while the run goes on:
//
//   acidkit durability journal 1
//   start warehouses=2 next_o_id_sum=60020 history_rows=60000 connections=8
//   NO 2 7 3225 12 5                    W_ID D_ID O_ID C_ID O_OL_CNT
//   P 1 3 2456 123456 2026-12-11 12:00:00   W_ID D_ID C_ID cents H_DATE
//   end new_order_in_flight=4 payment_in_flight=4 seconds=5.20
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace acidkit {

inline constexpr char kJournalHeader[] = "acidkit durability journal 1";

// What the database held before the first transaction of the run: new
// orders and payments since then are counted from these.
struct JournalStart {
  int32_t warehouses = 0;        // the stream drew W_ID from 1 to this
  long long nextOrderIdSum = 0;  // sum of D_NEXT_O_ID over those warehouses
  long long historyRows = 0;     // rows of HISTORY
  int connections = 0;
};

// An acknowledged New-Order: its order, with O_OL_CNT lines.
struct JournaledOrder {
  int32_t w = 0, d = 0, o = 0, c = 0, lines = 0;
};

// An acknowledged Payment: the HISTORY row it inserted, told by its customer
// (at the customer's own warehouse and district), amount and date.
struct JournaledPayment {
  int32_t w = 0, d = 0, c = 0;
  long long cents = 0;
  std::string date;  // YYYY-MM-DD HH:MM:SS
};

// Calls that did not return success once the stream ended: their commit may
// or may not have happened (the connection broke in the middle of them, or
// they failed while the database answered).
struct JournalEnd {
  long long newOrderInFlight = 0;
  long long paymentInFlight = 0;
  double seconds = 0;
};

struct Journal {
  JournalStart start;
  std::vector<JournaledOrder> orders;
  std::vector<JournaledPayment> payments;
  bool ended = false;  // the end line was written: the run ended normally
  JournalEnd end;
};

// The lines, each with its newline.
std::string journalStartLine(const JournalStart& start);
std::string journalOrderLine(const JournaledOrder& order);
std::string journalPaymentLine(const JournaledPayment& payment);
std::string journalEndLine(const JournalEnd& end);

// Reads a whole journal; false with *error ("line N: ...") when a line is not
// one of the above. A journal cut off after its last full line (the run was
// itself killed) reads with ended false.
bool parseJournal(std::istream& in, Journal* journal, std::string* error);

}  // namespace acidkit
