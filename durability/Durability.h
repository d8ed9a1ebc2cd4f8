// The durability test: a stream of New-Order and Payment transactions whose
// acknowledged commits are written to a journal, interrupted by a failure of
// the database, and a verification after its restart that every
// acknowledged commit survived.
#pragma once

#include <string>

namespace acidkit {

struct StreamOptions {
  std::string journal;
  int seconds = 60;
  int connections = 8;
};

// `durability run`: 0 when the stream ran (to its time, or until the
// database went away), 1 when it could not start or write its journal, 130
// when stopped by a signal.
int runStream(const StreamOptions& options);

struct VerifyOptions {
  std::string journal;
};

// `durability verify`: 0 when it reached its verdict, whichever it is; 1
// when it could not (an unreadable journal, no connection).
int runVerify(const VerifyOptions& options);

}  // namespace acidkit
