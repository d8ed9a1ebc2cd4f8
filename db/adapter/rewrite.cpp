// The rewrites that let MariaDB (sql_mode with PIPES_AS_CONCAT) or
// PostgreSQL accept the programs' statement texts. Each rule touches only code
// outside quoted text and comments; README.md says why each exists.
#include <strings.h>

#include <cstring>

#include "sqltext.h"

namespace acidkit::odbc {
namespace {

bool isKeyword(const Token& t, const char* word) {
  return t.kind == TokenKind::Word && t.text.size() == strlen(word) &&
         strncasecmp(t.text.data(), word, t.text.size()) == 0;
}

bool isPunct(const Token* t, char c) {
  return t != nullptr && t->kind == TokenKind::Punct && t->text[0] == c;
}

bool isBlank(const Token& t) {
  return t.kind == TokenKind::Space || t.kind == TokenKind::Comment;
}

// Nearest token before (step -1) or after (step 1) index i that is not blank.
const Token* neighbour(const std::vector<Token>& tokens, size_t i, int step) {
  for (size_t j = i + step; j < tokens.size(); j += step) {
    if (!isBlank(tokens[j])) return &tokens[j];
  }
  return nullptr;  // j wrapped below zero or ran past the end
}

}  // namespace

std::string rewriteSql(std::string_view text, Dialect dialect) {
  const bool pg = dialect == Dialect::PostgreSQL;
  const std::vector<Token> tokens = lexSql(text);
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    out += t.text;
    if (t.kind == TokenKind::Marker) {
      // The server's lexer reads "?AND" as one token: keep the marker apart.
      if (i + 1 < tokens.size() && tokens[i + 1].kind == TokenKind::Word) out += ' ';
      continue;
    }
    if (t.kind != TokenKind::Word) continue;
    const Token* before = neighbour(tokens, i, -1);
    const Token* after = neighbour(tokens, i, 1);
    if (!pg && isKeyword(t, "VARCHAR") && before != nullptr && isKeyword(*before, "AS") &&
        isPunct(after, ')')) {
      // CAST(x AS VARCHAR) needs a length on MariaDB; CHAR casts to text alike.
      out.resize(out.size() - t.text.size());
      out += "CHAR";
    } else if (isKeyword(t, "SYSDATE") && !isPunct(before, '.') &&
               !(before != nullptr && isKeyword(*before, "AS")) && !isPunct(after, '(')) {
      // Bare SYSDATE is a column name to MariaDB outside ORACLE mode, and
      // unknown to PostgreSQL.
      if (pg) {
        out.resize(out.size() - t.text.size());
        out += "LOCALTIMESTAMP(0)";
      } else {
        out += "()";
      }
    } else if (pg && isKeyword(t, "TO_DATE") && !isPunct(before, '.') && isPunct(after, '(')) {
      // PostgreSQL's own TO_DATE drops the time of day.
      out.resize(out.size() - t.text.size());
      out += "TO_TIMESTAMP";
    }
  }
  return out;
}

}  // namespace acidkit::odbc
