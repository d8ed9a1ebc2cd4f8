// ODBC connection strings ("KEY=value;..." with {braced} values).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace acidkit::odbc {

using ConnectionAttributes = std::vector<std::pair<std::string, std::string>>;

ConnectionAttributes parseConnectionString(std::string_view text);
std::string buildConnectionString(const ConnectionAttributes& attributes);

// Value of key (case-insensitive), or nullptr.
const std::string* findAttribute(const ConnectionAttributes& attributes, std::string_view key);
void setAttribute(ConnectionAttributes& attributes, std::string_view key, std::string value);

// The connector's OPTION bits the adapter relies on: with 2 (found rows) an
// UPDATE reports the rows it matched, so a row count of 0 means no match.
constexpr unsigned long kRequiredOptions = 2;

// OPTION value with the required bits added; text holds the value already
// set (connection string or data source entry), empty for none.
std::string withRequiredOptions(std::string_view text);

}  // namespace acidkit::odbc
