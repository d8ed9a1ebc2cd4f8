#include "sqltext.h"

namespace acidkit::odbc {
namespace {

bool isWordChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c >= 0x80;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// End of a quoted text opened at `start`: the quote doubled or (outside
// identifiers) a backslash escape continue it; an unclosed quote runs to the end.
size_t quotedEnd(std::string_view s, size_t start) {
  const char q = s[start];
  size_t i = start + 1;
  while (i < s.size()) {
    if (s[i] == '\\' && q != '`') {
      i += 2;
    } else if (s[i] == q) {
      if (i + 1 < s.size() && s[i + 1] == q) {
        i += 2;
      } else {
        return i + 1;
      }
    } else {
      ++i;
    }
  }
  return s.size();
}

// End of a comment starting at i, or i when none starts there.
size_t commentEnd(std::string_view s, size_t i) {
  const bool dashDash = s.compare(i, 2, "--") == 0 && (i + 2 == s.size() || isSpace(s[i + 2]));
  if (dashDash || s[i] == '#') {
    size_t e = s.find('\n', i);
    return e == std::string_view::npos ? s.size() : e;
  }
  if (s.compare(i, 2, "/*") == 0) {
    size_t e = s.find("*/", i + 2);
    return e == std::string_view::npos ? s.size() : e + 2;
  }
  return i;
}

}  // namespace

std::vector<Token> lexSql(std::string_view s) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    size_t end = i + 1;
    TokenKind kind = TokenKind::Punct;
    if (c == '\'' || c == '"' || c == '`') {
      kind = TokenKind::Quoted;
      end = quotedEnd(s, i);
    } else if (size_t ce = commentEnd(s, i); ce != i) {
      kind = TokenKind::Comment;
      end = ce;
    } else if (isSpace(c)) {
      kind = TokenKind::Space;
      while (end < s.size() && isSpace(s[end])) ++end;
    } else if (isWordChar(c)) {
      kind = TokenKind::Word;
      while (end < s.size() && isWordChar(s[end])) ++end;
    } else if (c == '?') {
      kind = TokenKind::Marker;
    }
    tokens.push_back({kind, s.substr(i, end - i)});
    i = end;
  }
  return tokens;
}

}  // namespace acidkit::odbc
