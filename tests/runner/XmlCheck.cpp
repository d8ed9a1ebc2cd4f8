#include "XmlCheck.h"

#include <cctype>
#include <set>
#include <vector>

namespace {

class Checker {
 public:
  explicit Checker(std::string_view xml) : s_(xml) {}

  std::string run() {
    if (s_.starts_with("<?xml")) {
      size_t end = s_.find("?>");
      if (end == std::string_view::npos) return at("unterminated XML declaration");
      i_ = end + 2;
    }
    bool rootSeen = false;
    while (i_ < s_.size()) {
      if (s_[i_] != '<') {
        if (stack_.empty() && !isspace(static_cast<unsigned char>(s_[i_]))) {
          return at("text outside the root element");
        }
        if (std::string p = text(); !p.empty()) return p;
        continue;
      }
      if (s_.substr(i_).starts_with("<!--")) {
        size_t end = s_.find("-->", i_ + 4);
        if (end == std::string_view::npos) return at("unterminated comment");
        i_ = end + 3;
      } else if (s_.substr(i_).starts_with("</")) {
        i_ += 2;
        std::string name = readName();
        if (name.empty()) return at("end tag without a name");
        skipSpace();
        if (i_ >= s_.size() || s_[i_] != '>') return at("bad end tag");
        ++i_;
        if (stack_.empty() || stack_.back() != name)
          return at("end tag </" + name + "> does not match");
        stack_.pop_back();
      } else {
        if (stack_.empty() && rootSeen) return at("a second root element");
        rootSeen = true;
        if (std::string p = startTag(); !p.empty()) return p;
      }
    }
    if (!stack_.empty()) return "element <" + stack_.back() + "> is not closed";
    if (!rootSeen) return "no root element";
    return "";
  }

 private:
  std::string at(const std::string& what) const {
    return what + " at offset " + std::to_string(i_);
  }

  static bool nameChar(char c) {
    return isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':';
  }

  std::string readName() {
    size_t from = i_;
    if (i_ < s_.size() &&
        (isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '-' || s_[i_] == '.')) {
      return "";
    }
    while (i_ < s_.size() && nameChar(s_[i_])) ++i_;
    return std::string(s_.substr(from, i_ - from));
  }

  void skipSpace() {
    while (i_ < s_.size() && isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }

  // One reference starting at '&'.
  std::string reference() {
    size_t semi = s_.find(';', i_);
    if (semi == std::string_view::npos || semi - i_ > 10) return at("bare '&'");
    std::string_view ref = s_.substr(i_ + 1, semi - i_ - 1);
    static const std::set<std::string_view> kNamed{"amp", "lt", "gt", "quot", "apos"};
    bool ok = kNamed.count(ref) > 0;
    if (!ok && ref.size() > 1 && ref[0] == '#') {
      bool hex = ref[1] == 'x';
      std::string_view digits = ref.substr(hex ? 2 : 1);
      ok = !digits.empty();
      for (char c : digits)
        ok = ok && (hex ? isxdigit(static_cast<unsigned char>(c))
                        : isdigit(static_cast<unsigned char>(c)));
    }
    if (!ok) return at("unknown reference &" + std::string(ref) + ";");
    i_ = semi + 1;
    return "";
  }

  static bool allowedChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x20 || c == '\t' || c == '\n' || c == '\r';
  }

  std::string text() {
    while (i_ < s_.size() && s_[i_] != '<') {
      if (!allowedChar(s_[i_])) return at("control character");
      if (s_[i_] == '&') {
        if (std::string p = reference(); !p.empty()) return p;
      } else {
        ++i_;
      }
    }
    return "";
  }

  std::string startTag() {
    ++i_;  // '<'
    std::string name = readName();
    if (name.empty()) return at("tag without a name");
    std::set<std::string> attributes;
    for (;;) {
      size_t before = i_;
      skipSpace();
      if (i_ >= s_.size()) return at("unterminated tag <" + name + ">");
      if (s_.substr(i_).starts_with("/>")) {
        i_ += 2;
        return "";
      }
      if (s_[i_] == '>') {
        ++i_;
        stack_.push_back(name);
        return "";
      }
      if (i_ == before) return at("attributes of <" + name + "> not separated");
      std::string attribute = readName();
      if (attribute.empty()) return at("bad attribute in <" + name + ">");
      if (!attributes.insert(attribute).second) return at("repeated attribute " + attribute);
      skipSpace();
      if (i_ >= s_.size() || s_[i_] != '=') return at("attribute " + attribute + " without value");
      ++i_;
      skipSpace();
      if (i_ >= s_.size() || (s_[i_] != '"' && s_[i_] != '\''))
        return at("unquoted attribute " + attribute);
      char quote = s_[i_++];
      while (i_ < s_.size() && s_[i_] != quote) {
        if (s_[i_] == '<' || !allowedChar(s_[i_]))
          return at("bad character in attribute " + attribute);
        if (s_[i_] == '&') {
          if (std::string p = reference(); !p.empty()) return p;
        } else {
          ++i_;
        }
      }
      if (i_ >= s_.size()) return at("unterminated attribute " + attribute);
      ++i_;
    }
  }

  std::string_view s_;
  size_t i_ = 0;
  std::vector<std::string> stack_;
};

}  // namespace

std::string xmlProblem(std::string_view xml) {
  return Checker(xml).run();
}
