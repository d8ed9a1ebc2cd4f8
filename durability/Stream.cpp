// `durability run`: N threads, each a connection's worth of New-Orders and
// Payments one after the other through the kit's transaction library, until
// the time is up or the database goes away. A commit counts once its call
// returned success, and only then goes to the journal.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "DatabaseState.h"
#include "Durability.h"
#include "Journal.h"
#include "NewOrder.h"
#include "Odbc.h"
#include "Payment.h"
#include "config.h"
#include "support.h"

namespace acidkit {

namespace {

struct PerTransaction {
  std::atomic<long long> newOrder{0};
  std::atomic<long long> payment{0};
  long long total() const { return newOrder + payment; }
};

struct Stream {
  int journal = -1;
  double started = 0;
  double deadline = 0;
  std::atomic<bool> stop{false};
  std::atomic<bool> journalFailed{false};
  std::atomic<int> running{0};
  std::atomic<double> brokeAt{-1};  // when a connection first found the database gone
  PerTransaction acknowledged;
  PerTransaction uncertain;  // calls that did not return success
  PerTransaction broken;     // of those, the ones after which the database was gone
};

// Appends one line in one write, so that a reader counting lines while the
// run goes on never sees half of one.
bool append(Stream& s, const std::string& line) {
  ssize_t n = write(s.journal, line.data(), line.size());
  if (n == static_cast<ssize_t>(line.size())) return true;
  if (!s.journalFailed.exchange(true)) {
    fprintf(stderr, "durability: cannot write the journal: %s; stopping the stream\n",
            n < 0 ? strerror(errno) : "short write");
  }
  s.stop = true;
  return false;
}

// After a failed call: does the database still take a connection? If not,
// the connection broke under the call, and the stream of this thread ends.
bool databaseAnswers() {
  OdbcConnection probe;
  bool answers = probe.allocate() && probe.connect();
  probe.close();
  return answers;
}

// How a call ended for the stream.
enum class Outcome { kCommitted, kFailed, kBroken };

// A failed call's outcome is not known: the journal counts it as in flight.
Outcome afterFailure(std::atomic<long long>& uncertain, std::atomic<long long>& broken) {
  ++uncertain;
  if (databaseAnswers()) return Outcome::kFailed;
  ++broken;
  return Outcome::kBroken;
}

// A thread's draws: ids and amounts, uniform over their ranges.
class Draw {
 public:
  explicit Draw(unsigned seed) : rng_(seed) {}
  int operator()(int from, int to) { return std::uniform_int_distribution<int>(from, to)(rng_); }
  // The customer of a transaction, at its own warehouse and district.
  template <typename Arg>
  void customer(Arg* arg, const char* label) {
    snprintf(arg->label, sizeof arg->label, "%s", label);
    arg->W_ID = (*this)(1, kWarehouses);
    arg->D_ID = (*this)(1, kDistricts);
    arg->C_ID = (*this)(1, kCustomers);
  }

 private:
  std::mt19937 rng_;
};

Outcome newOrder(Stream& s, Draw& draw, const char* label) {
  NewOrderArg a{};
  draw.customer(&a, label);
  a.O_OL_CNT = draw(5, kMaxOrderLines);
  a.O_ALL_LOCAL = 1;
  for (int k = 0; k < a.O_OL_CNT; ++k) {
    a.orderLines[k].OL_SUPPLY_W_ID = a.W_ID;
    a.orderLines[k].OL_I_ID = draw(1, kItems);  // every item exists: no rollback
    a.orderLines[k].OL_QUANTITY = draw(1, 10);
  }
  if (NewOrder(&a, 0, 0) == 0 && !a.rollbackFlag) {
    ++s.acknowledged.newOrder;
    append(s, journalOrderLine({a.W_ID, a.D_ID, a.O_ID, a.C_ID, a.O_OL_CNT}));
    return Outcome::kCommitted;
  }
  return afterFailure(s.uncertain.newOrder, s.broken.newOrder);
}

Outcome payment(Stream& s, Draw& draw, const char* label) {
  PaymentArg p{};
  draw.customer(&p, label);
  const long long cents = draw(100, 500000);
  p.H_AMOUNT = static_cast<double>(cents) / 100;
  if (Payment(&p, SQL_COMMIT) == 0) {
    ++s.acknowledged.payment;
    const std::string date(p.H_DATE, strnlen(p.H_DATE, 19));
    append(s, journalPaymentLine({p.W_ID, p.D_ID, p.C_ID, cents, date}));
    return Outcome::kCommitted;
  }
  return afterFailure(s.uncertain.payment, s.broken.payment);
}

void streamThread(Stream& s, unsigned seed, int index) {
  Draw draw(seed);
  char label[4] = {'S', static_cast<char>('0' + index / 10 % 10),
                   static_cast<char>('0' + index % 10), '\0'};
  for (;;) {
    if (s.stop || monotonicSeconds() >= s.deadline) break;
    Outcome outcome = draw(0, 1) == 0 ? newOrder(s, draw, label) : payment(s, draw, label);
    if (outcome == Outcome::kBroken) {
      double none = -1;
      s.brokeAt.compare_exchange_strong(none, monotonicSeconds());
      break;
    }
  }
  --s.running;
}

void printProgress(const Stream& s, bool terminal, bool last) {
  const double elapsed = monotonicSeconds() - s.started;
  char line[200];
  snprintf(line, sizeof line,
           "%.0f s: %lld acknowledged (New-Order %lld, Payment %lld), %.0f per second, %d "
           "connections running",
           elapsed, s.acknowledged.total(), s.acknowledged.newOrder.load(),
           s.acknowledged.payment.load(), elapsed > 0 ? s.acknowledged.total() / elapsed : 0.0,
           s.running.load());
  if (terminal) {
    printf("\r%-100s%s", line, last ? "\n" : "");
    fflush(stdout);
  } else {
    printWithTime(line);
    fflush(stdout);
  }
}

}  // namespace

int runStream(const StreamOptions& options) {
  std::string error;
  int fd = open(options.journal.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    fprintf(stderr, "durability: cannot create the journal %s: %s\n", options.journal.c_str(),
            strerror(errno));
    if (errno == EEXIST) {
      fprintf(stderr,
              "durability: it holds an earlier run's acknowledged commits: verify it, or move it "
              "away, then run again\n");
    }
    return 1;
  }
  Stream s;
  s.journal = fd;
  auto giveUp = [&](const std::string& why) {
    fprintf(stderr, "durability: %s\n", why.c_str());
    close(fd);
    unlink(options.journal.c_str());  // nothing was acknowledged: no journal to verify
    return 1;
  };

  OdbcEnvironment env{&gEnv};
  if (!env.allocate(SQL_NULL_HANDLE) ||
      !succeeded(SQLSetEnvAttr(gEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0))) {
    return giveUp("cannot set up ODBC (no environment handle)");
  }
  DatabaseCounts start;
  {
    OdbcConnection connection;
    if (!openConnection(&connection, &error)) {
      return giveUp(std::string("cannot connect to ") + kDataSource + ": " + error);
    }
    if (!readCounts(connection.get(), kWarehouses, &start, &error)) {
      return giveUp("cannot read the starting state: " + error);
    }
  }
  if (start.warehouses != kWarehouses) {
    char why[200];
    snprintf(why, sizeof why,
             "%s holds %lld of the warehouses 1 to %d that this build draws from: load them first",
             kDataSource, start.warehouses, kWarehouses);
    return giveUp(why);
  }
  if (!append(s, std::string(kJournalHeader) + "\n") ||
      !append(s, journalStartLine({kWarehouses, start.nextOrderIdSum, start.historyRows,
                                   options.connections}))) {
    return giveUp("the journal could not be written");
  }

  // Signals are taken by the main thread alone, between its progress lines:
  // the first ends the stream after the calls in progress.
  sigset_t stopping;
  sigemptyset(&stopping);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopping, sig);
  pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
  signal(SIGPIPE, SIG_IGN);

  printf(
      "Durability stream: New-Order and Payment from %d connections on warehouses 1 to %d, "
      "for %d s or until the database goes away\n",
      options.connections, kWarehouses, options.seconds);
  printf("Journal of acknowledged commits: %s\n", options.journal.c_str());
  printf(
      "Interrupt the database while this runs: kill its server, cut its power (on the "
      "reference database: db/refdb crash)\n");
  fflush(stdout);

  s.started = monotonicSeconds();
  s.deadline = s.started + options.seconds;
  std::random_device seeds;
  std::vector<std::thread> threads;
  s.running = options.connections;
  for (int i = 0; i < options.connections; ++i) {
    threads.emplace_back(streamThread, std::ref(s), seeds(), i + 1);
  }
  const bool terminal = isatty(STDOUT_FILENO) == 1;
  bool signalled = false;
  double lastPrint = s.started;
  while (s.running > 0) {
    timespec tick{0, 200 * 1000 * 1000};
    int sig = sigtimedwait(&stopping, nullptr, &tick);
    if (sig > 0) {
      if (signalled) {
        fprintf(stderr,
                "durability: stopped at once; the journal %s has no end line, so verify cannot "
                "bound the calls in flight\n",
                options.journal.c_str());
        _exit(130);
      }
      signalled = true;
      s.stop = true;
      fprintf(stderr,
              "durability: %s: ending the stream after the calls in progress (again to stop at "
              "once)\n",
              strsignal(sig));
    }
    const double now = monotonicSeconds();
    if (now - lastPrint >= (terminal ? 1 : 5)) {
      printProgress(s, terminal, false);
      lastPrint = now;
    }
  }
  for (std::thread& t : threads) t.join();
  const double end = s.brokeAt >= 0 ? s.brokeAt.load() : monotonicSeconds();
  const double seconds = end - s.started;
  if (terminal) printProgress(s, terminal, true);

  bool written = append(s, journalEndLine({s.uncertain.newOrder, s.uncertain.payment, seconds}));
  written = fdatasync(fd) == 0 && written;
  written = close(fd) == 0 && written;
  if (!written || s.journalFailed) {
    fprintf(stderr, "durability: the journal %s is incomplete: this run cannot be verified\n",
            options.journal.c_str());
    return 1;
  }

  printf("Acknowledged commits: %lld (New-Order %lld, Payment %lld) in %.1f s, %.1f per second\n",
         s.acknowledged.total(), s.acknowledged.newOrder.load(), s.acknowledged.payment.load(),
         seconds, seconds > 0 ? s.acknowledged.total() / seconds : 0.0);
  printf("In flight when the connections broke: %lld (New-Order %lld, Payment %lld)\n",
         s.broken.total(), s.broken.newOrder.load(), s.broken.payment.load());
  const long long failedWhileUp = s.uncertain.total() - s.broken.total();
  if (failedWhileUp > 0) {
    printf(
        "Failed while the database answered: %lld (New-Order %lld, Payment %lld); their "
        "outcome counts as unknown\n",
        failedWhileUp, s.uncertain.newOrder - s.broken.newOrder,
        s.uncertain.payment - s.broken.payment);
  }
  if (s.broken.total() == 0) {
    printf("The database did not go away: nothing was put to the test of a crash.\n");
  }
  printf(
      "Next: bring the database back (on the reference database: db/refdb start), then run\n"
      "  durability verify --journal %s\n",
      options.journal.c_str());
  return signalled ? 130 : 0;
}

}  // namespace acidkit
