// Moving the generated rows into the server.
//
// Fast path: LOAD DATA LOCAL INFILE statements whose "file" is the generator
// itself, handed over through the client library's local-infile callbacks (no
// temporary files), one statement per table and warehouse, on one connection
// per thread. Rows arrive in primary key order and each statement commits on
// its own. InnoDB's empty-table bulk path (unique and foreign key checks off,
// one transaction per table) was measured at twice the server CPU per row, so
// the sessions keep their default checks.
#include <errmsg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "loader.h"

TableProgress gProgress[kTableCount];

namespace {

constexpr size_t kStageBytes = 1 << 20;
constexpr int kRowByRowCommitRows = 1000;

std::atomic<bool> gAbort{false};
std::atomic<int> gWorkersLeft{0};
double gLoadStart = 0;
std::mutex gTimingMutex;

// A piece of the load that one statement carries: one table, some warehouses.
struct Job {
  LoadTable table;
  int wFirst;
  int wLast;
};
std::vector<Job> gJobs;
std::atomic<size_t> gNextJob{0};
int gChunksLeft[kTableCount];  // guarded by gTimingMutex

// Warehouse by warehouse, the largest table first within each: the threads
// mostly fill different tables at a time (two streams into one index contend
// for it), and all stay busy to the end.
void buildJobs(int warehouses) {
  const LoadTable perWarehouse[] = {kOrderLine, kStock, kCustomer, kHistory, kOrder, kNewOrder};
  gJobs.clear();
  for (int t = 0; t < kTableCount; ++t) gChunksLeft[t] = 0;
  for (LoadTable t : {kItem, kWarehouse, kDistrict}) {
    gJobs.push_back({t, 1, warehouses});
    ++gChunksLeft[t];
  }
  for (int w = 1; w <= warehouses; ++w) {
    for (LoadTable t : perWarehouse) {
      gJobs.push_back({t, w, w});
      ++gChunksLeft[t];
    }
  }
  gNextJob.store(0);
}

// One thread's generator as the client library sees it: a file being read.
struct Feed {
  RowWriter writer;
  LoadTable table = kItem;
  int64_t reported = 0;
  std::unique_ptr<char[]> stage{new char[kStageBytes]};
  size_t len = 0;
  size_t pos = 0;
};

int feedInit(void** ptr, const char*, void* userdata) {
  *ptr = userdata;
  return 0;
}

int feedRead(void* ptr, char* buf, unsigned int bufLen) {
  Feed* feed = static_cast<Feed*>(ptr);
  if (gAbort.load(std::memory_order_relaxed)) return -1;
  if (feed->pos == feed->len) {
    feed->len = feed->writer.fill(feed->stage.get(), kStageBytes);
    feed->pos = 0;
    gProgress[feed->table].rows.fetch_add(feed->writer.rows() - feed->reported,
                                          std::memory_order_relaxed);
    feed->reported = feed->writer.rows();
    if (feed->len == 0) return 0;
  }
  const size_t n = std::min(static_cast<size_t>(bufLen), feed->len - feed->pos);
  std::memcpy(buf, feed->stage.get() + feed->pos, n);
  feed->pos += n;
  return static_cast<int>(n);
}

void feedEnd(void*) {}

int feedError(void*, char* msg, unsigned int msgLen) {
  std::snprintf(msg, msgLen, "load stopped because another part of the load failed");
  return CR_UNKNOWN_ERROR;
}

// Prints the server's first warnings: a load that warns has stored something
// other than what was generated.
void printWarnings(Session& session, const char* table) {
  std::fprintf(stderr, "acidkit-load: loading %s produced warnings:\n", table);
  if (mysql_query(session.get(), "SHOW WARNINGS LIMIT 5") != 0) return;
  MYSQL_RES* res = mysql_store_result(session.get());
  if (res == nullptr) return;
  while (MYSQL_ROW row = mysql_fetch_row(res)) {
    std::fprintf(stderr, "  %s %s: %s\n", row[0], row[1], row[2]);
  }
  mysql_free_result(res);
}

// Returns the chunk's start time, for endChunk.
double beginChunk(LoadTable table) {
  const double now = nowSeconds();
  std::lock_guard<std::mutex> lock(gTimingMutex);
  if (gProgress[table].state.load() == 0) {
    gProgress[table].started = now - gLoadStart;
    gProgress[table].state.store(1);
  }
  return now;
}

void endChunk(LoadTable table, double chunkStart) {
  const double now = nowSeconds();
  std::lock_guard<std::mutex> lock(gTimingMutex);
  gProgress[table].busy += now - chunkStart;
  if (--gChunksLeft[table] == 0) gProgress[table].state.store(2);
}

int loadChunk(Session& session, Feed& feed, const Job& job, const LoadParams* params) {
  const char* name = gTables[job.table].name;
  feed.table = job.table;
  feed.writer.start(job.table, params, job.wFirst, job.wLast);
  feed.reported = 0;
  feed.len = feed.pos = 0;
  const double chunkStart = beginChunk(job.table);
  char sql[200];
  std::snprintf(sql, sizeof sql,
                "LOAD DATA LOCAL INFILE '%s' INTO TABLE %s CHARACTER SET latin1 "
                "FIELDS TERMINATED BY '\\t' LINES TERMINATED BY '\\n'",
                name, name);
  if (mysql_query(session.get(), sql) != 0) {
    if (!gAbort.load()) {
      char what[100];
      std::snprintf(what, sizeof what, "loading %s failed", name);
      printDbError(session.get(), what);
    }
    return 1;
  }
  const int64_t stored = static_cast<int64_t>(mysql_affected_rows(session.get()));
  if (mysql_warning_count(session.get()) != 0) {
    printWarnings(session, name);
    return 1;
  }
  if (stored != feed.writer.rows()) {
    std::fprintf(stderr, "acidkit-load: %s: the server stored %lld of %lld rows\n", name,
                 static_cast<long long>(stored), static_cast<long long>(feed.writer.rows()));
    return 1;
  }
  endChunk(job.table, chunkStart);
  return 0;
}

void loadDataWorker(const LoadParams* params, const char* database, int* status) {
  Session session;
  Feed feed;
  *status = session.open(database);
  if (*status == 0) {
    // sql_log_bin needs a privilege that the kit's user may lack, and matters
    // only on a server that keeps a binary log.
    session.run("SET SESSION sql_log_bin=0", true);
    mysql_set_local_infile_handler(session.get(), feedInit, feedRead, feedEnd, feedError, &feed);
  }
  while (*status == 0 && !gAbort.load()) {
    const size_t job = gNextJob.fetch_add(1);
    if (job >= gJobs.size()) break;
    *status = loadChunk(session, feed, gJobs[job], params);
  }
  if (*status != 0) gAbort.store(true);
  gWorkersLeft.fetch_sub(1);
}

// Splits one generated line into its fields in place; "\N" is NULL.
int splitRow(char* line, char** fields, bool* nulls, unsigned long* lengths, int columns) {
  int n = 0;
  char* p = line;
  for (;;) {
    char* end = p;
    while (*end != '\t' && *end != '\n') ++end;
    if (n == columns) return -1;
    const char last = *end;
    *end = '\0';
    fields[n] = p;
    lengths[n] = static_cast<unsigned long>(end - p);
    nulls[n] = std::strcmp(p, "\\N") == 0;
    ++n;
    p = end + 1;
    if (last == '\n') return n;
  }
}

int rowByRowChunk(Session& session, const Job& job, const LoadParams* params) {
  const LoadTable table = job.table;
  const TableInfo& info = gTables[table];
  char sql[300];
  int len = std::snprintf(sql, sizeof sql, "INSERT INTO %s VALUES (", info.name);
  for (int i = 0; i < info.columns; ++i) len += std::snprintf(sql + len, 4, i ? ",?" : "?");
  std::snprintf(sql + len, sizeof sql - len, ")");

  MYSQL_STMT* stmt = mysql_stmt_init(session.get());
  if (stmt == nullptr || mysql_stmt_prepare(stmt, sql, std::strlen(sql)) != 0) {
    printDbError(session.get(), "preparing the row-by-row INSERT failed");
    if (stmt != nullptr) mysql_stmt_close(stmt);
    return 1;
  }
  std::vector<MYSQL_BIND> binds(info.columns);
  std::vector<char*> fields(info.columns);
  std::vector<unsigned long> lengths(info.columns);
  std::unique_ptr<bool[]> nulls(new bool[info.columns]);
  std::vector<my_bool> isNull(info.columns);
  std::unique_ptr<char[]> buf(new char[kStageBytes]);
  RowWriter writer;
  writer.start(table, params, job.wFirst, job.wLast);
  const double chunkStart = beginChunk(table);
  int status = 0;
  int64_t rows = 0;
  size_t n;
  while (status == 0 && (n = writer.fill(buf.get(), kStageBytes)) > 0) {
    for (char* line = buf.get(); line < buf.get() + n && status == 0;) {
      char* next = static_cast<char*>(std::memchr(line, '\n', buf.get() + n - line)) + 1;
      if (splitRow(line, fields.data(), nulls.get(), lengths.data(), info.columns) !=
          info.columns) {
        std::fprintf(stderr, "acidkit-load: generated %s row has the wrong shape\n", info.name);
        status = 1;
        break;
      }
      for (int i = 0; i < info.columns; ++i) {
        std::memset(&binds[i], 0, sizeof binds[i]);
        binds[i].buffer_type = MYSQL_TYPE_STRING;
        binds[i].buffer = fields[i];
        binds[i].buffer_length = lengths[i];
        binds[i].length = &lengths[i];
        isNull[i] = nulls[i];
        binds[i].is_null = &isNull[i];
      }
      if (mysql_stmt_bind_param(stmt, binds.data()) != 0 || mysql_stmt_execute(stmt) != 0) {
        std::fprintf(stderr, "acidkit-load: row-by-row INSERT into %s failed: %s\n", info.name,
                     mysql_stmt_error(stmt));
        status = 1;
        break;
      }
      if (++rows % kRowByRowCommitRows == 0) {
        status = session.run("COMMIT");
        gProgress[table].rows.fetch_add(kRowByRowCommitRows, std::memory_order_relaxed);
      }
      line = next;
    }
  }
  mysql_stmt_close(stmt);
  if (status == 0) status = session.run("COMMIT");
  gProgress[table].rows.fetch_add(rows % kRowByRowCommitRows, std::memory_order_relaxed);
  if (status == 0) endChunk(table, chunkStart);
  return status;
}

void rowByRowWorker(const LoadParams* params, const char* database, int* status) {
  Session session;
  *status = session.open(database);
  if (*status == 0) *status = session.run("SET autocommit=0");
  for (const Job& job : gJobs) {
    if (*status != 0) break;
    *status = rowByRowChunk(session, job, params);
  }
  gWorkersLeft.fetch_sub(1);
}

// "12.3M" style counts for the progress line.
void shortCount(char* out, size_t size, double v) {
  if (v >= 1e6) {
    std::snprintf(out, size, "%.1fM", v / 1e6);
  } else if (v >= 1e4) {
    std::snprintf(out, size, "%.0fk", v / 1e3);
  } else {
    std::snprintf(out, size, "%.0f", v);
  }
}

void formatLeft(char* out, size_t size, double seconds) {
  const int s = seconds > 0 && seconds < 1e7 ? static_cast<int>(seconds + 0.5) : 0;
  std::snprintf(out, size, "%d:%02d", s / 60, s % 60);
}

// One updating line on the terminal: the totals and the time left, then each
// table still loading, the one with the most time left first (a narrow
// terminal cuts the line at its width).
void printProgress(int64_t totalExpected) {
  struct Item {
    double left;
    char text[80];
  } items[kTableCount];
  int nItems = 0;
  int64_t total = 0;
  const double elapsed = nowSeconds() - gLoadStart;
  for (int t = 0; t < kTableCount; ++t) {
    const int64_t rows = gProgress[t].rows.load(std::memory_order_relaxed);
    total += rows;
    if (gProgress[t].state.load() != 1) continue;
    const double secs = elapsed - gProgress[t].started;
    const double rate = secs > 0 ? static_cast<double>(rows) / secs : 0.0;
    Item& item = items[nItems++];
    item.left = rate > 0 ? static_cast<double>(gProgress[t].expected - rows) / rate : 0.0;
    char done[16], perSec[16], left[24];
    shortCount(done, sizeof done, static_cast<double>(rows));
    shortCount(perSec, sizeof perSec, rate);
    formatLeft(left, sizeof left, item.left);
    std::snprintf(item.text, sizeof item.text, " | %s %s %s/s %s", gTables[t].name, done, perSec,
                  left);
  }
  for (int i = 1; i < nItems; ++i) {  // insertion sort: a handful of items
    for (int j = i; j > 0 && items[j].left > items[j - 1].left; --j)
      std::swap(items[j], items[j - 1]);
  }
  char line[1024], done[16], perSec[16], left[16];
  const double rate = elapsed > 0 ? static_cast<double>(total) / elapsed : 0.0;
  shortCount(done, sizeof done, static_cast<double>(total));
  shortCount(perSec, sizeof perSec, rate);
  formatLeft(left, sizeof left, rate > 0 ? static_cast<double>(totalExpected - total) / rate : 0.0);
  int len = std::snprintf(line, sizeof line, "%3.0f%% %s rows %s/s %s left",
                          100.0 * static_cast<double>(total) / static_cast<double>(totalExpected),
                          done, perSec, left);
  for (int i = 0; i < nItems && len < static_cast<int>(sizeof line) - 80; ++i) {
    len += std::snprintf(line + len, sizeof line - len, "%s", items[i].text);
  }
  struct winsize ws;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 && len >= ws.ws_col) {
    line[ws.ws_col - 1] = '\0';
  }
  std::fprintf(stderr, "\r%s\033[K", line);
  std::fflush(stderr);
}

}  // namespace

int loadTables(const LoadParams* params, const char* database, bool rowByRow) {
  int64_t totalExpected = 0;
  for (int t = 0; t < kTableCount; ++t) totalExpected += gProgress[t].expected;
  const int threads = rowByRow ? 1 : gOptions.threads;
  buildJobs(params->warehouses);
  std::vector<int> status(threads, 0);
  std::vector<std::thread> workers;
  gLoadStart = nowSeconds();
  gWorkersLeft.store(threads);
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back(rowByRow ? rowByRowWorker : loadDataWorker, params, database, &status[i]);
  }
  const bool tty = isatty(STDERR_FILENO) != 0;
  while (gWorkersLeft.load() > 0) {
    usleep(250000);
    if (tty) printProgress(totalExpected);
  }
  for (std::thread& worker : workers) worker.join();
  if (tty) std::fprintf(stderr, "\r\033[K");
  for (int s : status) {
    if (s != 0) return 1;
  }
  return 0;
}
