// acidkit-load: creates the TPC-C tables in a MariaDB database and fills them
// with the initial population for W warehouses, then checks the result.
//
// A load counts as complete only once table LOAD_COMPLETE holds its row,
// written last, after the checks passed; a database without it is not loaded.
#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "loader.h"
#include "options.h"
#include "sql_text.h"

LoaderOptions gOptions;

namespace {

constexpr const char* kMarkerTable = "LOAD_COMPLETE";
// InnoDB size of the ITEM table and the slack on top of the per-warehouse sizes.
constexpr double kItemBytes = 18.0 * (1 << 20);
constexpr double kDiskMargin = 1.10;

double gStart = 0;

void usage(FILE* out) {
  std::fprintf(
      out,
      "Usage: acidkit-load --warehouses W --database NAME [--socket PATH | --host H --port P]\n"
      "                    [--user U] [--password P] [--seed N] [--replace] [--threads N]\n"
      "                    [--check-only] [--row-by-row]\n"
      "\n"
      "Creates the nine TPC-C tables in database NAME (created if missing) and loads the\n"
      "TPC-C initial population for warehouses 1..W (1 <= W <= %d): 100,000 items and,\n"
      "per warehouse, 100,000 stock rows, 10 districts, 30,000 customers with one history\n"
      "row each, 30,000 orders with 5 to 15 lines each, 9,000 new orders. One row in ten\n"
      "of I_DATA and of S_DATA holds the brand marker, the lower-case word \"original\".\n"
      "Secondary indexes are built after the rows are in. Then it checks the row counts,\n"
      "and last records the load as complete in table %s (db/refdb load then checks\n"
      "the consistency conditions with acidkit check). It needs about 95 MB of disk per\n"
      "warehouse.\n"
      "\n"
      "  --warehouses W  warehouses to load (not needed with --check-only)\n"
      "  --database NAME database to load into\n"
      "  --socket PATH   server socket (default "
      "${ACIDKIT_STATE:-/var/lib/acidkit}/run/mysqld.sock)\n"
      "  --host H --port P  connect over TCP instead\n"
      "  --user U        login (default: the OS user, which the server knows over the socket)\n"
      "  --password P    password for --user\n"
      "  --seed N        random seed (default: drawn from the clock); the same seed gives the\n"
      "                  same data whatever --threads is; dates are the load's start time\n"
      "  --replace       drop and reload the TPC-C tables of a database that holds them\n"
      "  --threads N     connections loading at once (default: one per core)\n"
      "  --check-only    only check an already loaded database, and print the checks\n"
      "  --row-by-row    load with one prepared INSERT per row (slow; for benchmarks)\n"
      "  --help          this text\n"
      "\n"
      "Progress shows on the terminal (standard error). Exit status 0 when the load is\n"
      "complete and checked, 1 when anything failed; a failed load is never marked complete.\n",
      kMaxLoadWarehouses, kMarkerTable);
}

// The command line, read by the parser both loaders share; gOptions and
// gConnect point into it.
LoadCommandLine gLine;

int parseArgs(int argc, char** argv) {
  std::string error;
  const LoadCommand command = parseLoadCommandLine(
      argc, argv, LoaderExtras{.socket = true, .checkOnly = true, .rowByRow = true}, &gLine,
      &error);
  if (command == LoadCommand::kHelp) {
    usage(stdout);
    std::exit(0);
  }
  if (command == LoadCommand::kError) {
    std::fprintf(stderr, "acidkit-load: %s\n", error.c_str());
    return 1;
  }
  if (gLine.port != 0 && gLine.host.empty()) {
    std::fprintf(stderr, "acidkit-load: --port goes with --host (the default is the socket)\n");
    return 1;
  }
  gOptions.warehouses = gLine.warehouses;
  gOptions.database = gLine.database.c_str();
  gOptions.seed = gLine.seed;
  gOptions.seedGiven = gLine.seedGiven;
  gOptions.replace = gLine.replace;
  gOptions.checkOnly = gLine.checkOnly;
  gOptions.rowByRow = gLine.rowByRow;
  // One stream per core: a third stream on two cores measured slower.
  gOptions.threads = gLine.threads != 0
                         ? gLine.threads
                         : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));

  if (gLine.socket.empty()) {
    const char* state = std::getenv("ACIDKIT_STATE");
    gLine.socket = std::string(state != nullptr && *state != '\0' ? state : "/var/lib/acidkit") +
                   "/run/mysqld.sock";
  }
  gConnect.socket = gLine.socket.c_str();
  if (!gLine.host.empty()) {
    gConnect.host = gLine.host.c_str();
    gConnect.port = gLine.port != 0 ? static_cast<unsigned>(gLine.port) : 3306;
  }
  if (!gLine.userGiven) {
    const passwd* pw = getpwuid(geteuid());
    gLine.user = pw != nullptr ? pw->pw_name : "root";
  }
  gConnect.user = gLine.user.c_str();
  if (gLine.passwordGiven) gConnect.password = gLine.password.c_str();
  return 0;
}

QueryInt queryIntOf(Session& session) {
  return [&session](const char* sql, int64_t* value) { return session.queryInt(sql, value); };
}

// Which of the loader's tables the database holds; marker: LOAD_COMPLETE among them.
int inspectDatabase(Session& admin, int* tpccTables, bool* marker, double* bytes) {
  char sql[600];
  std::snprintf(sql, sizeof sql,
                "SELECT COUNT(*), COALESCE(SUM(TABLE_NAME = '%s'), 0), "
                "COALESCE(SUM(DATA_LENGTH + INDEX_LENGTH), 0) FROM information_schema.TABLES "
                "WHERE TABLE_SCHEMA = '%s' AND TABLE_NAME IN ('%s', 'WAREHOUSE', 'DISTRICT', "
                "'CUSTOMER', 'HISTORY', 'NEW_ORDER', 'ORDERS', 'ORDER_LINE', 'ITEM', 'STOCK')",
                kMarkerTable, gOptions.database, kMarkerTable);
  char cols[3][64];
  if (admin.queryRow(sql, 3, cols) != 0) return 1;
  *marker = std::atoi(cols[1]) != 0;
  *tpccTables = std::atoi(cols[0]) - (*marker ? 1 : 0);
  *bytes = std::atof(cols[2]);
  return 0;
}

int readMarker(Session& session, int* warehouses, uint64_t* seed) {
  char sql[200], cols[2][64];
  std::snprintf(sql, sizeof sql, "SELECT WAREHOUSES, SEED FROM %s.%s", gOptions.database,
                kMarkerTable);
  if (session.queryRow(sql, 2, cols) != 0) return 1;
  *warehouses = std::atoi(cols[0]);
  *seed = std::strtoull(cols[1], nullptr, 10);
  return 0;
}

bool serverIsLocal() {
  if (gConnect.host == nullptr) return true;
  return std::strcmp(gConnect.host, "127.0.0.1") == 0 ||
         std::strcmp(gConnect.host, "localhost") == 0 || std::strcmp(gConnect.host, "::1") == 0;
}

// Refuses a load that cannot fit on the server's disk, before anything is written.
int checkDiskSpace(Session& admin, double reclaimable) {
  double needed = kItemBytes;
  for (const TableInfo& t : gTables)
    needed += static_cast<double>(t.bytesPerWarehouse) * gOptions.warehouses;
  needed *= kDiskMargin;
  char cols[1][64];
  if (admin.queryRow("SELECT @@datadir", 1, cols) != 0) return 1;
  struct statvfs fs;
  if (!serverIsLocal() || statvfs(cols[0], &fs) != 0) {
    std::printf(
        "Disk: the load needs about %.1f GiB on the server; cannot see its disk from here\n",
        needed / (1 << 30));
    return 0;
  }
  const double freeBytes = static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
  if (freeBytes + reclaimable < needed) {
    std::fprintf(stderr,
                 "acidkit-load: not enough disk for %d warehouses: the load needs about %.1f GiB, "
                 "the server's data directory %s has %.1f GiB free%s. Free some space or load "
                 "fewer warehouses (about 95 MB each).\n",
                 gOptions.warehouses, needed / (1 << 30), cols[0], freeBytes / (1 << 30),
                 reclaimable > 0 ? " (counting the tables --replace drops)" : "");
    return 1;
  }
  return 0;
}

int dropTables(Session& admin) {
  const std::string db = gOptions.database;
  if (admin.run(("DROP TABLE IF EXISTS " + db + "." + kMarkerTable).c_str()) != 0) return 1;
  // Built whole: with a long database name a fixed buffer would cut the
  // list short, and DROP ... IF EXISTS would pass over the cut table.
  std::string sql = "DROP TABLE IF EXISTS ";
  const char* tables[] = {"WAREHOUSE", "DISTRICT",   "CUSTOMER", "HISTORY", "NEW_ORDER",
                          "ORDERS",    "ORDER_LINE", "ITEM",     "STOCK"};
  for (const char* table : tables) {
    if (table != tables[0]) sql += ", ";
    sql += db + "." + table;
  }
  return admin.run(sql.c_str());
}

// Creates the database if needed and makes sure that nothing loaded is overwritten by mistake.
int prepareDatabase(Session& admin) {
  int tables = 0;
  bool marker = false;
  double bytes = 0;
  if (inspectDatabase(admin, &tables, &marker, &bytes) != 0) return 1;
  if (!gOptions.replace && marker) {
    int w = 0;
    uint64_t seed = 0;
    if (readMarker(admin, &w, &seed) != 0) return 1;
    std::fprintf(stderr,
                 "acidkit-load: database %s is already loaded (%d warehouses, seed %" PRIu64
                 "); use --replace to load it again\n",
                 gOptions.database, w, seed);
    return 1;
  }
  if (!gOptions.replace && tables > 0) {
    std::fprintf(stderr,
                 "acidkit-load: database %s holds TPC-C tables but no completed load (an "
                 "interrupted or failed load?); use --replace to drop them and load again\n",
                 gOptions.database);
    return 1;
  }
  if (checkDiskSpace(admin, bytes) != 0) return 1;
  char sql[200];
  std::snprintf(sql, sizeof sql, "CREATE DATABASE IF NOT EXISTS %s", gOptions.database);
  if (admin.run(sql) != 0) return 1;
  if (tables + (marker ? 1 : 0) > 0) {
    std::printf("Dropping the TPC-C tables of database %s\n", gOptions.database);
    if (dropTables(admin) != 0) return 1;
  }
  return 0;
}

// One statement, so that the mark never exists without its row.
int writeMarker(Session& session, int64_t rows) {
  char sql[400];
  std::snprintf(sql, sizeof sql,
                "CREATE TABLE %s (WAREHOUSES INT NOT NULL, SEED BIGINT UNSIGNED NOT NULL, "
                "LOADED_AT DATETIME NOT NULL, TOTAL_ROWS BIGINT NOT NULL) ENGINE=InnoDB "
                "SELECT %d AS WAREHOUSES, %" PRIu64
                " AS SEED, NOW() AS LOADED_AT, %lld AS TOTAL_ROWS",
                kMarkerTable, gOptions.warehouses, gOptions.seed, static_cast<long long>(rows));
  return session.run(sql);
}

int checkOnly(Session& session) {
  int tables = 0;
  bool marker = false;
  double bytes = 0;
  if (inspectDatabase(session, &tables, &marker, &bytes) != 0) return 1;
  if (!marker) {
    std::fprintf(stderr, "acidkit-load: database %s holds no completed load (no %s table)\n",
                 gOptions.database, kMarkerTable);
    return 1;
  }
  int w = 0;
  uint64_t seed = 0;
  if (readMarker(session, &w, &seed) != 0) return 1;
  if (gOptions.warehouses != 0 && gOptions.warehouses != w) {
    std::fprintf(stderr, "acidkit-load: database %s holds %d warehouses, not %d\n",
                 gOptions.database, w, gOptions.warehouses);
    return 1;
  }
  std::printf("Checking database %s: %d warehouses, seed %" PRIu64 "\n", gOptions.database, w,
              seed);
  if (mysql_select_db(session.get(), gOptions.database) != 0) {
    printDbError(session.get(), "cannot use the database");
    return 1;
  }
  if (checkDatabase(queryIntOf(session), w, expectedOrderLines(seed, w), false) != 0) {
    std::printf("Check FAILED\n");
    return 1;
  }
  std::printf("Check passed\n");
  return 0;
}

int load(Session& admin) {
  if (!gOptions.rowByRow) {
    int64_t localInfile = 0;
    if (admin.queryInt("SELECT @@local_infile", &localInfile) != 0) return 1;
    if (localInfile == 0) {
      std::fprintf(stderr,
                   "acidkit-load: the server refuses LOAD DATA LOCAL (local_infile is OFF); start "
                   "it with local_infile=ON\n");
      return 1;
    }
  }
  if (prepareDatabase(admin) != 0) return 1;
  if (mysql_select_db(admin.get(), gOptions.database) != 0) {
    printDbError(admin.get(), "cannot use the database");
    return 1;
  }
  if (admin.runScript(kSchemaSql, "creating the tables failed") != 0) return 1;

  if (!gOptions.seedGiven) gOptions.seed = clockSeed();
  char now[1][64];
  if (admin.queryRow("SELECT DATE_FORMAT(NOW(), '%Y-%m-%d %H:%i:%s')", 1, now) != 0) return 1;
  LoadParams params;
  initLoadParams(&params, gOptions.seed, gOptions.warehouses, now[0]);
  const int64_t orderLines = expectedOrderLines(gOptions.seed, gOptions.warehouses);
  int64_t expected = 0;
  for (int t = 0; t < kTableCount; ++t) {
    gProgress[t].expected =
        t == kOrderLine ? orderLines
                        : gTables[t].fixedRows + gTables[t].rowsPerWarehouse * gOptions.warehouses;
    expected += gProgress[t].expected;
  }
  std::printf("Loading %d warehouses into database %s at %s: seed %" PRIu64 ", %lld rows, %s\n",
              gOptions.warehouses, gOptions.database, serverName(), gOptions.seed,
              static_cast<long long>(expected),
              gOptions.rowByRow ? "row by row" : "parallel LOAD DATA LOCAL");
  std::fflush(stdout);

  const double loadStart = nowSeconds();
  if (loadTables(&params, gOptions.database, gOptions.rowByRow) != 0) {
    // Give the space back; nothing of this load is marked complete either way.
    std::fprintf(stderr, "acidkit-load: the load failed; dropping its tables\n");
    dropTables(admin);
    return 1;
  }
  const double loaded = nowSeconds();
  if (admin.runScript(kIndexesSql, "building the secondary indexes failed") != 0) return 1;
  const double indexed = nowSeconds();

  // Per table: the time its statements took, summed over the threads, and the
  // rate of one stream into it.
  std::printf("  %-10s %12s %12s %14s\n", "table", "rows", "stream s", "rows/s/stream");
  for (int t = 0; t < kTableCount; ++t) {
    const TableProgress& p = gProgress[t];
    const double rows = static_cast<double>(p.rows.load());
    std::printf("  %-10s %12.0f %12.2f %14.0f\n", gTables[t].name, rows, p.busy,
                p.busy > 0 ? rows / p.busy : 0.0);
  }
  const double secs = indexed - loadStart;
  std::printf(
      "Loaded %lld rows in %.1f s (rows %.1f s, indexes %.1f s): %.0f rows/s, %.2f s per "
      "warehouse\n",
      static_cast<long long>(expected), secs, loaded - loadStart, indexed - loaded,
      static_cast<double>(expected) / secs, secs / gOptions.warehouses);
  std::fflush(stdout);

  if (checkDatabase(queryIntOf(admin), gOptions.warehouses, orderLines, true) != 0) {
    std::printf("Check FAILED: the load is not marked complete\n");
    return 1;
  }
  if (writeMarker(admin, expected) != 0) return 1;
  std::printf("Load complete: database %s, %d warehouses, seed %" PRIu64 ", %.1f s in all\n",
              gOptions.database, gOptions.warehouses, gOptions.seed, nowSeconds() - gStart);
  return 0;
}

}  // namespace

double nowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int main(int argc, char** argv) {
  gStart = nowSeconds();
  // A server that goes away mid-stream must fail the write, not kill the process.
  signal(SIGPIPE, SIG_IGN);
  if (parseArgs(argc, argv) != 0) return 1;
  if (mysql_library_init(0, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "acidkit-load: cannot initialise the MariaDB client library\n");
    return 1;
  }
  int status;
  {
    Session admin;
    status = admin.open(nullptr);
    if (status == 0) status = gOptions.checkOnly ? checkOnly(admin) : load(admin);
  }
  mysql_library_end();
  return status;
}
