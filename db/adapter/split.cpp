// A text of several statements is prepared as separate statements; the
// parameter markers keep their numbers across the whole text.
#include <strings.h>

#include <cstring>

#include "sqltext.h"

namespace acidkit::odbc {
namespace {

bool isBlank(const Token& t) {
  return t.kind == TokenKind::Space || t.kind == TokenKind::Comment;
}

bool equalsIgnoreCase(std::string_view a, const char* b) {
  return a.size() == strlen(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

}  // namespace

StatementKind statementKind(std::string_view text) {
  for (const Token& t : lexSql(text)) {
    // Skip the ODBC call escape's "{" and "? =" in front of CALL.
    if (isBlank(t) || t.kind == TokenKind::Marker || t.text == "{" || t.text == "=") continue;
    if (t.kind != TokenKind::Word) return StatementKind::Other;
    if (equalsIgnoreCase(t.text, "SELECT")) return StatementKind::Select;
    if (equalsIgnoreCase(t.text, "CALL")) return StatementKind::Call;
    if (equalsIgnoreCase(t.text, "UPDATE")) return StatementKind::Update;
    if (equalsIgnoreCase(t.text, "DELETE")) return StatementKind::Delete;
    return StatementKind::Other;
  }
  return StatementKind::Other;
}

std::vector<StatementPart> splitSql(std::string_view text) {
  std::vector<StatementPart> parts;
  const std::vector<Token> tokens = lexSql(text);
  size_t begin = 0;
  int markers = 0;
  for (size_t i = 0; i <= tokens.size(); ++i) {
    if (i < tokens.size() && !(tokens[i].kind == TokenKind::Punct && tokens[i].text == ";"))
      continue;
    // Tokens [begin, i) form one statement; trim blanks at both ends.
    size_t first = begin, last = i;
    while (first < last && tokens[first].kind == TokenKind::Space) ++first;
    while (last > first && tokens[last - 1].kind == TokenKind::Space) --last;
    StatementPart part{{}, markers, 0, StatementKind::Other};
    bool hasCode = false;
    for (size_t j = first; j < last; ++j) {
      part.text += tokens[j].text;
      if (tokens[j].kind == TokenKind::Marker) ++part.markers;
      if (!isBlank(tokens[j])) hasCode = true;
    }
    markers += part.markers;
    if (hasCode) {
      part.kind = statementKind(part.text);
      parts.push_back(std::move(part));
    }
    begin = i + 1;
  }
  return parts;
}

}  // namespace acidkit::odbc
