// Statement texts as the adapter sees them: a small lexer that knows where
// quoted text and comments are, the rewrites that make the server accept the
// programs' dialect, and the split of a text into its statements.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace acidkit::odbc {

enum class TokenKind { Word, Marker, Quoted, Comment, Space, Punct };

struct Token {
  TokenKind kind;
  std::string_view text;
};

// Cuts text into tokens; the tokens' texts concatenate back to the input.
std::vector<Token> lexSql(std::string_view text);

// The server behind the adapter, whose dialect the rewrites produce.
enum class Dialect { MariaDB, PostgreSQL };

// The text with the rewrites of README.md for that dialect applied.
std::string rewriteSql(std::string_view text, Dialect dialect = Dialect::MariaDB);

enum class StatementKind { Other, Select, Call, Update, Delete };

// Kind of a statement by its first keyword ({call ...} and {? = call ...} count as Call).
StatementKind statementKind(std::string_view text);

struct StatementPart {
  std::string text;  // without the separating ';' and surrounding blanks
  int firstMarker;   // markers before this part in the whole text
  int markers;       // markers in this part: numbers firstMarker + 1 .. + markers
  StatementKind kind;
};

// The statements of a text separated by ';' outside quotes and comments, in
// order; parts holding nothing but blanks or comments are dropped.
std::vector<StatementPart> splitSql(std::string_view text);

}  // namespace acidkit::odbc
