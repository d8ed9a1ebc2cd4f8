// Security of the reference database as it runs: reachable from this machine
// only, the kit's login confined to the kit's databases, no account that logs
// in without a password, and no password in what the scripts print or write
// except the kit's fixed login.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include "Reliability.h"

using namespace acidkit_test;

namespace {

const std::string kKitPassword = kPassword;

// Rows of an administrator's query on the shared server, tab-separated.
std::vector<std::vector<std::string>> query(const std::string& sql) {
  RunResult r = Server::shared().refdb("sql -N -r -e " + shellQuote(sql));
  EXPECT_EQ(r.status, 0) << sql << "\n" << r.output;
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : lines(r.output)) {
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
      fields.push_back(line.substr(from, tab - from));
    }
    fields.push_back(line.substr(from));
    rows.push_back(fields);
  }
  return rows;
}

std::string value(const std::string& sql) {
  auto rows = query(sql);
  return rows.empty() || rows[0].empty() ? "" : rows[0][0];
}

TEST(Security, ListensOnLoopbackAndItsSocketOnly) {
  const int pid = Server::shared().pid();
  ASSERT_GT(pid, 0) << "the reference server is not running (db/refdb start)";
  const std::string port = value("SELECT @@port");
  const std::string socket = value("SELECT @@socket");
  EXPECT_EQ(value("SELECT @@bind_address"), "127.0.0.1");

  // Every listening socket of the server process.
  RunResult ss = run("ss -Hlnp -t -u -x -w 2>/dev/null | grep 'pid=" + std::to_string(pid) + ",'");
  std::set<std::string> listening;
  for (const std::string& line : lines(ss.output)) {
    std::istringstream words(line);
    std::string type, state, recv, send, local;
    words >> type >> state >> recv >> send >> local;
    listening.insert(type + " " + local);
  }
  EXPECT_EQ(listening, (std::set<std::string>{"tcp 127.0.0.1:" + port, "u_str " + socket}))
      << ss.output;

  // And nothing answers on this machine's other addresses.
  RunResult addresses = run("hostname -I");
  std::istringstream list(addresses.output);
  for (std::string address; list >> address;) {
    if (address.rfind("127.", 0) == 0 || address.find(':') != std::string::npos) continue;
    RunResult probe = run("timeout 5 bash -c 'exec 3<>/dev/tcp/" + address + "/" + port + "'");
    EXPECT_NE(probe.status, 0) << "the server answers on " << address << ":" << port;
  }
}

TEST(Security, TheKitLoginHasPrivilegesOnTheKitsDatabasesAlone) {
  auto hosts = query("SELECT Host FROM mysql.global_priv WHERE User = 'acidtest' ORDER BY Host");
  ASSERT_EQ(hosts.size(), 2u);
  EXPECT_EQ(hosts[0][0], "127.0.0.1");
  EXPECT_EQ(hosts[1][0], "localhost");
  // Global: USAGE only.
  EXPECT_EQ(value("SELECT GROUP_CONCAT(DISTINCT PRIVILEGE_TYPE) FROM "
                  "information_schema.USER_PRIVILEGES WHERE GRANTEE LIKE '''acidtest''@%'"),
            "USAGE");
  // Databases: the kit's and acidkit_<something> (the underscore literal).
  auto schemas = query(
      "SELECT DISTINCT TABLE_SCHEMA FROM information_schema.SCHEMA_PRIVILEGES "
      "WHERE GRANTEE LIKE '''acidtest''@%' ORDER BY TABLE_SCHEMA");
  ASSERT_EQ(schemas.size(), 2u);
  EXPECT_EQ(schemas[0][0], "acidkit");
  EXPECT_EQ(schemas[1][0], "acidkit\\_%");
  // Nothing on single tables, columns, routines, proxies or roles elsewhere.
  EXPECT_EQ(value("SELECT (SELECT COUNT(*) FROM mysql.tables_priv WHERE User = 'acidtest') + "
                  "(SELECT COUNT(*) FROM mysql.columns_priv WHERE User = 'acidtest') + "
                  "(SELECT COUNT(*) FROM mysql.procs_priv WHERE User = 'acidtest') + "
                  "(SELECT COUNT(*) FROM mysql.proxies_priv WHERE User = 'acidtest') + "
                  "(SELECT COUNT(*) FROM mysql.roles_mapping WHERE User = 'acidtest')"),
            "0");

  // And as the kit's login itself, through TESTDB naming the kit's database.
  const std::string dir = freshRunDir("security_login");
  ASSERT_EQ(Server::shared().refdb("odbcini acidkit " + dir).status, 0);
  setenv("ODBCSYSINI", dir.c_str(), 1);
  setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
  Sql sql;
  ASSERT_TRUE(sql.ok()) << sql.lastError();
  EXPECT_FALSE(sql.exec("SELECT COUNT(*) FROM mysql.user"));
  EXPECT_FALSE(sql.exec("CREATE DATABASE acidkitx"));  // no underscore: not the kit's
  EXPECT_FALSE(sql.exec("CREATE USER 'probe'@'localhost'"));
  EXPECT_FALSE(sql.exec("SET GLOBAL innodb_lock_wait_timeout = 5"));
  EXPECT_TRUE(sql.exec("CREATE DATABASE acidkit_rel_security_probe")) << sql.lastError();
  EXPECT_TRUE(sql.exec("DROP DATABASE acidkit_rel_security_probe")) << sql.lastError();
}

TEST(Security, NoAccountLogsInWithoutAPassword) {
  // Each account: locked, or a password hash, or (root and the server's own
  // user) the OS user over the socket alone, its password entry invalid.
  auto accounts = query(
      "SELECT User, Host, JSON_VALUE(Priv, '$.plugin'), "
      "COALESCE(JSON_VALUE(Priv, '$.authentication_string'), ''), "
      "COALESCE(JSON_VALUE(Priv, '$.account_locked'), 0), "
      "COALESCE(JSON_EXTRACT(Priv, '$.auth_or'), '') FROM mysql.global_priv");
  ASSERT_FALSE(accounts.empty());
  for (const auto& a : accounts) {
    ASSERT_EQ(a.size(), 6u);
    const std::string account = a[0] + "@" + a[1];
    EXPECT_NE(a[0], "") << "anonymous account " << account;
    if (a[4] == "1") continue;  // locked: no login at all
    const bool socketOnly = a[3] == "invalid" && a[5] == R"([{}, {"plugin": "unix_socket"}])";
    const bool passwordHash = std::regex_match(a[3], std::regex(R"(\*[0-9A-F]{40})"));
    if (a[0] == "root") {
      EXPECT_TRUE(socketOnly) << "root must log in over the socket alone: " << a[2] << " " << a[3]
                              << " " << a[5];
    } else {
      EXPECT_TRUE(socketOnly || passwordHash) << account << " may log in without a password";
    }
  }
  // Logins with an empty password, over TCP and over the socket, all refused.
  const std::string port = value("SELECT @@port");
  const std::string socket = value("SELECT @@socket");
  for (const auto& a : accounts) {
    for (const std::string& via : {"--protocol=TCP --host=127.0.0.1 --port=" + port,
                                   "--protocol=SOCKET --socket=" + socket}) {
      RunResult login = run("mariadb --no-defaults " + via + " --user=" + shellQuote(a[0]) +
                            " --password= -e 'SELECT 1' </dev/null");
      // Root as the OS user root over the socket is the one way in.
      if (a[0] == "root" && via.find("SOCKET") != std::string::npos) continue;
      EXPECT_NE(login.status, 0) << a[0] << " logged in without a password via " << via;
    }
  }
  // Root over TCP is refused whatever the password (no password exists).
  RunResult rootTcp = run("mariadb --no-defaults --protocol=TCP --host=127.0.0.1 --port=" + port +
                          " --user=root --password=" + kKitPassword + " -e 'SELECT 1'");
  EXPECT_NE(rootTcp.status, 0);
}

TEST(Security, ScriptsPrintNoPasswordButTheKitsLogin) {
  const std::string refdb = sourcePath("db/refdb");
  const std::string dir = freshRunDir("security_odbcini");
  std::string printed;
  for (const std::string& args : {std::string("--help"), std::string("status"), std::string("env"),
                                  std::string("start"), "odbcini acidkit " + dir}) {
    printed += Server::shared().refdb(args).output;
  }
  // What db/refdb writes for the server and the driver manager.
  const std::string state = "/var/lib/acidkit";
  for (const std::string& file :
       {state + "/my.cnf", state + "/odbc/odbc.ini", state + "/odbc/odbcinst.ini",
        dir + "/odbc.ini", dir + "/odbcinst.ini"}) {
    printed += readFile(file);
  }
  ASSERT_NE(printed, "");
  // No password hash of any account, and every value given for a password
  // is the kit's fixed one.
  EXPECT_FALSE(std::regex_search(printed, std::regex(R"(\*[0-9A-Fa-f]{40})"))) << printed;
  std::regex given(R"((password|passwd|pwd|identified by)\s*[=:]?\s*'?([^'\s;]+))",
                   std::regex::icase);
  for (auto it = std::sregex_iterator(printed.begin(), printed.end(), given);
       it != std::sregex_iterator(); ++it) {
    const std::string v = (*it)[2];
    // Option names and placeholders in usage texts are no values.
    if (v.rfind("-", 0) == 0 || v == "P" || v == "for") continue;
    EXPECT_EQ(v, kKitPassword) << "a password printed: " << (*it)[0];
  }
}

}  // namespace
