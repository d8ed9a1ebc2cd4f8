// Connections to the server and the few query shapes the loader needs.
#pragma once

#include <mysql.h>

#include <cstdint>

struct ConnectOptions {
  const char* socket = nullptr;
  const char* host = nullptr;
  unsigned port = 0;
  const char* user = nullptr;
  const char* password = nullptr;
};
extern ConnectOptions gConnect;

// Owns one connection; closes it when it goes out of scope.
class Session {
 public:
  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() { close(); }

  // Connects (to database, when not null). Prints what failed and what to do.
  int open(const char* database);
  void close();
  MYSQL* get() const { return mMysql; }

  // Runs one statement and discards any result. quiet: print nothing on failure.
  int run(const char* sql, bool quiet = false);
  // Runs a script of ';'-separated statements.
  int runScript(const char* sql, const char* what);
  // Runs a query returning one row; copies its columns as text (NULL -> "") into cols.
  int queryRow(const char* sql, int ncols, char cols[][64]);
  int queryInt(const char* sql, int64_t* value);

 private:
  MYSQL* mMysql = nullptr;
};

// "socket /path" or "host:port", for messages.
const char* serverName();
// Prints "acidkit-load: <what>: <server message> (error N)".
void printDbError(MYSQL* mysql, const char* what);
