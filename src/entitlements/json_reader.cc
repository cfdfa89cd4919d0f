#include "entitlements/json_reader.h"

#include <charconv>
#include <cmath>
#include <system_error>
#include <unordered_set>

namespace qmx::json {

// ---------------------------------------------------------------- elements

Element::Element(Object object) : kind_(Kind::kObject), object_(std::make_unique<Object>(std::move(object))) {}

Element::Element(const Element& other)
    : kind_(other.kind_),
      number_(other.number_),
      boolean_(other.boolean_),
      text_(other.text_),
      array_(other.array_),
      object_(other.object_ ? std::make_unique<Object>(*other.object_) : nullptr) {}

Element& Element::operator=(const Element& other) {
  if (this != &other) *this = Element(other);
  return *this;
}

Element::~Element() = default;

const std::string& Element::Text() const {
  static const std::string kEmpty;
  return kind_ == Kind::kString ? text_ : kEmpty;
}

const std::vector<Element>& Element::Array() const {
  static const std::vector<Element> kEmpty;
  return kind_ == Kind::kArray ? array_ : kEmpty;
}

bool operator==(const Element& a, const Element& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Element::Kind::kNull: return true;
    case Element::Kind::kNumber: return a.number_ == b.number_;
    case Element::Kind::kBoolean: return a.boolean_ == b.boolean_;
    case Element::Kind::kString: return a.text_ == b.text_;
    case Element::Kind::kArray: return a.array_ == b.array_;
    case Element::Kind::kObject: return *a.object_ == *b.object_;
  }
  return false;
}

Element& Object::operator[](std::string_view name) {
  for (Member& member : members_) {
    if (member.name == name) return member.value;
  }
  members_.push_back(Member{std::string(name), Element()});
  return members_.back().value;
}

const Element* Object::Find(std::string_view name) const {
  for (const Member& member : members_) {
    if (member.name == name) return &member.value;
  }
  return nullptr;
}

bool Object::Add(std::string name, Element value) {
  if (Contains(name)) return false;
  members_.push_back(Member{std::move(name), std::move(value)});
  return true;
}

// ---------------------------------------------------------------- tokenizer

namespace {

enum class TokenType { kObjectBegin, kObjectEnd, kArrayBegin, kArrayEnd, kNextElement, kMemberAssign, kString, kNumber, kBoolean, kNull };

struct Token {
  TokenType type;
  std::string value;  // the token's text; a string token holds its unescaped contents
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsNumberCharacter(char c) {
  return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+';
}

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  std::vector<Token> Run() {
    std::vector<Token> tokens;
    for (;;) {
      while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
      if (pos_ >= text_.size()) return tokens;
      char c = text_[pos_];
      switch (c) {
        case '{': tokens.push_back(Single(TokenType::kObjectBegin, c)); break;
        case '}': tokens.push_back(Single(TokenType::kObjectEnd, c)); break;
        case '[': tokens.push_back(Single(TokenType::kArrayBegin, c)); break;
        case ']': tokens.push_back(Single(TokenType::kArrayEnd, c)); break;
        case ',': tokens.push_back(Single(TokenType::kNextElement, c)); break;
        case ':': tokens.push_back(Single(TokenType::kMemberAssign, c)); break;
        case '"': tokens.push_back(Token{TokenType::kString, ScanString()}); break;
        case 't': tokens.push_back(Token{TokenType::kBoolean, ScanLiteral("true")}); break;
        case 'f': tokens.push_back(Token{TokenType::kBoolean, ScanLiteral("false")}); break;
        case 'n': tokens.push_back(Token{TokenType::kNull, ScanLiteral("null")}); break;
        default:
          if (IsNumberCharacter(c)) {
            size_t start = pos_;
            while (pos_ < text_.size() && IsNumberCharacter(text_[pos_])) ++pos_;
            tokens.push_back(Token{TokenType::kNumber, std::string(text_.substr(start, pos_ - start))});
          } else {
            throw Reader::ScanException(std::string("Unexpected character in stream: ") + c);
          }
      }
    }
  }

 private:
  Token Single(TokenType type, char c) {
    ++pos_;
    return Token{type, std::string(1, c)};
  }

  std::string ScanLiteral(std::string_view expected) {
    if (text_.substr(pos_, expected.size()) != expected) {
      throw Reader::ScanException("Expected string: " + std::string(expected));
    }
    pos_ += expected.size();
    return std::string(expected);
  }

  std::string ScanString() {
    ++pos_;  // opening quote
    std::string out;
    for (;;) {
      if (pos_ >= text_.size()) throw Reader::ScanException("Expected string: \"");
      char c = text_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= text_.size()) throw Reader::ScanException("Expected string: \"");
      char escape = text_[pos_++];
      switch (escape) {
        case '"': out.push_back('"'); break;
        case '/': out.push_back('/'); break;
        case '\\': out.push_back('\\'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': out += "\\u"; break;  // the hex digits follow as ordinary characters
        default:
          throw Reader::ScanException(std::string("Unrecognized escape sequence found in string: \\") + escape);
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
};

// ---------------------------------------------------------------- parser

class Parser {
 public:
  explicit Parser(const std::vector<Token>& tokens) : tokens_(tokens) {}

  Object Run() {
    const Token& first = Next("Unexpected End of token stream");
    if (first.type != TokenType::kObjectBegin) Unexpected(first);
    Object object = ParseObject(1);
    if (pos_ < tokens_.size()) {
      throw Reader::ParseException("Expected End of token stream; found " + tokens_[pos_].value);
    }
    return object;
  }

 private:
  const Token& Next(const char* endText) {
    if (pos_ >= tokens_.size()) throw Reader::ParseException(endText);
    return tokens_[pos_++];
  }

  [[noreturn]] static void Unexpected(const Token& token) {
    throw Reader::ParseException("Unexpected token: " + token.value);
  }

  const Token& Expect(TokenType type) {
    const Token& token = Next("Unexpected end of token stream");
    if (token.type != type) Unexpected(token);
    return token;
  }

  static void CheckDepth(int depth) {
    if (depth > Reader::kMaxDepth) throw Reader::ParseException("Maximum nesting depth exceeded");
  }

  // The opening brace has been consumed.
  Object ParseObject(int depth) {
    CheckDepth(depth);
    Object object;
    std::unordered_set<std::string_view> names;
    if (pos_ < tokens_.size() && tokens_[pos_].type == TokenType::kObjectEnd) {
      ++pos_;
      return object;
    }
    for (;;) {
      const std::string& name = Expect(TokenType::kString).value;
      Expect(TokenType::kMemberAssign);
      Element value = ParseValue(depth);
      if (!names.insert(name).second) throw Reader::ParseException("Duplicate object member token: " + name);
      object.AppendNew(name, std::move(value));
      const Token& token = Next("Unexpected end of token stream");
      if (token.type == TokenType::kObjectEnd) return object;
      if (token.type != TokenType::kNextElement) Unexpected(token);
    }
  }

  // The opening bracket has been consumed.
  std::vector<Element> ParseArray(int depth) {
    CheckDepth(depth);
    std::vector<Element> array;
    if (pos_ < tokens_.size() && tokens_[pos_].type == TokenType::kArrayEnd) {
      ++pos_;
      return array;
    }
    for (;;) {
      array.push_back(ParseValue(depth));
      const Token& token = Next("Unexpected end of token stream");
      if (token.type == TokenType::kArrayEnd) return array;
      if (token.type != TokenType::kNextElement) Unexpected(token);
    }
  }

  Element ParseValue(int depth) {
    const Token& token = Next("Unexpected End of token stream");
    switch (token.type) {
      case TokenType::kObjectBegin: return Element(ParseObject(depth + 1));
      case TokenType::kArrayBegin: return Element(ParseArray(depth + 1));
      case TokenType::kString: return Element(token.value);
      case TokenType::kNumber: return Element(ParseNumber(token.value));
      case TokenType::kBoolean: return Element(token.value == "true");
      case TokenType::kNull: return Element();
      default: Unexpected(token);
    }
  }

  // The whole token must convert; the character where conversion stops is
  // reported. from_chars is locale independent (a host may have set a locale
  // with a decimal comma) but knows no leading '+', which is skipped here.
  static double ParseNumber(const std::string& text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (end - begin > 1 && *begin == '+' && begin[1] != '-' && begin[1] != '+') ++begin;
    double value = 0.0;
    auto [stop, error] = std::from_chars(begin, end, value);
    if (error == std::errc::invalid_argument) stop = begin;
    if (error == std::errc::result_out_of_range) stop = text.data();
    if (stop != end || error != std::errc()) {
      if (stop == end) stop = text.data();
      throw Reader::ParseException(std::string("Unexpected character in NUMBER token: ") + *stop);
    }
    return value;
  }

  const std::vector<Token>& tokens_;
  size_t pos_ = 0;
};

}  // namespace

Object Reader::Read(std::string_view text) {
  std::vector<Token> tokens = Tokenizer(text).Run();
  return Parser(tokens).Run();
}

}  // namespace qmx::json
