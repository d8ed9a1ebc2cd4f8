#include "connstr.h"

#include <strings.h>

#include <cstdlib>

namespace acidkit::odbc {

ConnectionAttributes parseConnectionString(std::string_view s) {
  ConnectionAttributes out;
  size_t i = 0;
  while (i < s.size()) {
    size_t eq = s.find_first_of("=;", i);
    if (eq == std::string_view::npos || s[eq] == ';') {  // a bare word: skip it
      i = eq == std::string_view::npos ? s.size() : eq + 1;
      continue;
    }
    std::string key(s.substr(i, eq - i));
    std::string value;
    i = eq + 1;
    if (i < s.size() && s[i] == '{') {
      // Braced value: runs to the closing brace, "}}" stands for one brace.
      for (++i; i < s.size(); ++i) {
        if (s[i] == '}') {
          if (i + 1 < s.size() && s[i + 1] == '}') {
            value += '}';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          value += s[i];
        }
      }
      size_t semi = s.find(';', i);
      i = semi == std::string_view::npos ? s.size() : semi + 1;
    } else {
      size_t semi = s.find(';', i);
      size_t end = semi == std::string_view::npos ? s.size() : semi;
      value = s.substr(i, end - i);
      i = end + 1;
    }
    out.emplace_back(std::move(key), std::move(value));
  }
  return out;
}

std::string buildConnectionString(const ConnectionAttributes& attributes) {
  std::string out;
  for (const auto& [key, value] : attributes) {
    if (!out.empty()) out += ';';
    out += key;
    out += '=';
    if (value.find_first_of(";{}") == std::string::npos && value.find('=') == std::string::npos &&
        (value.empty() || (value.front() != ' ' && value.back() != ' '))) {
      out += value;
      continue;
    }
    out += '{';
    for (char c : value) {
      out += c;
      if (c == '}') out += '}';
    }
    out += '}';
  }
  return out;
}

const std::string* findAttribute(const ConnectionAttributes& attributes, std::string_view key) {
  for (const auto& [k, v] : attributes) {
    if (k.size() == key.size() && strncasecmp(k.data(), key.data(), key.size()) == 0) return &v;
  }
  return nullptr;
}

void setAttribute(ConnectionAttributes& attributes, std::string_view key, std::string value) {
  for (auto& [k, v] : attributes) {
    if (k.size() == key.size() && strncasecmp(k.data(), key.data(), key.size()) == 0) {
      v = std::move(value);
      return;
    }
  }
  attributes.emplace_back(std::string(key), std::move(value));
}

std::string withRequiredOptions(std::string_view text) {
  const std::string value(text);
  unsigned long bits = strtoul(value.c_str(), nullptr, 10);
  return std::to_string(bits | kRequiredOptions);
}

}  // namespace acidkit::odbc
