// Lines of the programs' output that a reader, a person or the runner, judges
// a run by: every verdict line and every failure line, from this one place.
// The programs print them and the runner's parser looks for them; a unit test
// proves the parser knows each. The texts are fixed byte for byte, since
// people and tools read runs by them; the reason lines, isolation8's lines
// about district 255 and the durability verdicts are the kit's own.
#pragma once

#include <cstdio>
#include <string>

namespace acidkit {

// Opens each line that says why a verdict failed: one or more such lines
// come right before the failed verdict.
inline constexpr char kReasonPrefix[] = "Reason: ";

// --- isolation programs ----------------------------------------------------

// "Isolation test 3 passed" (printed after an empty line).
inline std::string isolationVerdictLine(int test, bool passed) {
  char line[40];
  snprintf(line, sizeof line, "Isolation test %d %s", test, passed ? "passed" : "failed");
  return line;
}

inline constexpr char kNewOrderError[] = "Error New Order Transaction!";
inline constexpr char kPaymentError[] = "Error Payment Transaction!";
inline constexpr char kDeliveryError[] = "Error Delivery Transaction!";
inline constexpr char kOrderStatusError[] = "Error Order Status Transaction!";
// T0 and T3 of isolation1 and isolation2, on the main thread.
inline constexpr char kMainOrderStatusError[] = "Error Order Status Transaction0!";
inline constexpr char kIncreasePriceError[] = "T3 ERROR";
inline constexpr char kNextOrderIdError[] = "Error D_NEXT_O_ID";
inline constexpr char kCustomerIdError[] = "Error C_ID";
inline constexpr char kPriceError[] = "Error I_PRICE";
inline constexpr char kParkRowsError[] = "Error remove all rows(NEW-ORDER)";
inline constexpr char kRestoreRowsError[] = "Error restore all rows(NEW-ORDER)";
inline constexpr char kBalanceIncorrect[] = "Customer balance incorrect";
inline constexpr char kPriceMismatch[] = "Price does not match original price";

// Every line that fails an isolation test's run wherever it stands: some
// verdicts are computed from the record of a transaction that never ran.
inline constexpr const char* kIsolationFailureLines[] = {
    kBalanceIncorrect, kPriceMismatch,    kNewOrderError,        kPaymentError,
    kDeliveryError,    kOrderStatusError, kMainOrderStatusError, kIncreasePriceError,
    kNextOrderIdError, kCustomerIdError,  kPriceError,           kParkRowsError,
    kRestoreRowsError};

// isolation8 refuses to start on rows an earlier run left in district 255,
// or when it cannot count them: "<prefix><warehouse>..." (exit status 1).
inline constexpr char kDistrict255ReadErrorPrefix[] = "Error reading district 255 of warehouse ";
inline constexpr char kDistrict255HoldsRowsPrefix[] = "District 255 of warehouse ";
inline constexpr const char* kIsolationFailurePrefixes[] = {kDistrict255ReadErrorPrefix,
                                                            kDistrict255HoldsRowsPrefix};

// --- atom -------------------------------------------------------------------

inline constexpr char kAtomicityTestPassed[] = "Test passed";
inline constexpr char kAtomicityTestFailed[] = "TEST FAILED";
inline constexpr char kAtomicityStepFailed[] = "======> ATOMICITY TEST FAILED!";
inline constexpr char kAllAtomicityTestsPassed[] = "All atomicity tests passed";
inline constexpr char kAtomicityTestsFailed[] = "AT LEAST ONE ATOMICITY TEST FAILED!";

// --- consist ----------------------------------------------------------------

// "Consistency Test #2 Passed" and "Failed consistency condition 2" (each
// printed after an empty line).
inline std::string consistencyTestPassedLine(int condition) {
  return "Consistency Test #" + std::to_string(condition) + " Passed";
}
inline std::string consistencyConditionFailedLine(int condition) {
  return "Failed consistency condition " + std::to_string(condition);
}
inline constexpr int kConsistencyConditions = 4;
inline constexpr char kConsistencyStepFailed[] = "CONSISTENCY TEST FAILED!";
inline constexpr char kAllConsistencyTestsPassed[] = "All consistency tests passed";
inline constexpr char kConsistencyTestsFailed[] = "AT LEAST ONE CONSISTENCY TEST FAILED";

// --- durability ---------------------------------------------------------------

inline constexpr char kDurabilityTestPassed[] = "Durability test passed";
inline constexpr char kDurabilityTestFailed[] = "Durability test failed";
// Opens each line of durability verify that names an acknowledged commit it
// did not find.
inline constexpr char kMissingCommitPrefix[] = "Missing: ";

}  // namespace acidkit
