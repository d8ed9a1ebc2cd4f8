// The post-load checks, for any server the loader writes to.
#pragma once

#include <cstdint>
#include <functional>

// Runs a query that returns one integer; 0 on success, else 1 after printing
// what failed.
using QueryInt = std::function<int(const char* sql, int64_t* value)>;

// Checks the row counts and prints them.
// fresh: right after the load, so every table has exactly its initial rows;
// otherwise the tables that the transactions grow are only held to their minimum.
int checkDatabase(const QueryInt& queryInt, int warehouses, int64_t orderLines, bool fresh);
