#include "platform/store/Predicate.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Object.h"

namespace tw::store {

struct Predicate::Node {
  enum class Type { True, False, And, Or, Not, Compare };
  enum class Op { Eq, Ne, Lt, Le, Gt, Ge };
  struct Operand {
    bool isKeyPath = false;
    std::string keyPath;
    Value constant;
  };

  Type type = Type::True;
  Op op = Op::Eq;
  // And / Or: every term of one flat chain (so a long chain is a loop, not a recursion);
  // Not: the one negated term.
  std::vector<std::shared_ptr<const Node>> children;
  Operand lhs, rhs;
};

namespace {

using Node = Predicate::Node;

// How deeply parentheses and NOTs may nest. Parsing, evaluating and describing recurse once per
// level, so without a bound a hostile or broken format would overflow the stack; real
// predicates nest a handful of levels.
constexpr int kMaxNesting = 100;

struct Token {
  enum class Kind { End, Ident, Number, String, Arg, Op, LParen, RParen } kind = Kind::End;
  std::string text;  // identifier, operator, string contents, argument conversion
  Value number;
};

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

class Parser {
 public:
  Parser(std::string_view format, const std::vector<Value>& args) : src_(format), args_(args) {
    advance();
  }

  std::shared_ptr<const Node> parse() {
    auto node = parseOr();
    if (tok_.kind != Token::Kind::End) fail();
    return node;
  }

 private:
  [[noreturn]] void fail() const {
    raise(NSInvalidArgumentException,
          "Unable to parse the format string \"" + std::string(src_) + "\"");
  }

  bool isKeyword(const char* word) const {
    return tok_.kind == Token::Kind::Ident && equalsIgnoreCase(tok_.text, word);
  }
  bool isOp(const char* op) const { return tok_.kind == Token::Kind::Op && tok_.text == op; }

  void advance() {
    while (pos_ < src_.size() && std::isspace(static_cast<unsigned char>(src_[pos_]))) ++pos_;
    tok_ = Token();
    if (pos_ >= src_.size()) return;
    char c = src_[pos_];
    auto peek = [&](std::size_t k) { return pos_ + k < src_.size() ? src_[pos_ + k] : '\0'; };
    if (c == '(') {
      tok_.kind = Token::Kind::LParen;
      ++pos_;
    } else if (c == ')') {
      tok_.kind = Token::Kind::RParen;
      ++pos_;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t start = pos_;
      while (pos_ < src_.size() && (std::isalnum(static_cast<unsigned char>(src_[pos_])) ||
                                    src_[pos_] == '_' || src_[pos_] == '.'))
        ++pos_;
      tok_.kind = Token::Kind::Ident;
      tok_.text = std::string(src_.substr(start, pos_ - start));
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               ((c == '-' || c == '+') && std::isdigit(static_cast<unsigned char>(peek(1))))) {
      lexNumber();
    } else if (c == '\'' || c == '"') {
      lexString(c);
    } else if (c == '%') {
      lexArgument();
    } else {
      static const char* const kOps[] = {"==", "!=", "<>", "<=", "=<", ">=", "=>",
                                         "&&", "||", "=",  "<",  ">",  "!"};
      for (const char* op : kOps) {
        std::string_view o(op);
        if (src_.substr(pos_, o.size()) == o) {
          tok_.kind = Token::Kind::Op;
          tok_.text = std::string(o);
          pos_ += o.size();
          return;
        }
      }
      fail();
    }
  }

  void lexNumber() {
    std::size_t start = pos_;
    if (src_[pos_] == '-' || src_[pos_] == '+') ++pos_;
    bool isFloat = false;
    while (pos_ < src_.size()) {
      char c = src_[pos_];
      if (std::isdigit(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == '.' || c == 'e' || c == 'E') {
        isFloat = true;
        ++pos_;
        if ((c == 'e' || c == 'E') && pos_ < src_.size() &&
            (src_[pos_] == '-' || src_[pos_] == '+'))
          ++pos_;
      } else {
        break;
      }
    }
    std::string text(src_.substr(start, pos_ - start));
    if (text[0] == '+') text.erase(0, 1);
    tok_.kind = Token::Kind::Number;
    if (!isFloat) {
      long long v = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
      if (ec == std::errc() && end == text.data() + text.size()) {
        tok_.number = Value(v);
        return;
      }
    }
    char* end = nullptr;
    double d = std::strtod(text.c_str(), &end);
    if (!end || *end != '\0') fail();
    tok_.number = Value(d);
  }

  void lexString(char quote) {
    ++pos_;
    std::string out;
    while (pos_ < src_.size() && src_[pos_] != quote) {
      char c = src_[pos_++];
      if (c == '\\' && pos_ < src_.size()) {
        char e = src_[pos_++];
        switch (e) {
          case 'n':
            out += '\n';
            break;
          case 't':
            out += '\t';
            break;
          case 'r':
            out += '\r';
            break;
          default:
            out += e;
        }
      } else {
        out += c;
      }
    }
    if (pos_ >= src_.size()) fail();
    ++pos_;
    tok_.kind = Token::Kind::String;
    tok_.text = std::move(out);
  }

  void lexArgument() {
    ++pos_;
    std::size_t start = pos_;
    while (pos_ < src_.size() && (src_[pos_] == 'l' || src_[pos_] == 'q')) ++pos_;
    if (pos_ >= src_.size()) fail();
    char conv = src_[pos_++];
    if (std::string_view("@Kdiuf").find(conv) == std::string_view::npos) fail();
    if (conv == '@' || conv == 'K') {
      if (pos_ - start != 1) fail();
    }
    tok_.kind = Token::Kind::Arg;
    tok_.text = std::string(1, conv);
  }

  const Value& takeArgument() {
    if (nextArg_ >= args_.size())
      raise(NSInvalidArgumentException,
            "Insufficient arguments for the format string \"" + std::string(src_) + "\"");
    return args_[nextArg_++];
  }

  // One level deeper for as long as it lives.
  struct Nesting {
    explicit Nesting(Parser& p) : parser(p) {
      if (++parser.depth_ > kMaxNesting)
        raise(NSInvalidArgumentException, "The format string \"" + parser.excerpt() +
                                              "\" nests deeper than " +
                                              std::to_string(kMaxNesting) + " levels");
    }
    ~Nesting() { --parser.depth_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;
    Parser& parser;
  };

  std::string excerpt() const {
    constexpr std::size_t kShown = 80;
    return src_.size() <= kShown ? std::string(src_) : std::string(src_.substr(0, kShown)) + "...";
  }

  std::shared_ptr<const Node> parseChain(Node::Type type, const char* word, const char* op,
                                         std::shared_ptr<const Node> (Parser::*term)()) {
    auto first = (this->*term)();
    if (!isKeyword(word) && !isOp(op)) return first;
    auto n = std::make_shared<Node>();
    n->type = type;
    n->children.push_back(std::move(first));
    while (isKeyword(word) || isOp(op)) {
      advance();
      n->children.push_back((this->*term)());
    }
    return n;
  }

  std::shared_ptr<const Node> parseOr() {
    return parseChain(Node::Type::Or, "OR", "||", &Parser::parseAnd);
  }

  std::shared_ptr<const Node> parseAnd() {
    return parseChain(Node::Type::And, "AND", "&&", &Parser::parseNot);
  }

  std::shared_ptr<const Node> parseNot() {
    if (isKeyword("NOT") || isOp("!")) {
      Nesting level(*this);
      advance();
      auto n = std::make_shared<Node>();
      n->type = Node::Type::Not;
      n->children.push_back(parseNot());
      return n;
    }
    return parsePrimary();
  }

  std::shared_ptr<const Node> parsePrimary() {
    if (tok_.kind == Token::Kind::LParen) {
      Nesting level(*this);
      advance();
      auto inner = parseOr();
      if (tok_.kind != Token::Kind::RParen) fail();
      advance();
      return inner;
    }
    if (isKeyword("TRUEPREDICATE") || isKeyword("FALSEPREDICATE")) {
      auto n = std::make_shared<Node>();
      n->type = isKeyword("TRUEPREDICATE") ? Node::Type::True : Node::Type::False;
      advance();
      return n;
    }
    auto n = std::make_shared<Node>();
    n->type = Node::Type::Compare;
    n->lhs = parseOperand();
    if (tok_.kind != Token::Kind::Op) fail();
    const std::string& op = tok_.text;
    if (op == "==" || op == "=")
      n->op = Node::Op::Eq;
    else if (op == "!=" || op == "<>")
      n->op = Node::Op::Ne;
    else if (op == "<")
      n->op = Node::Op::Lt;
    else if (op == "<=" || op == "=<")
      n->op = Node::Op::Le;
    else if (op == ">")
      n->op = Node::Op::Gt;
    else if (op == ">=" || op == "=>")
      n->op = Node::Op::Ge;
    else
      fail();
    advance();
    n->rhs = parseOperand();
    return n;
  }

  Node::Operand parseOperand() {
    Node::Operand o;
    switch (tok_.kind) {
      case Token::Kind::Ident:
        if (isKeyword("NIL") || isKeyword("NULL")) {
          o.constant = Value();
        } else if (isKeyword("YES") || isKeyword("TRUE")) {
          o.constant = Value(true);
        } else if (isKeyword("NO") || isKeyword("FALSE")) {
          o.constant = Value(false);
        } else if (isKeyword("AND") || isKeyword("OR") || isKeyword("NOT")) {
          fail();
        } else {
          o.isKeyPath = true;
          o.keyPath = tok_.text;
        }
        break;
      case Token::Kind::Number:
        o.constant = tok_.number;
        break;
      case Token::Kind::String:
        o.constant = Value(tok_.text);
        break;
      case Token::Kind::Arg: {
        const Value& arg = takeArgument();
        char conv = tok_.text[0];
        if (conv == 'K') {
          if (!arg.string() || arg.string()->empty()) fail();
          o.isKeyPath = true;
          o.keyPath = *arg.string();
        } else if (conv == '@') {
          o.constant = arg;
        } else if (conv == 'f') {
          o.constant = Value(arg.doubleValue());
        } else if (conv == 'u') {
          o.constant = Value(static_cast<unsigned long long>(arg.unsignedValue()));
        } else {
          o.constant = Value(static_cast<long long>(arg.integerValue()));
        }
        break;
      }
      default:
        fail();
    }
    advance();
    return o;
  }

  std::string_view src_;
  const std::vector<Value>& args_;
  std::size_t pos_ = 0;
  std::size_t nextArg_ = 0;
  int depth_ = 0;
  Token tok_;
};

bool numericLike(const Value& v) { return v.isNumber() || v.isBool(); }

// Exact for any mix of signed and unsigned 64-bit integers; doubles otherwise.
int compareNumbers(const Value& a, const Value& b) {
  auto integral = [](const Value& v, __int128& out) {
    if (auto i = v.intIfInt()) {
      out = *i;
      return true;
    }
    if (auto u = v.uintIfUInt()) {
      out = static_cast<__int128>(*u);
      return true;
    }
    if (auto b = v.boolIfBool()) {
      out = *b ? 1 : 0;
      return true;
    }
    return false;
  };
  __int128 x = 0, y = 0;
  if (integral(a, x) && integral(b, y)) return x < y ? -1 : x > y ? 1 : 0;
  double p = a.doubleValue(), q = b.doubleValue();
  return p < q ? -1 : p > q ? 1 : 0;
}

Value operandValue(const Node::Operand& o, const Object& object) {
  if (!o.isKeyPath) return o.constant;
  if (o.keyPath == "SELF") return Value(std::const_pointer_cast<Object>(object.shared_from_this()));
  return object.valueForKeyPath(o.keyPath);
}

bool evaluateNode(const Node& n, const Object& object) {
  switch (n.type) {
    case Node::Type::True:
      return true;
    case Node::Type::False:
      return false;
    case Node::Type::And:
      for (const auto& c : n.children)
        if (!evaluateNode(*c, object)) return false;
      return true;
    case Node::Type::Or:
      for (const auto& c : n.children)
        if (evaluateNode(*c, object)) return true;
      return false;
    case Node::Type::Not:
      return !evaluateNode(*n.children.front(), object);
    case Node::Type::Compare:
      break;
  }
  Value a = operandValue(n.lhs, object);
  Value b = operandValue(n.rhs, object);
  switch (n.op) {
    case Node::Op::Eq:
      return Predicate::equalValues(a, b);
    case Node::Op::Ne:
      return !Predicate::equalValues(a, b);
    default:
      break;
  }
  std::optional<int> c = Predicate::compareValues(a, b);
  if (!c) return false;
  switch (n.op) {
    case Node::Op::Lt:
      return *c < 0;
    case Node::Op::Le:
      return *c <= 0;
    case Node::Op::Gt:
      return *c > 0;
    case Node::Op::Ge:
      return *c >= 0;
    default:
      return false;
  }
}

std::string describeOperand(const Node::Operand& o) {
  if (o.isKeyPath) return o.keyPath;
  const Value& v = o.constant;
  if (v.isNull()) return "nil";
  if (v.isBool()) return *v.boolIfBool() ? "YES" : "NO";
  if (const std::string* s = v.string()) {
    std::string out = "\"";
    for (char c : *s) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + "\"";
  }
  return v.description();
}

// Parentheses only where the grouping would otherwise read differently.
std::string describeNode(const Node& n, Node::Type parent) {
  switch (n.type) {
    case Node::Type::True:
      return "TRUEPREDICATE";
    case Node::Type::False:
      return "FALSEPREDICATE";
    case Node::Type::Not:
      return "NOT " + describeNode(*n.children.front(), Node::Type::Not);
    case Node::Type::And:
    case Node::Type::Or: {
      std::string s;
      for (const auto& c : n.children) {
        if (!s.empty()) s += n.type == Node::Type::And ? " AND " : " OR ";
        s += describeNode(*c, n.type);
      }
      bool group = parent != n.type && parent != Node::Type::True;
      return group ? "(" + s + ")" : s;
    }
    case Node::Type::Compare:
      break;
  }
  static const char* const kOps[] = {"==", "!=", "<", "<=", ">", ">="};
  return describeOperand(n.lhs) + " " + kOps[static_cast<int>(n.op)] + " " + describeOperand(n.rhs);
}

}  // namespace

Predicate Predicate::parse(std::string_view format, const std::vector<Value>& arguments) {
  Predicate p;
  p.root_ = Parser(format, arguments).parse();
  return p;
}

bool Predicate::evaluate(const Object& object) const {
  return !root_ || evaluateNode(*root_, object);
}

std::string Predicate::description() const {
  return root_ ? describeNode(*root_, Node::Type::True) : "TRUEPREDICATE";
}

std::optional<int> Predicate::compareValues(const Value& a, const Value& b) {
  if (numericLike(a) && numericLike(b)) return compareNumbers(a, b);
  if (a.string() && b.string()) {
    int c = a.string()->compare(*b.string());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  if (a.date() && b.date()) {
    double x = a.date()->secondsSince1970, y = b.date()->secondsSince1970;
    return x < y ? -1 : x > y ? 1 : 0;
  }
  return std::nullopt;
}

bool Predicate::equalValues(const Value& a, const Value& b) {
  if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
  if (numericLike(a) && numericLike(b)) return compareNumbers(a, b) == 0;
  return a == b;
}

}  // namespace tw::store
