#include "ConsistencyCheck.h"

#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "ConditionQueries.h"
#include "Odbc.h"

namespace acidkit {

const char* statusName(ConditionStatus status) {
  switch (status) {
    case ConditionStatus::kHolds:
      return "holds";
    case ConditionStatus::kViolated:
      return "violated";
    case ConditionStatus::kNotApplicable:
      return "not-applicable";
    case ConditionStatus::kError:
      break;
  }
  return "error";
}

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const ConditionQuery* queryOf(int number) {
  for (const ConditionQuery& q : kConditionQueries) {
    if (q.number == number) return &q;
  }
  return nullptr;
}

// The query's text for warehouses first..last.
std::string forRange(const char* sql, int first, int last) {
  std::string text = sql;
  for (auto [token, value] : {std::pair{"{A}", first}, std::pair{"{B}", last}}) {
    const std::string number = std::to_string(value);
    for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at)) {
      text.replace(at, 3, number);
    }
  }
  return text;
}

// One statement with its rows read as text.
class Query {
 public:
  explicit Query(SQLHDBC dbc) : dbc_(dbc) {}

  // Runs `text`; false with error() when it or its description fails.
  bool run(const std::string& text) {
    error_.clear();
    if (!stmt_.held() && !stmt_.allocate(dbc_)) return fail(SQL_HANDLE_DBC, dbc_);
    SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    if (!succeeded(SQLExecDirect(stmt_.get(), (SQLCHAR*)text.c_str(), SQL_NTS))) return fail();
    SQLSMALLINT columns = 0;
    if (!succeeded(SQLNumResultCols(stmt_.get(), &columns))) return fail();
    names_.assign(columns, "");
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
      SQLCHAR name[128] = {};
      if (!succeeded(SQLDescribeCol(stmt_.get(), c, name, sizeof name, nullptr, nullptr, nullptr,
                                    nullptr, nullptr))) {
        return fail();
      }
      // Some databases fold unquoted names to lower case; the kit's are upper.
      names_[c - 1] = reinterpret_cast<char*>(name);
      for (char& ch : names_[c - 1])
        ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    }
    return true;
  }

  // The next row into *fields; false at the end or on failure (error() set).
  bool next(std::vector<Field>* fields) {
    SQLRETURN rc = SQLFetch(stmt_.get());
    if (rc == SQL_NO_DATA) return false;
    if (!succeeded(rc)) return fail();
    fields->assign(names_.size(), Field{});
    for (size_t c = 0; c < names_.size(); ++c) {
      Field& f = (*fields)[c];
      f.name = names_[c];
      char value[128] = {};
      SQLLEN length = 0;
      if (!succeeded(SQLGetData(stmt_.get(), static_cast<SQLUSMALLINT>(c + 1), SQL_C_CHAR, value,
                                sizeof value, &length))) {
        return fail();
      }
      f.isNull = length == SQL_NULL_DATA;
      if (!f.isNull) f.value = value;
    }
    return true;
  }

  void close() {
    if (stmt_.held()) SQLFreeStmt(stmt_.get(), SQL_CLOSE);
  }
  const std::string& error() const { return error_; }

 private:
  bool fail(SQLSMALLINT type = SQL_HANDLE_STMT, SQLHANDLE handle = SQL_NULL_HANDLE) {
    error_ = diagnosticText(type, handle != SQL_NULL_HANDLE ? handle : stmt_.get());
    return false;
  }

  SQLHDBC dbc_;
  OdbcStatement stmt_;
  std::vector<std::string> names_;
  std::string error_;
};

// A piece of work for one connection: a condition over a range of warehouses,
// or the decision whether condition 11 applies.
struct Job {
  size_t result;  // index into the results
  int first;
  int last;
};

// One connection's transaction: REPEATABLE READ with autocommit off while it
// runs, the connection's settings as they were after it.
class Snapshot {
 public:
  explicit Snapshot(SQLHDBC dbc) : dbc_(dbc) {}
  ~Snapshot() { end(); }

  bool begin(std::string* error) {
    SQLULEN isolation = 0;
    if (succeeded(SQLGetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, &isolation, 0, nullptr))) {
      isolation_ = isolation;
    }
    if (!succeeded(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF,
                                     SQL_IS_UINTEGER)) ||
        !succeeded(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION,
                                     (SQLPOINTER)SQL_TXN_REPEATABLE_READ, SQL_IS_UINTEGER))) {
      *error = "cannot start a REPEATABLE READ transaction with autocommit off: " +
               diagnosticText(SQL_HANDLE_DBC, dbc_);
      end();
      return false;
    }
    open_ = true;
    return true;
  }

  // Rolls back (nothing was written) and puts the settings back.
  void end() {
    if (open_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    open_ = false;
    if (isolation_ != 0) {
      SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)isolation_, SQL_IS_UINTEGER);
      isolation_ = 0;
    }
    SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, SQL_IS_UINTEGER);
  }

 private:
  SQLHDBC dbc_;
  SQLULEN isolation_ = 0;
  bool open_ = false;
};

// The shared state of one check: the jobs still to do and the results.
class Work {
 public:
  Work(const CheckRequest& request, CheckResult* result) : request_(request), result_(result) {}

  void add(Job job) { jobs_.push_back(job); }
  bool take(Job* job) {
    std::lock_guard lock(mutex_);
    if (nextJob_ >= jobs_.size()) return false;
    *job = jobs_[nextJob_++];
    return true;
  }

  // Runs one job's query on `query` and adds what it found.
  void run(Query& query, const Job& job) {
    ConditionResult& r = result_->conditions[job.result];
    auto start = std::chrono::steady_clock::now();
    std::vector<Violation> found;
    long long count = 0;
    std::string error;
    if (query.run(forRange(queryOf(r.number)->sql, job.first, job.last))) {
      const int keys = queryOf(r.number)->keyColumns;
      std::vector<Field> row;
      while (query.next(&row)) {
        ++count;
        if (found.size() >= request_.maxViolations) continue;
        Violation v;
        v.key.assign(row.begin(), row.begin() + keys);
        v.values.assign(row.begin() + keys, row.end());
        found.push_back(std::move(v));
      }
    }
    if (!query.error().empty()) error = query.error();
    query.close();
    std::lock_guard lock(mutex_);
    r.seconds += secondsSince(start);
    if (!error.empty()) {
      r.status = ConditionStatus::kError;
      if (r.note.empty()) r.note = error;
      return;
    }
    r.violationCount += count;
    for (Violation& v : found) r.violations.push_back(std::move(v));
  }

 private:
  const CheckRequest& request_;
  CheckResult* result_;
  std::mutex mutex_;
  std::vector<Job> jobs_;
  size_t nextJob_ = 0;
};

bool keyLess(const Violation& a, const Violation& b) {
  for (size_t i = 0; i < a.key.size() && i < b.key.size(); ++i) {
    long long x = atoll(a.key[i].value.c_str());
    long long y = atoll(b.key[i].value.c_str());
    if (x != y) return x < y;
  }
  return false;
}

// Decides on the first connection, before any job, whether condition 11
// applies: it does until some order above the initial population's delivered
// ones (1 to 2100 in each district) has a carrier.
bool decideCondition11(Query& query, int first, int last, ConditionResult* r) {
  if (!query.run(forRange(kDeliveredSinceLoad, first, last))) {
    r->status = ConditionStatus::kError;
    r->note = "cannot tell whether an order has been delivered since the load: " + query.error();
    return false;
  }
  std::vector<Field> row;
  bool delivered = query.next(&row);
  std::string error = query.error();
  query.close();
  if (!error.empty()) {
    r->status = ConditionStatus::kError;
    r->note = "cannot tell whether an order has been delivered since the load: " + error;
    return false;
  }
  if (!delivered) return true;
  r->status = ConditionStatus::kNotApplicable;
  r->note = "order W_ID=" + row[0].value + " D_ID=" + row[1].value + " O_ID=" + row[2].value +
            " has a carrier: a Delivery has run since the load (the initial population "
            "delivers orders 1 to 2100 only), and this condition holds only until the first "
            "Delivery";
  return false;
}

// The range to check: the request's, or WAREHOUSE's smallest to largest W_ID.
// A range without any warehouse is an error: nothing would be checked.
bool resolveRange(SQLHDBC dbc, const CheckRequest& request, CheckResult* result) {
  Query query(dbc);
  std::vector<Field> row;
  if (request.firstWarehouse != 0 || request.lastWarehouse != 0) {
    const int first = request.firstWarehouse;
    const int last = request.lastWarehouse;
    const std::string range = std::to_string(first) + "-" + std::to_string(last);
    if (first < 1 || last < first) {
      result->error = "the warehouse range " + range + " is empty";
      return false;
    }
    if (!query.run(forRange(kWarehousesInRange, first, last)) || !query.next(&row)) {
      result->error = "cannot count the warehouses " + range + " in WAREHOUSE: " +
                      (query.error().empty() ? std::string("no row") : query.error());
      return false;
    }
    query.close();
    if (atoll(row[0].value.c_str()) == 0) {
      result->error = "WAREHOUSE has no warehouse in the range " + range;
      return false;
    }
    result->firstWarehouse = first;
    result->lastWarehouse = last;
    return true;
  }
  if (!query.run(kWarehouseRange) || !query.next(&row)) {
    result->error = "cannot read the warehouse numbers from WAREHOUSE: " +
                    (query.error().empty() ? std::string("no row") : query.error());
    return false;
  }
  query.close();
  if (row[0].isNull) {
    result->error = "table WAREHOUSE is empty: nothing to check (is the database loaded?)";
    return false;
  }
  result->firstWarehouse = atoi(row[0].value.c_str());
  result->lastWarehouse = atoi(row[1].value.c_str());
  return true;
}

}  // namespace

CheckResult checkConsistency(SQLHDBC connection, const CheckRequest& request) {
  return checkConsistency(std::vector<SQLHDBC>{connection}, request);
}

CheckResult checkConsistency(const std::vector<SQLHDBC>& connections, const CheckRequest& request) {
  auto start = std::chrono::steady_clock::now();
  CheckResult result;
  std::vector<ConditionResult> planned;
  std::vector<int> numbers = request.conditions;
  if (numbers.empty()) {
    for (int n = 1; n <= kConditionCount; ++n) numbers.push_back(n);
  }
  for (int n : numbers) {
    const ConditionQuery* q = queryOf(n);
    if (q == nullptr) {
      result.error = "there is no consistency condition " + std::to_string(n) + " (1 to 12)";
      return result;
    }
    ConditionResult r;
    r.number = n;
    r.rule = q->rule;
    r.scope = q->scope;
    r.status = ConditionStatus::kHolds;
    planned.push_back(r);
  }
  if (connections.empty()) {
    result.error = "no connection to check on";
    return result;
  }

  std::vector<std::unique_ptr<Snapshot>> snapshots;
  for (SQLHDBC dbc : connections) {
    snapshots.push_back(std::make_unique<Snapshot>(dbc));
    if (!snapshots.back()->begin(&result.error)) return result;
  }
  result.snapshots = static_cast<int>(connections.size());
  // The first connection's snapshot is taken here, by its first read.
  if (!resolveRange(connections[0], request, &result)) return result;
  result.conditions = std::move(planned);

  Work work(request, &result);
  const int first = result.firstWarehouse;
  const int last = result.lastWarehouse;
  const int slice = request.sliceWarehouses > 0 ? request.sliceWarehouses : last - first + 1;
  {
    Query query(connections[0]);
    for (size_t i = 0; i < result.conditions.size(); ++i) {
      ConditionResult& r = result.conditions[i];
      if (r.number == 11 && !decideCondition11(query, first, last, &r)) continue;
      if (queryOf(r.number)->wholeRange) work.add({i, first, last});
    }
  }
  for (int from = first; from <= last; from += slice) {
    const int to = last - from < slice ? last : from + slice - 1;
    for (size_t i = 0; i < result.conditions.size(); ++i) {
      const ConditionResult& r = result.conditions[i];
      if (r.status == ConditionStatus::kHolds && !queryOf(r.number)->wholeRange) {
        work.add({i, from, to});
      }
    }
  }

  auto worker = [&work](SQLHDBC dbc) {
    Query query(dbc);
    Job job;
    while (work.take(&job)) work.run(query, job);
  };
  std::vector<std::thread> threads;
  for (size_t c = 1; c < connections.size(); ++c) threads.emplace_back(worker, connections[c]);
  worker(connections[0]);
  for (std::thread& t : threads) t.join();
  snapshots.clear();

  for (ConditionResult& r : result.conditions) {
    if (r.status == ConditionStatus::kNotApplicable || r.status == ConditionStatus::kError) {
      continue;
    }
    if (r.violationCount > 0) r.status = ConditionStatus::kViolated;
    // Slices done by several connections arrive in any order.
    std::stable_sort(r.violations.begin(), r.violations.end(), keyLess);
    if (r.violations.size() > request.maxViolations) r.violations.resize(request.maxViolations);
  }
  result.completed = true;
  result.seconds = secondsSince(start);
  return result;
}

bool parseConditionList(const std::string& text, std::vector<int>* conditions, std::string* error) {
  conditions->clear();
  bool seen[kConditionCount + 1] = {};
  size_t from = 0;
  while (from <= text.size()) {
    size_t comma = text.find(',', from);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(from, comma - from);
    int a = 0;
    int b = 0;
    char extra = 0;
    int fields = sscanf(item.c_str(), "%d-%d%c", &a, &b, &extra);
    if (fields == 1 && item.find('-') == std::string::npos) b = a;
    if (!(fields == 2 || (fields == 1 && b == a)) || item.empty() ||
        item.find_first_not_of("0123456789-") != std::string::npos || a < 1 ||
        b > kConditionCount || a > b) {
      *error = "'" + item + "' is not a condition number 1 to 12 or a range of them such as 5-8";
      return false;
    }
    for (int n = a; n <= b; ++n) {
      if (seen[n]) {
        *error = "condition " + std::to_string(n) + " is listed twice";
        return false;
      }
      seen[n] = true;
      conditions->push_back(n);
    }
    from = comma + 1;
  }
  return true;
}

int countStatus(const CheckResult& result, ConditionStatus status) {
  int n = 0;
  for (const ConditionResult& r : result.conditions) n += r.status == status ? 1 : 0;
  return n;
}

namespace {

std::string fieldsText(const std::vector<Field>& fields) {
  std::string text;
  for (const Field& f : fields) {
    if (!text.empty()) text += ' ';
    text += f.name + "=" + (f.isNull ? "NULL" : f.value);
  }
  return text;
}

}  // namespace

std::string formatCheckResult(const CheckResult& result) {
  std::string out;
  char line[512];
  if (!result.completed) return "Consistency check could not run: " + result.error + "\n";
  for (const ConditionResult& r : result.conditions) {
    const char* status = r.status == ConditionStatus::kHolds           ? "holds"
                         : r.status == ConditionStatus::kViolated      ? "VIOLATED"
                         : r.status == ConditionStatus::kNotApplicable ? "not applicable"
                                                                       : "ERROR";
    snprintf(line, sizeof line, "Condition %2d %-15s %s (%s)", r.number, status, r.rule, r.scope);
    out += line;
    if (r.status == ConditionStatus::kViolated) {
      const ConditionQuery* q = queryOf(r.number);
      out += ": " + std::to_string(r.violationCount) + " " + q->unit +
             (r.violationCount == 1 ? "" : "s");
      if (r.violationCount > static_cast<long long>(r.violations.size())) {
        out += ", the first " + std::to_string(r.violations.size()) + " listed";
      }
    }
    out += "\n";
    for (const Violation& v : r.violations) {
      out += "    " + fieldsText(v.key) + ": " + fieldsText(v.values) + "\n";
    }
    if (!r.note.empty()) out += "    " + r.note + "\n";
  }
  return out;
}

}  // namespace acidkit
