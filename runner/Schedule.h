// The suite: the programs in the order they run, and how long each is
// expected to take.
#pragma once

#include <array>

struct SuiteEntry {
  const char* label;    // name in the summary and of its log file
  const char* program;  // executable in the programs' directory
  int isolationTest;    // 1..9, 0 for atom and consist
  // Seconds that the program's own sleeps and pauses impose on a database
  // that isolates correctly: the part of its run time no database can cut.
  int mandatedSeconds;
  // Allowance on top of that for the program's database work, on a small
  // reference database; only for the progress display and the time limit.
  int workSeconds;
};

// Expected durations, derived from each program's timing (times from the
// first transaction thread's start):
//   consist        no sleeps; queries over the whole database or a sample
//                  of eleven warehouses: a few seconds on a small database.
//   atom           no sleeps; two Payments and six row reads.
//   isolation1/2   T1's New-Order pauses 30 s before its end right after its
//                  inserts; T2 starts at 10 s and waits for T1; T3 (and T0
//                  of test 2) are single short reads on the main thread: 30 s.
//   isolation3/4   T1 pauses 30 s before its end; T2 starts at 10 s inside
//                  that pause and waits for T1's district row: 30 s.
//   isolation5/6   T1's Delivery works through ten districts, then pauses
//                  30 s before its end; T2's Payment starts at 10 s and
//                  waits for T1's customer row: 30 s.
//   isolation7     T1 reads two prices; T2 pauses 30 s after its first item;
//                  T3 starts at 20 s and waits for T2's item locks; T4 reads
//                  two prices: 30 s.
//   isolation8     T1's Delivery reaches the emptied district within its
//                  first districts and pauses 30 s there; T2 starts at 20 s,
//                  inside that pause, and waits for T1: 30 s.
//   isolation9     T1's Order-Status pauses 30 s between its two reads; T2
//                  starts at 10 s and waits for T1: 30 s.
// The suite's mandated total is 9 x 30 s = 270 s.
inline constexpr std::array<SuiteEntry, 12> kSuite{{
    {"consist", "consist", 0, 0, 10},
    {"atom", "atom", 0, 0, 5},
    {"isolation1", "isolation1", 1, 30, 3},
    {"isolation2", "isolation2", 2, 30, 3},
    {"isolation3", "isolation3", 3, 30, 2},
    {"isolation4", "isolation4", 4, 30, 2},
    {"isolation5", "isolation5", 5, 30, 3},
    {"isolation6", "isolation6", 6, 30, 3},
    {"isolation7", "isolation7", 7, 30, 2},
    {"isolation8", "isolation8", 8, 30, 3},
    {"isolation9", "isolation9", 9, 30, 2},
    {"consist-after", "consist", 0, 0, 10},
}};

// A program is stopped after factor x max(expected, kLimitFloorSeconds).
inline constexpr double kDefaultTimeoutFactor = 3.0;
inline constexpr int kLimitFloorSeconds = 40;
// Between SIGTERM and SIGKILL: long enough for isolation8 to put its moved
// rows back.
inline constexpr int kGraceSeconds = 15;
