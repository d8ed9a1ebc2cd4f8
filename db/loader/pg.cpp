// acidkit-load-pg: creates the TPC-C tables in a PostgreSQL database and fills
// them with the initial population for W warehouses, from the same generator
// as acidkit-load, streamed through COPY on parallel connections; then builds
// the indexes, checks the result and marks the load complete.
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "check.h"
#include "generate.h"
#include "options.h"
#include "sql_text.h"

namespace {

constexpr size_t kStageBytes = 1 << 20;

// The command line, read by the parser both loaders share.
LoadCommandLine gOpt;

void usage(FILE* out) {
  std::fprintf(
      out,
      "Usage: acidkit-load-pg --warehouses W --database NAME [--host H] [--port P] [--user U]\n"
      "                       [--password P] [--seed N] [--replace] [--threads N]\n"
      "\n"
      "Creates the nine TPC-C tables in the existing PostgreSQL database NAME and loads the\n"
      "TPC-C initial population for warehouses 1..W (1 <= W <= %d) with COPY, the same rows\n"
      "as acidkit-load writes for the same seed. Then it builds the secondary indexes,\n"
      "checks the row counts and TPC-C consistency conditions 1 to 4, and last records the\n"
      "load as complete in table LOAD_COMPLETE.\n"
      "\n"
      "  --host H        server host or socket directory (default: libpq's, PGHOST)\n"
      "  --port P        server port (default: libpq's, PGPORT)\n"
      "  --user U        login (default: libpq's, PGUSER or the OS user)\n"
      "  --password P    password for --user (default: libpq's, PGPASSWORD or ~/.pgpass)\n"
      "  --seed N        random seed (default: drawn from the clock)\n"
      "  --replace       drop and reload the TPC-C tables of a database that holds them\n"
      "  --threads N     connections loading at once (default: one per core)\n"
      "  --help          this text\n"
      "\n"
      "Exit status 0 when the load is complete and checked, 1 when anything failed; a failed\n"
      "load is never marked complete.\n",
      kMaxLoadWarehouses);
}

int parseArgs(int argc, char** argv) {
  std::string error;
  switch (parseLoadCommandLine(argc, argv, LoaderExtras{}, &gOpt, &error)) {
    case LoadCommand::kHelp:
      usage(stdout);
      std::exit(0);
    case LoadCommand::kError:
      std::fprintf(stderr, "acidkit-load-pg: %s\n", error.c_str());
      return 1;
    case LoadCommand::kLoad:
      break;
  }
  if (gOpt.threads == 0) gOpt.threads = std::max(1u, std::thread::hardware_concurrency());
  return 0;
}

// One connection; closed when it goes out of scope.
class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    if (conn_ != nullptr) PQfinish(conn_);
  }

  int open() {
    std::vector<const char*> keys, values;
    // The values must outlive PQconnectdbParams: no temporaries.
    auto add = [&](const char* key, const char* value) {
      if (*value == '\0') return;
      keys.push_back(key);
      values.push_back(value);
    };
    const std::string port = gOpt.port != 0 ? std::to_string(gOpt.port) : "";
    add("host", gOpt.host.c_str());
    add("port", port.c_str());
    add("user", gOpt.user.c_str());
    add("password", gOpt.password.c_str());
    add("dbname", gOpt.database.c_str());
    add("application_name", "acidkit-load-pg");
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectdbParams(keys.data(), values.data(), 0);
    if (PQstatus(conn_) != CONNECTION_OK) {
      std::fprintf(stderr, "acidkit-load-pg: cannot connect to database %s: %s",
                   gOpt.database.c_str(), PQerrorMessage(conn_));
      return 1;
    }
    return 0;
  }

  PGconn* get() const { return conn_; }

  // Runs SQL (one or more statements) and discards its result.
  int run(const char* sql, const char* what) {
    PGresult* res = PQexec(conn_, sql);
    const ExecStatusType status = PQresultStatus(res);
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!ok) std::fprintf(stderr, "acidkit-load-pg: %s: %s", what, PQerrorMessage(conn_));
    PQclear(res);
    return ok ? 0 : 1;
  }

  // The first column of the first row as text ("" when NULL or no row).
  int text(const char* sql, std::string* out) {
    PGresult* res = PQexec(conn_, sql);
    const bool ok = PQresultStatus(res) == PGRES_TUPLES_OK;
    if (!ok) {
      std::fprintf(stderr, "acidkit-load-pg: query failed: %s  query: %s\n", PQerrorMessage(conn_),
                   sql);
    } else {
      *out = PQntuples(res) > 0 ? PQgetvalue(res, 0, 0) : "";
    }
    PQclear(res);
    return ok ? 0 : 1;
  }

  int integer(const char* sql, int64_t* value) {
    std::string t;
    if (text(sql, &t) != 0) return 1;
    *value = std::strtoll(t.c_str(), nullptr, 10);
    return 0;
  }

 private:
  PGconn* conn_ = nullptr;
};

// A piece of the load that one COPY carries: one table, some warehouses.
struct Job {
  LoadTable table;
  int wFirst, wLast;
};

std::vector<Job> buildJobs(int warehouses) {
  std::vector<Job> jobs;
  for (LoadTable t : {kItem, kWarehouse, kDistrict}) jobs.push_back({t, 1, warehouses});
  for (int w = 1; w <= warehouses; ++w) {
    for (LoadTable t : {kOrderLine, kStock, kCustomer, kHistory, kOrder, kNewOrder})
      jobs.push_back({t, w, w});
  }
  return jobs;
}

std::atomic<bool> gAbort{false};

int copyJob(Connection& c, const Job& job, const LoadParams* params, char* stage) {
  const char* name = gTables[job.table].name;
  char sql[100];
  std::snprintf(sql, sizeof sql, "COPY %s FROM STDIN", name);
  PGresult* res = PQexec(c.get(), sql);
  const bool started = PQresultStatus(res) == PGRES_COPY_IN;
  PQclear(res);
  if (!started) {
    std::fprintf(stderr, "acidkit-load-pg: loading %s failed: %s", name, PQerrorMessage(c.get()));
    return 1;
  }
  RowWriter writer;
  writer.start(job.table, params, job.wFirst, job.wLast);
  const char* abortReason = nullptr;
  for (size_t n; (n = writer.fill(stage, kStageBytes)) != 0;) {
    if (gAbort.load()) {
      abortReason = "another part of the load failed";
      break;
    }
    if (PQputCopyData(c.get(), stage, static_cast<int>(n)) != 1) break;
  }
  PQputCopyEnd(c.get(), abortReason);
  int status = 0;
  while ((res = PQgetResult(c.get())) != nullptr) {
    if (PQresultStatus(res) != PGRES_COMMAND_OK) {
      if (abortReason == nullptr)
        std::fprintf(stderr, "acidkit-load-pg: loading %s failed: %s", name,
                     PQresultErrorMessage(res));
      status = 1;
    } else if (std::strtoll(PQcmdTuples(res), nullptr, 10) != writer.rows()) {
      std::fprintf(stderr, "acidkit-load-pg: %s: the server stored %s of %lld rows\n", name,
                   PQcmdTuples(res), static_cast<long long>(writer.rows()));
      status = 1;
    }
    PQclear(res);
  }
  return status;
}

int copyAll(const LoadParams* params) {
  const std::vector<Job> jobs = buildJobs(gOpt.warehouses);
  std::atomic<size_t> next{0};
  std::vector<int> status(gOpt.threads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < gOpt.threads; ++t) {
    threads.emplace_back([&, t] {
      Connection c;
      std::unique_ptr<char[]> stage(new char[kStageBytes]);
      status[t] = c.open();
      // Each COPY commits on its own; nothing to wait for on disk meanwhile.
      if (status[t] == 0) status[t] = c.run("SET synchronous_commit = off", "session setup");
      while (status[t] == 0 && !gAbort.load()) {
        const size_t j = next.fetch_add(1);
        if (j >= jobs.size()) break;
        status[t] = copyJob(c, jobs[j], params, stage.get());
      }
      if (status[t] != 0) gAbort.store(true);
    });
  }
  for (std::thread& t : threads) t.join();
  return gAbort.load() ? 1 : 0;
}

std::string tableList() {
  std::string list = "'load_complete'";
  for (const TableInfo& t : gTables) {
    std::string lower = t.name;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    list += ", '" + lower + "'";
  }
  return list;
}

int dropTables(Connection& c) {
  std::string sql = "DROP TABLE IF EXISTS LOAD_COMPLETE";
  for (const TableInfo& t : gTables) sql += std::string(", ") + t.name;
  return c.run(sql.c_str(), "dropping the old tables failed");
}

// Refuses to overwrite a load by mistake; drops the old tables with --replace.
int prepareDatabase(Connection& c) {
  const std::string sql =
      "SELECT count(*) || ' ' || count(*) FILTER (WHERE tablename = "
      "'load_complete') FROM pg_tables WHERE schemaname = 'public' AND "
      "tablename IN (" +
      tableList() + ")";
  std::string counts;
  if (c.text(sql.c_str(), &counts) != 0) return 1;
  int tables = 0, marker = 0;
  std::sscanf(counts.c_str(), "%d %d", &tables, &marker);
  if (!gOpt.replace && tables > 0) {
    std::fprintf(stderr,
                 "acidkit-load-pg: database %s already holds TPC-C tables (%s); use --replace "
                 "to drop them and load again\n",
                 gOpt.database.c_str(), marker != 0 ? "a completed load" : "no completed load");
    return 1;
  }
  if (tables > 0) {
    std::printf("Dropping the TPC-C tables of database %s\n", gOpt.database.c_str());
    return dropTables(c);
  }
  return 0;
}

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int load(Connection& c) {
  if (prepareDatabase(c) != 0) return 1;
  if (c.run(kSchemaSql, "creating the tables failed") != 0) return 1;
  if (!gOpt.seedGiven) gOpt.seed = clockSeed();
  std::string stamp;
  if (c.text("SELECT to_char(LOCALTIMESTAMP, 'YYYY-MM-DD HH24:MI:SS')", &stamp) != 0) return 1;
  LoadParams params;
  initLoadParams(&params, gOpt.seed, gOpt.warehouses, stamp.c_str());
  const int64_t orderLines = expectedOrderLines(gOpt.seed, gOpt.warehouses);
  int64_t expected = orderLines;
  for (int t = 0; t < kTableCount; ++t) {
    if (t != kOrderLine)
      expected += gTables[t].fixedRows + gTables[t].rowsPerWarehouse * gOpt.warehouses;
  }
  std::printf("Loading %d warehouses into PostgreSQL database %s: seed %" PRIu64
              ", %lld rows, %d parallel COPY streams\n",
              gOpt.warehouses, gOpt.database.c_str(), gOpt.seed, static_cast<long long>(expected),
              gOpt.threads);
  std::fflush(stdout);
  const double start = now();
  if (copyAll(&params) != 0) {
    std::fprintf(stderr, "acidkit-load-pg: the load failed; dropping its tables\n");
    dropTables(c);
    return 1;
  }
  const double loaded = now();
  std::string analyze = "ANALYZE ";
  for (const TableInfo& t : gTables)
    analyze += std::string(t.name) + (t.name == gTables[kTableCount - 1].name ? "" : ", ");
  if (c.run(kIndexesSql, "building the secondary indexes failed") != 0 ||
      c.run(analyze.c_str(), "analyzing the tables failed") != 0) {
    return 1;
  }
  const double indexed = now();
  std::printf(
      "Loaded %lld rows in %.1f s (rows %.1f s, indexes %.1f s): %.0f rows/s, %.2f s per "
      "warehouse\n",
      static_cast<long long>(expected), indexed - start, loaded - start, indexed - loaded,
      static_cast<double>(expected) / (indexed - start), (indexed - start) / gOpt.warehouses);
  std::fflush(stdout);
  const QueryInt query = [&c](const char* sql, int64_t* value) { return c.integer(sql, value); };
  if (checkDatabase(query, gOpt.warehouses, orderLines, true) != 0) {
    std::printf("Check FAILED: the load is not marked complete\n");
    return 1;
  }
  // One statement, so that the mark never exists without its row.
  char sql[300];
  std::snprintf(sql, sizeof sql,
                "CREATE TABLE LOAD_COMPLETE AS SELECT %d AS WAREHOUSES, %" PRIu64
                "::numeric(20) AS SEED, LOCALTIMESTAMP(0) AS LOADED_AT, %lld::bigint AS "
                "TOTAL_ROWS",
                gOpt.warehouses, gOpt.seed, static_cast<long long>(expected));
  if (c.run(sql, "marking the load complete failed") != 0) return 1;
  std::printf("Load complete: database %s, %d warehouses, seed %" PRIu64 "\n",
              gOpt.database.c_str(), gOpt.warehouses, gOpt.seed);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (parseArgs(argc, argv) != 0) return 1;
  Connection c;
  if (c.open() != 0) return 1;
  return load(c);
}
