// TPC-C atomicity test: a Payment committed, then a Payment rolled back, each
// for a customer drawn at random. The customer's, district's and warehouse's
// rows are read before and after on the program's own connection; the commit
// must change them, the rollback must leave no trace.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <string>

#include "AtomStatements.h"
#include "Odbc.h"
#include "OutputLines.h"
#include "Payment.h"
#include "PrintDiagnosticRecord.h"
#include "ProgramFrame.h"
#include "config.h"

namespace {

using acidkit::OdbcStatement;
using acidkit::printUnderlined;
using acidkit::succeeded;

constexpr const char* kFailed = acidkit::kAtomicityStepFailed;

enum Read { kCustomer, kDistrict, kWarehouse };

// What the three procedures return, in the order of their output parameters.
struct Rows {
  int32_t customer[4];
  double customerAmount[2];
  int32_t district[2];
  double districtAmount;
  int32_t warehouse;
  double warehouseAmount;
};

// The three reads on gDbc. A handle whose freeing failed stays readable for
// its diagnostics and is not freed again.
struct Reads {
  OdbcStatement stmt[3];
};

struct Param {
  SQLSMALLINT io;
  bool amount;  // double as NUMERIC(15,2), else a 32-bit integer
  void* value;
};

bool prepareRead(Reads& r, Read i, const char* text, std::initializer_list<Param> params) {
  if (!r.stmt[i].allocate(gDbc)) return false;
  SQLHSTMT s = r.stmt[i].get();
  if (!succeeded(SQLPrepare(s, (SQLCHAR*)text, SQL_NTS))) return false;
  SQLUSMALLINT n = 0;
  for (const Param& p : params) {
    ++n;
    SQLRETURN rc =
        p.amount
            ? SQLBindParameter(s, n, p.io, SQL_C_DOUBLE, SQL_NUMERIC, 15, 2, p.value, 0, nullptr)
            : SQLBindParameter(s, n, p.io, SQL_C_SLONG, SQL_INTEGER, 0, 0, p.value, 0, nullptr);
    if (!succeeded(rc)) return false;
  }
  return true;
}

// Frees warehouse, district, customer; false at the first that fails, the
// rest being left to the failure path.
bool freeReads(Reads& r) {
  for (int i : {kWarehouse, kDistrict, kCustomer}) {
    if (!r.stmt[i].release()) return false;
  }
  return true;
}

// `why`: the step that failed, for the reason line after the diagnostics.
int failTest(Reads& r, const char* why) {
  for (int i : {kCustomer, kDistrict, kWarehouse}) {
    if (r.stmt[i].get() != SQL_NULL_HSTMT) PrintDiagnosticRecord(SQL_HANDLE_STMT, r.stmt[i].get());
  }
  for (int i : {kWarehouse, kDistrict, kCustomer}) r.stmt[i].release();
  printf("%s%s\n", acidkit::kReasonPrefix, why);
  puts(kFailed);
  return 1;
}

// Prints the heading, executes the read and prints its row.
bool readRow(const Reads& r, Read i, const char* heading, const Rows& v) {
  printUnderlined(heading);
  if (!succeeded(SQLExecute(r.stmt[i].get()))) return false;
  switch (i) {
    case kCustomer:
      printf("%4d, %2d, %4d, %4d, %14.2lf, %14.2lf\n\n", v.customer[0], v.customer[1],
             v.customer[2], v.customer[3], v.customerAmount[0], v.customerAmount[1]);
      break;
    case kDistrict:
      printf("%4d, %2d, %14.2lf\n\n", v.district[0], v.district[1], v.districtAmount);
      break;
    case kWarehouse:
      printf("%4d, %14.2lf\n\n", v.warehouse, v.warehouseAmount);
      break;
  }
  return true;
}

// The values a Payment changes or that stay fixed, as "what: before -> after"
// for each that differs; the customer's second and fourth integers are
// printed only. != also counts a NaN as a difference.
std::string comparedDifferences(const Rows& a, const Rows& b) {
  std::string out;
  auto compare = [&out](const char* what, double before, double after, const char* format) {
    if (before == after) return;
    char text[128];
    snprintf(text, sizeof text, format, what, before, after);
    out += out.empty() ? text : std::string(", ") + text;
  };
  const char* kInt = "%s %.0f -> %.0f";
  const char* kAmount = "%s %.2f -> %.2f";
  compare("customer value 1", a.customer[0], b.customer[0], kInt);
  compare("customer value 3", a.customer[2], b.customer[2], kInt);
  compare("customer amount 1", a.customerAmount[0], b.customerAmount[0], kAmount);
  compare("customer amount 2", a.customerAmount[1], b.customerAmount[1], kAmount);
  compare("district value 1", a.district[0], b.district[0], kInt);
  compare("district value 2", a.district[1], b.district[1], kInt);
  compare("district amount", a.districtAmount, b.districtAmount, kAmount);
  compare("warehouse value", a.warehouse, b.warehouse, kInt);
  compare("warehouse amount", a.warehouseAmount, b.warehouseAmount, kAmount);
  return out;
}

void printPaymentRecord(const PaymentArg& p) {
  printf(
      "%-20s, %-20s, %-20s, %2s, %9s, %21s, %-20s, %-20s, %-20s, %2s, \n%9s, %4d, %16s, %2s, "
      "%-16s, %-20s, %-20s, %-20s, %2s, %9s, \n%16s, %2s, %14.2lf, %8.4lf, %14.2lf, %21s, "
      "%200s\n\n",
      p.W_STREET_1, p.W_STREET_2, p.W_CITY, p.W_STATE, p.W_ZIP, p.H_DATE, p.D_STREET_1,
      p.D_STREET_2, p.D_CITY, p.D_STATE, p.D_ZIP, p.C_ID, p.C_FIRST, p.C_MIDDLE, p.C_LAST,
      p.C_STREET_1, p.C_STREET_2, p.C_CITY, p.C_STATE, p.C_ZIP, p.C_PHONE, p.C_CREDIT,
      p.C_CREDIT_LIM, p.C_DISCOUNT, p.C_BALANCE, p.C_SINCE, p.C_DATA);
}

// One test: mode 0 commits the Payment, mode 1 rolls it back. 0 when the
// test passed, 1 when it failed or a step failed.
int doTest(int mode) {
  int32_t W_ID = rand() % kWarehouses + 1;
  int32_t D_ID = rand() % kDistricts + 1;
  int32_t C_ID = rand() % kCustomers + 1;
  printf("W_ID : %d\n", W_ID);
  printf("D_ID : %d\n", D_ID);
  printf("C_ID : %d\n", C_ID);

  PaymentArg payment{};
  payment.W_ID = W_ID;
  payment.H_AMOUNT = 999.99;
  payment.D_ID = D_ID;
  payment.C_ID = C_ID;

  Rows rows{};
  Reads reads;
  if (!prepareRead(reads, kCustomer, kGetCustomerID,
                   {{SQL_PARAM_INPUT, false, &W_ID},
                    {SQL_PARAM_INPUT, false, &D_ID},
                    {SQL_PARAM_INPUT, false, &C_ID},
                    {SQL_PARAM_OUTPUT, false, &rows.customer[0]},
                    {SQL_PARAM_OUTPUT, false, &rows.customer[1]},
                    {SQL_PARAM_OUTPUT, false, &rows.customer[2]},
                    {SQL_PARAM_OUTPUT, false, &rows.customer[3]},
                    {SQL_PARAM_OUTPUT, true, &rows.customerAmount[0]},
                    {SQL_PARAM_OUTPUT, true, &rows.customerAmount[1]}}) ||
      !prepareRead(reads, kDistrict, kGetDistrictID,
                   {{SQL_PARAM_INPUT, false, &W_ID},
                    {SQL_PARAM_INPUT, false, &D_ID},
                    {SQL_PARAM_OUTPUT, false, &rows.district[0]},
                    {SQL_PARAM_OUTPUT, false, &rows.district[1]},
                    {SQL_PARAM_OUTPUT, true, &rows.districtAmount}}) ||
      !prepareRead(reads, kWarehouse, kGetWarehouseID,
                   {{SQL_PARAM_INPUT, false, &W_ID},
                    {SQL_PARAM_OUTPUT, false, &rows.warehouse},
                    {SQL_PARAM_OUTPUT, true, &rows.warehouseAmount}})) {
    return failTest(reads,
                    "preparing the reads of the customer, district and warehouse rows failed");
  }

  printf("\n");
  printUnderlined(mode == 1 ? "ROLLBACK TEST FOR ATOMICITY" : "COMMIT TEST FOR ATOMICITY");
  printf("\n");

  if (!readRow(reads, kCustomer, "Row from customer before transaction", rows) ||
      !readRow(reads, kDistrict, "Row from district before transaction", rows) ||
      !readRow(reads, kWarehouse, "Row from warehouse before transaction", rows)) {
    return failTest(reads, "reading the rows before the Payment failed");
  }
  const Rows before = rows;

  printUnderlined(mode == 1 ? "Execution of payment_by_id transaction (ROLLBACK)"
                            : "Execution of payment_by_id transaction (COMMIT)");
  if (Payment(&payment, mode) != 0) return failTest(reads, "the Payment transaction failed");
  printPaymentRecord(payment);

  if (!readRow(reads, kCustomer, "Row from customer after transaction", rows) ||
      !readRow(reads, kDistrict, "Row from district after transaction", rows) ||
      !readRow(reads, kWarehouse, "Row from warehouse after transaction", rows)) {
    return failTest(reads, "reading the rows after the Payment failed");
  }

  // A committed payment must show in the rows, a rolled-back one must not.
  std::string differences = comparedDifferences(before, rows);
  bool passed = differences.empty() == (mode == 1);
  if (!passed && mode == 0) {
    printf(
        "%sthe committed Payment of %.2f changed none of the compared values of the customer, "
        "district and warehouse rows\n",
        acidkit::kReasonPrefix, payment.H_AMOUNT);
  } else if (!passed) {
    printf("%sthe rolled-back Payment left changes behind: %s\n", acidkit::kReasonPrefix,
           differences.c_str());
  }
  puts(passed ? acidkit::kAtomicityTestPassed : acidkit::kAtomicityTestFailed);
  if (!freeReads(reads)) return failTest(reads, "freeing a statement failed");
  return passed ? 0 : 1;
}

}  // namespace

int main() {
  srand(time(nullptr));
  acidkit::ProgramConnection program(kFailed);
  if (program.open() != 0) return 1;
  int commitTest = doTest(0);
  int rollbackTest = doTest(1);  // runs whatever the commit test gave
  puts(commitTest != 0 || rollbackTest != 0 ? acidkit::kAtomicityTestsFailed
                                            : acidkit::kAllAtomicityTestsPassed);
  return program.close();
}
