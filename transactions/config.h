// The kit's fixed values. The programs take no arguments and read no
// environment or files: everything they need to know is here.
#pragma once

#include <cstdint>

#ifndef ACIDKIT_WAREHOUSES
#define ACIDKIT_WAREHOUSES 400
#endif

// Data source and login of the database under test.
inline constexpr char kDataSource[] = "TESTDB";
inline constexpr char kUser[] = "acidtest";
inline constexpr char kPassword[] = "58274613";

// Ranges the ids are drawn from (1..n). The warehouse count is fixed at build
// time and must not exceed what the database holds.
inline constexpr int32_t kWarehouses = ACIDKIT_WAREHOUSES;
inline constexpr int32_t kDistricts = 10;
inline constexpr int32_t kCustomers = 3000;
inline constexpr int32_t kItems = 100000;

// Timing of the isolation tests, in whole seconds: how long a transaction
// holds its locks, and when the later threads start.
inline constexpr unsigned kPauseSeconds = 30;
inline constexpr unsigned kSecondThreadDelay = 10;
inline constexpr unsigned kLateThreadDelay = 20;

// Retryable native errors of the database (deadlock victim, lock wait
// timeout): the transaction is rolled back and run again, at most this often.
inline constexpr int32_t kRetryableDeadlock = 14032;
inline constexpr int32_t kRetryableTimeout = 14007;
inline constexpr int kMaxAttempts = 6;

// Largest order a New-Order or Order-Status record holds.
inline constexpr int kMaxOrderLines = 15;
