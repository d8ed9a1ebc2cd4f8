// Prepare, bind and execute: rewriting, the split into several connector
// statements, draining after CALL and SQL_NO_DATA for an UPDATE or DELETE
// that matched no row.
#include "statement.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "connector.h"
#include "sqltext.h"

using namespace acidkit::odbc;

namespace {

struct Binding {
  SQLUSMALLINT number;
  SQLSMALLINT io, cType, sqlType;
  SQLULEN size;
  SQLSMALLINT digits;
  SQLPOINTER value;
  SQLLEN bufferLength;
  SQLLEN* indicator;
};

struct Part {
  SQLHSTMT handle;
  int firstMarker;  // markers before this part in the whole text
  int markers;
  StatementKind kind;
};

struct Stmt {
  SQLHSTMT self;
  SQLHDBC dbc;
  std::vector<Part> parts;  // parts[0].handle is self; more parts for a split text
  std::vector<Binding> bindings;
  DiagSource diag{SQL_HANDLE_STMT, nullptr};  // null handle: the statement's own
  std::atomic<SQLHSTMT> running{nullptr};     // part inside SQLExecute, for SQLCancel

  bool split() const { return parts.size() > 1; }
};

std::mutex gStmtsMutex;
std::unordered_map<SQLHSTMT, std::unique_ptr<Stmt>> gStmts;

// Entries are only erased by the thread that frees the statement, so the
// pointer stays valid for the caller.
Stmt* find(SQLHSTMT h) {
  std::lock_guard lock(gStmtsMutex);
  auto it = gStmts.find(h);
  return it == gStmts.end() ? nullptr : it->second.get();
}

void freeExtraParts(Stmt& s) {
  for (size_t i = 1; i < s.parts.size(); ++i)
    gConnector.SQLFreeHandle(SQL_HANDLE_STMT, s.parts[i].handle);
  s.parts.resize(1);
}

std::string_view textOf(SQLCHAR* text, SQLINTEGER length) {
  if (text == nullptr) return {};
  const char* p = reinterpret_cast<const char*>(text);
  return length == SQL_NTS ? std::string_view(p) : std::string_view(p, length < 0 ? 0 : length);
}

SQLCHAR* sqlText(const std::string& s) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

// Connector statement and its own number for parameter `number` of the text.
std::pair<SQLHSTMT, SQLUSMALLINT> route(const Stmt& s, SQLUSMALLINT number) {
  for (const Part& p : s.parts) {
    if (number > p.firstMarker && number <= p.firstMarker + p.markers) {
      return {p.handle, static_cast<SQLUSMALLINT>(number - p.firstMarker)};
    }
  }
  return {s.self, number};
}

SQLRETURN applyBinding(const Stmt& s, const Binding& b) {
  auto [h, n] = route(s, b.number);
  return gConnector.SQLBindParameter(h, n, b.io, b.cType, b.sqlType, b.size, b.digits, b.value,
                                     b.bufferLength, b.indicator);
}

// Bindings survive a new prepare; when the layout of parts changed they are
// laid out again on the new parts.
void rebind(Stmt& s) {
  gConnector.SQLFreeStmt(s.self, SQL_RESET_PARAMS);
  for (const Binding& b : s.bindings) applyBinding(s, b);
}

void failAt(Stmt& s, SQLHANDLE h) {
  s.diag = {SQL_HANDLE_STMT, h == s.self ? nullptr : h};
}

// What the contract asks of a statement after the connector executed it.
SQLRETURN finish(const Part& p, SQLRETURN rc) {
  if (!SQL_SUCCEEDED(rc)) return rc;
  if (p.kind == StatementKind::Call) {
    // A CALL leaves its OUT parameters' result and a status open; until they
    // are read, every other statement of the connection fails with 2014.
    SQLRETURN more;
    while ((more = gConnector.SQLMoreResults(p.handle)) != SQL_NO_DATA) {
      if (!SQL_SUCCEEDED(more)) return more;
    }
  } else if (p.kind == StatementKind::Update || p.kind == StatementKind::Delete) {
    // Rows matched (the connection asks for found rows), not rows changed.
    SQLLEN rows = -1;
    if (SQL_SUCCEEDED(gConnector.SQLRowCount(p.handle, &rows)) && rows == 0) return SQL_NO_DATA;
  }
  return rc;
}

SQLRETURN prepareParts(Stmt& s, const std::string& sql, const std::vector<StatementPart>& texts) {
  const bool wasSplit = s.split();
  freeExtraParts(s);
  if (texts.size() <= 1) {
    s.parts[0] = {s.self, 0, texts.empty() ? 0 : texts[0].markers,
                  texts.empty() ? StatementKind::Other : texts[0].kind};
    SQLRETURN rc = gConnector.SQLPrepare(s.self, sqlText(sql), SQL_NTS);
    if (wasSplit) rebind(s);
    return rc;
  }
  std::vector<Part> parts;
  SQLRETURN result = SQL_SUCCESS;
  for (const StatementPart& t : texts) {
    SQLHSTMT h = s.self;
    SQLRETURN rc = SQL_SUCCESS;
    if (!parts.empty()) rc = gConnector.SQLAllocHandle(SQL_HANDLE_STMT, s.dbc, &h);
    if (!SQL_SUCCEEDED(rc)) {
      s.diag = {SQL_HANDLE_DBC, s.dbc};
    } else {
      parts.push_back({h, t.firstMarker, t.markers, t.kind});
      rc = gConnector.SQLPrepare(h, sqlText(t.text), SQL_NTS);
      if (!SQL_SUCCEEDED(rc)) failAt(s, h);
    }
    if (!SQL_SUCCEEDED(rc)) {
      // Keep the parts until the next prepare: the failed one holds the
      // diagnostics, and the driver manager refuses to execute meanwhile.
      s.parts = std::move(parts);
      return rc;
    }
    if (rc == SQL_SUCCESS_WITH_INFO) result = rc;
  }
  s.parts = std::move(parts);
  rebind(s);
  return result;
}

// Runs every part in order; a failing part stops the text and its
// diagnostics become the statement's.
SQLRETURN executeParts(Stmt& s) {
  SQLRETURN result = SQL_SUCCESS;
  for (const Part& p : s.parts) {
    s.running = p.handle;
    SQLRETURN rc = finish(p, gConnector.SQLExecute(p.handle));
    s.running = nullptr;
    if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE || rc == SQL_NEED_DATA ||
        rc == SQL_STILL_EXECUTING) {
      failAt(s, p.handle);
      return rc;
    }
    // A SELECT's rows are never delivered, its row locks stay.
    gConnector.SQLFreeStmt(p.handle, SQL_CLOSE);
    if (rc == SQL_SUCCESS_WITH_INFO) failAt(s, p.handle);
    result = rc == SQL_SUCCESS && result == SQL_SUCCESS_WITH_INFO ? result : rc;
  }
  return result;
}

// A failed execution may end the whole transaction (txnguard.cpp).
SQLRETURN checked(const Stmt& s, SQLRETURN rc) {
  if (rc == SQL_ERROR) afterFailure(s.dbc, s.diag.handle != nullptr ? s.diag.handle : s.self);
  return rc;
}

}  // namespace

namespace acidkit::odbc {

void registerStatement(SQLHSTMT stmt, SQLHDBC dbc) {
  auto s = std::make_unique<Stmt>();
  s->self = stmt;
  s->dbc = dbc;
  s->parts.push_back({stmt, 0, 0, StatementKind::Other});
  std::lock_guard lock(gStmtsMutex);
  gStmts[stmt] = std::move(s);
}

void forgetStatement(SQLHSTMT stmt) {
  std::unique_ptr<Stmt> s;
  {
    std::lock_guard lock(gStmtsMutex);
    auto it = gStmts.find(stmt);
    if (it == gStmts.end()) return;
    s = std::move(it->second);
    gStmts.erase(it);
  }
  clearOwnDiag(stmt);
  freeExtraParts(*s);
}

void forgetConnection(SQLHDBC dbc) {
  forgetRollback(dbc);
  std::vector<std::unique_ptr<Stmt>> gone;
  {
    std::lock_guard lock(gStmtsMutex);
    for (auto it = gStmts.begin(); it != gStmts.end();) {
      if (it->second->dbc == dbc) {
        gone.push_back(std::move(it->second));
        it = gStmts.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& s : gone) {
    clearOwnDiag(s->self);
    freeExtraParts(*s);
  }
}

DiagSource diagSource(SQLSMALLINT type, SQLHANDLE handle) {
  if (type == SQL_HANDLE_STMT) {
    if (Stmt* s = find(handle); s != nullptr && s->diag.handle != nullptr) return s->diag;
  }
  return {type, handle};
}

}  // namespace acidkit::odbc

extern "C" {

SQLRETURN SQL_API SQLPrepare(SQLHSTMT h, SQLCHAR* text, SQLINTEGER length) {
  clearOwnDiag(h);
  const std::string sql = rewriteSql(textOf(text, length), gDialect);
  Stmt* s = find(h);
  if (s == nullptr) return gConnector.SQLPrepare(h, sqlText(sql), SQL_NTS);
  s->diag = {};
  return prepareParts(*s, sql, splitSql(sql));
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT h) {
  clearOwnDiag(h);
  Stmt* s = find(h);
  if (s == nullptr) return gConnector.SQLExecute(h);
  s->diag = {};
  if (SQLRETURN refused = refuseAfterRollback(s->dbc, h); refused != SQL_SUCCESS) return refused;
  SQLRETURN rc;
  if (s->split()) {
    rc = executeParts(*s);
  } else {
    s->running = h;
    rc = finish(s->parts[0], gConnector.SQLExecute(h));
    s->running = nullptr;
  }
  return checked(*s, rc);
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT h, SQLCHAR* text, SQLINTEGER length) {
  clearOwnDiag(h);
  const std::string sql = rewriteSql(textOf(text, length), gDialect);
  Stmt* s = find(h);
  if (s == nullptr) return gConnector.SQLExecDirect(h, sqlText(sql), SQL_NTS);
  s->diag = {};
  if (SQLRETURN refused = refuseAfterRollback(s->dbc, h); refused != SQL_SUCCESS) return refused;
  const std::vector<StatementPart> texts = splitSql(sql);
  if (texts.size() > 1) {
    SQLRETURN rc = prepareParts(*s, sql, texts);
    return checked(*s, SQL_SUCCEEDED(rc) ? executeParts(*s) : rc);
  }
  const bool wasSplit = s->split();
  freeExtraParts(*s);
  s->parts[0].kind = texts.empty() ? StatementKind::Other : texts[0].kind;
  if (wasSplit) rebind(*s);
  s->running = h;
  SQLRETURN rc = finish(s->parts[0], gConnector.SQLExecDirect(h, sqlText(sql), SQL_NTS));
  s->running = nullptr;
  return checked(*s, rc);
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT h, SQLUSMALLINT number, SQLSMALLINT io,
                                   SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size,
                                   SQLSMALLINT digits, SQLPOINTER value, SQLLEN bufferLength,
                                   SQLLEN* indicator) {
  Stmt* s = find(h);
  const Binding b{number, io, cType, sqlType, size, digits, value, bufferLength, indicator};
  if (s == nullptr) {
    return gConnector.SQLBindParameter(h, number, io, cType, sqlType, size, digits, value,
                                       bufferLength, indicator);
  }
  s->diag = {};
  SQLRETURN rc = applyBinding(*s, b);
  if (!SQL_SUCCEEDED(rc)) {
    failAt(*s, route(*s, number).first);
    return rc;
  }
  for (Binding& old : s->bindings) {
    if (old.number == number) {
      old = b;
      return rc;
    }
  }
  s->bindings.push_back(b);
  return rc;
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT h, SQLSMALLINT* count) {
  Stmt* s = find(h);
  if (s == nullptr || !s->split()) return gConnector.SQLNumParams(h, count);
  s->diag = {};
  if (count != nullptr)
    *count = static_cast<SQLSMALLINT>(s->parts.back().firstMarker + s->parts.back().markers);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT h, SQLUSMALLINT number, SQLSMALLINT* type,
                                   SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  Stmt* s = find(h);
  if (s == nullptr || !s->split()) {
    return gConnector.SQLDescribeParam(h, number, type, size, digits, nullable);
  }
  s->diag = {};
  auto [part, n] = route(*s, number);
  SQLRETURN rc = gConnector.SQLDescribeParam(part, n, type, size, digits, nullable);
  if (!SQL_SUCCEEDED(rc)) failAt(*s, part);
  return rc;
}

// A split text delivers no rows: its SELECTs only lock.
SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT h, SQLSMALLINT* count) {
  Stmt* s = find(h);
  if (s == nullptr || !s->split()) return gConnector.SQLNumResultCols(h, count);
  s->diag = {};
  if (count != nullptr) *count = 0;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT h, SQLLEN* rows) {
  Stmt* s = find(h);
  if (s == nullptr || !s->split()) return gConnector.SQLRowCount(h, rows);
  s->diag = {};
  return gConnector.SQLRowCount(s->parts.back().handle, rows);
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT h, SQLPOINTER* value) {
  SQLRETURN rc = gConnector.SQLParamData(h, value);
  Stmt* s = find(h);
  return s == nullptr || s->split() ? rc : checked(*s, finish(s->parts[0], rc));
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT h, SQLUSMALLINT option) {
  Stmt* s = find(h);
  if (s == nullptr) return gConnector.SQLFreeStmt(h, option);
  s->diag = {};
  if (option == SQL_DROP) {
    forgetStatement(h);
    return gConnector.SQLFreeStmt(h, option);
  }
  if (option == SQL_RESET_PARAMS) s->bindings.clear();
  if (option == SQL_CLOSE || option == SQL_RESET_PARAMS) {
    for (size_t i = 1; i < s->parts.size(); ++i) gConnector.SQLFreeStmt(s->parts[i].handle, option);
  }
  return gConnector.SQLFreeStmt(h, option);
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT h) {
  Stmt* s = find(h);
  if (s != nullptr) {
    s->diag = {};
    for (size_t i = 1; i < s->parts.size(); ++i)
      gConnector.SQLFreeStmt(s->parts[i].handle, SQL_CLOSE);
  }
  return gConnector.SQLCloseCursor(h);
}

// Cancels the part that is executing, which may be one of the extra statements.
SQLRETURN SQL_API SQLCancel(SQLHSTMT h) {
  Stmt* s = find(h);
  SQLHSTMT running = s == nullptr ? nullptr : s->running.load();
  return gConnector.SQLCancel(running != nullptr ? running : h);
}

}  // extern "C"
