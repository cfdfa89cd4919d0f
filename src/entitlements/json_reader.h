// A small JSON document reader used only by the token decoder.
//
// Documents are objects: ordered lists of uniquely named members. Elements
// are objects, arrays, numbers (double), strings, booleans or null. Reading is
// two steps: the text is cut into tokens (white space between them, as
// std::isspace defines it, is skipped), then the tokens are parsed; the top
// level must be an object.
//
// String escapes \" \/ \\ \b \f \n \r \t give their characters. The escape \u
// is kept as the two characters backslash and 'u'; the four hex digits after
// it stay ordinary characters, no code point is decoded.
//
// Nesting is limited to kMaxDepth levels so that a hostile document cannot
// exhaust the stack of the parser (or of the element destructors).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qmx::json {

class Object;

class Element {
 public:
  enum class Kind { kNull, kObject, kArray, kNumber, kString, kBoolean };

  Element() = default;
  explicit Element(double number) : kind_(Kind::kNumber), number_(number) {}
  explicit Element(bool boolean) : kind_(Kind::kBoolean), boolean_(boolean) {}
  explicit Element(std::string text) : kind_(Kind::kString), text_(std::move(text)) {}
  explicit Element(const char* text) : Element(std::string(text)) {}
  explicit Element(std::vector<Element> array) : kind_(Kind::kArray), array_(std::move(array)) {}
  explicit Element(Object object);

  Element(const Element& other);
  Element& operator=(const Element& other);
  Element(Element&&) noexcept = default;
  Element& operator=(Element&&) noexcept = default;
  ~Element();

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::kNull; }
  bool IsObject() const { return kind_ == Kind::kObject; }
  bool IsArray() const { return kind_ == Kind::kArray; }
  bool IsNumber() const { return kind_ == Kind::kNumber; }
  bool IsString() const { return kind_ == Kind::kString; }
  bool IsBoolean() const { return kind_ == Kind::kBoolean; }

  // A string's text; the empty string for every other kind.
  const std::string& Text() const;
  double Number() const { return kind_ == Kind::kNumber ? number_ : 0.0; }
  bool Boolean() const { return kind_ == Kind::kBoolean && boolean_; }
  // The elements of an array; empty for every other kind.
  const std::vector<Element>& Array() const;
  // The members of an object; nullptr for every other kind.
  const Object* AsObject() const { return object_.get(); }

  friend bool operator==(const Element& a, const Element& b);

 private:
  Kind kind_ = Kind::kNull;
  double number_ = 0.0;
  bool boolean_ = false;
  std::string text_;
  std::vector<Element> array_;
  std::unique_ptr<Object> object_;
};

struct Member {
  std::string name;
  Element value;
  friend bool operator==(const Member&, const Member&) = default;
};

class Object {
 public:
  using Members = std::vector<Member>;

  // The element of the member called name. When there is no such member, a
  // null member of that name is added first (so lookups on a copy are cheap
  // to write and never fail).
  Element& operator[](std::string_view name);
  // The element of the member called name, or nullptr.
  const Element* Find(std::string_view name) const;
  bool Contains(std::string_view name) const { return Find(name) != nullptr; }
  // Appends a member; returns false (and changes nothing) if the name exists.
  bool Add(std::string name, Element value);
  // Appends a member whose name the caller knows to be new (the reader
  // checks uniqueness with a hash set, keeping large objects linear).
  void AppendNew(std::string name, Element value) { members_.push_back(Member{std::move(name), std::move(value)}); }

  const Members& members() const { return members_; }
  size_t size() const { return members_.size(); }
  bool empty() const { return members_.empty(); }

  friend bool operator==(const Object&, const Object&) = default;

 private:
  Members members_;
};

// Base of the reader's errors; what() is the error text.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Reader {
 public:
  // Lexical errors: a character that begins no token, an unmatched literal or
  // closing quote, an unknown escape.
  class ScanException : public Exception {
   public:
    using Exception::Exception;
  };
  // Grammar errors on a lexically valid text.
  class ParseException : public Exception {
   public:
    using Exception::Exception;
  };

  static constexpr int kMaxDepth = 256;

  // Reads text as one JSON object. Throws ScanException or ParseException.
  static Object Read(std::string_view text);
};

}  // namespace qmx::json
