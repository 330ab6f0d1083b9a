#include "schema/pattern.hpp"

#include <re2/re2.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "schema/pattern_set.hpp"
#include "schema/pattern_unicode.hpp"
#include "util/white_space.hpp"

namespace kestrine {

namespace {

// Class items (without brackets) for the Unicode \s (White_Space) and its
// complement.
constexpr std::string_view kSpaceItems =
    "\\x{9}-\\x{D}\\x{20}\\x{85}\\x{A0}\\x{1680}\\x{2000}-\\x{200A}\\x{2028}\\x{2029}\\x{202F}"
    "\\x{205F}\\x{3000}";
constexpr std::string_view kNotSpaceItems =
    "\\x{0}-\\x{8}\\x{E}-\\x{1F}\\x{21}-\\x{84}\\x{86}-\\x{9F}\\x{A1}-\\x{167F}\\x{1681}-\\x{1FFF}"
    "\\x{200B}-\\x{2027}\\x{202A}-\\x{202E}\\x{2030}-\\x{205E}\\x{2060}-\\x{2FFF}\\x{3001}-\\x{10FFFF}";

bool is_ascii_alpha(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool is_ascii_alnum(char c) noexcept { return (c >= '0' && c <= '9') || is_ascii_alpha(c); }

int hex_digit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length in bytes of the UTF-8 character starting with `lead` (1 for a
// stray continuation byte, which RE2 then refuses).
std::size_t utf8_char_length(unsigned char lead) noexcept {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

// Refusals name the construct; a plain syntax error has no reason of its own.
constexpr std::string_view kSyntaxError = "";
constexpr std::string_view kLookAround = "look-around is not supported: it cannot run in linear time";
constexpr std::string_view kBackReference = "back-references are not supported: they cannot run in linear time";
constexpr std::string_view kTooComplex = "the character class is too complex";
constexpr std::string_view kNestsTooDeeply = "character classes nest too deeply";
// A translation whose program passes the engine's memory bound (a count of a
// Unicode class: \w{2000}).
constexpr std::string_view kTooLarge = "the pattern is too large";

// The literals of the Unicode \w: Alphabetic, marks, decimal digits,
// connector punctuation and the joiners.
PropertySet word_set() {
  PropertySet set = *unicode_property("Alphabetic");
  for (std::string_view n : {"M", "Nd", "Pc"}) set.literals.push_back(ClassLiteral{"\\p{" + std::string(n) + "}", "\\P{" + std::string(n) + "}"});
  set.literals.push_back(range_literal(0x200C, 0x200D));
  return set;
}

class PatternTranslator {
 public:
  explicit PatternTranslator(std::string_view pattern) : p_(pattern) {}

  std::expected<std::string, std::string> run() {
    out_.reserve(p_.size() + 16);
    groups_.push_back(Group{0, flags_, 1});
    while (i_ < p_.size()) {
      if (skip_verbose_space()) continue;
      bool ok = true;
      switch (p_[i_]) {
        case '\\':
          atom_starts();
          ok = escape_outside();
          break;
        case '(':
          ok = open_group();
          break;
        case ')':
          ok = close_group();
          break;
        case '[':
          atom_starts();
          ok = char_class();
          break;
        case '*':
        case '+':
        case '?':
          copy_char(out_);
          break;
        case '{':
          ok = counted_repetition();
          break;
        case '|':
          copy_char(out_);
          atom_ = kNoAtom;
          break;
        default:
          atom_starts();
          copy_char(out_);
          break;
      }
      if (!ok) return std::unexpected(std::move(why_));
    }
    if (groups_.size() != 1) return std::unexpected(std::string(kSyntaxError));
    return std::move(out_);
  }

 private:
  struct Flags {
    bool verbose = false;
    bool unicode = true;
  };
  struct Group {
    std::size_t start;    // in out_
    Flags outer;          // the flags outside it
    std::uint32_t product;  // the largest product of nested counted repetitions inside
  };
  static constexpr std::size_t kNoAtom = std::string::npos;
  static constexpr std::uint32_t kMaxRepeat = 1000;      // RE2's bound on nested counted repetitions
  static constexpr std::size_t kMaxOutput = 1 << 20;     // a translation this long is refused
  static constexpr std::size_t kMaxClassDepth = 64;       // nested classes and operations on one path

  // Restores a depth counter on leaving a scope.
  struct DepthScope {
    std::size_t& depth;
    std::size_t saved = depth;
    ~DepthScope() { depth = saved; }
  };

  bool refuse(std::string_view why) {
    why_ = std::string(why);
    return false;
  }
  void atom_starts() {
    atom_ = out_.size();
    atom_product_ = 1;
  }
  void note_product(std::uint32_t product) {
    groups_.back().product = std::max(groups_.back().product, product);
  }

  bool at(std::string_view s) const noexcept { return p_.substr(i_).starts_with(s); }

  void copy_char(std::string& out) {
    const std::size_t len = std::min(utf8_char_length(static_cast<unsigned char>(p_[i_])), p_.size() - i_);
    out.append(p_.substr(i_, len));
    i_ += len;
  }

  // Verbose mode: white space and comments up to the end of the line are
  // not part of the pattern.
  bool skip_verbose_space() {
    if (!flags_.verbose) return false;
    if (const std::size_t w = white_space_at(p_, i_)) {
      i_ += w;
      return true;
    }
    if (p_[i_] != '#') return false;
    const std::size_t feed = p_.find('\n', i_);
    i_ = feed == std::string_view::npos ? p_.size() : feed + 1;
    return true;
  }

  // \x.., \u.., \U..: `i_` at the letter.  Braces hold 1 to 8 hex digits;
  // otherwise exactly `fixed` digits follow.
  std::optional<std::uint32_t> hex_escape(std::size_t fixed) {
    ++i_;
    std::uint32_t cp = 0;
    std::size_t digits = 0;
    const bool braced = i_ < p_.size() && p_[i_] == '{';
    if (braced) ++i_;
    while (i_ < p_.size() && (braced ? p_[i_] != '}' : digits < fixed)) {
      const int d = hex_digit(p_[i_]);
      if (d < 0 || digits == 8) return std::nullopt;
      cp = cp * 16 + static_cast<std::uint32_t>(d);
      ++digits;
      ++i_;
    }
    if (braced) {
      if (i_ >= p_.size() || digits == 0) return std::nullopt;
      ++i_;  // '}'
    } else if (digits != fixed) {
      return std::nullopt;
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    return cp;
  }

  // \d \s \w or a negation as a set, read as Unicode unless the u flag is off.
  SetExpr perl_set(char c) const {
    const char lower = static_cast<char>(c | 0x20);
    const bool negated = c != lower;
    PropertySet set;
    if (!flags_.unicode) {
      const std::string item = std::string("\\") + lower;
      const std::string other = std::string("\\") + static_cast<char>(lower - 32);
      set.literals.push_back(ClassLiteral{item, other});
    } else if (lower == 'd') {
      set.literals.push_back(ClassLiteral{"\\p{Nd}", "\\P{Nd}"});
    } else if (lower == 's') {
      set.literals.push_back(ClassLiteral{std::string(kSpaceItems), std::string(kNotSpaceItems)});
    } else {
      set = word_set();
    }
    set.complement = negated;
    return property_expr(std::move(set));
  }

  // \p / \P: `i_` at the backslash.
  std::optional<SetExpr> property_escape() {
    const bool negated = p_[i_ + 1] == 'P';
    i_ += 2;
    if (i_ >= p_.size()) return std::nullopt;
    std::string_view body;
    if (p_[i_] == '{') {
      const std::size_t close = p_.find('}', i_);
      if (close == std::string_view::npos) return std::nullopt;
      body = p_.substr(i_ + 1, close - i_ - 1);
      i_ = close + 1;
    } else {
      body = p_.substr(i_, utf8_char_length(static_cast<unsigned char>(p_[i_])));
      i_ += body.size();
    }
    auto set = unicode_property(body);
    if (!set) {
      why_ = std::move(set.error());
      return std::nullopt;
    }
    set->complement = set->complement != negated;
    return property_expr(std::move(*set));
  }

  // An escape that stands for a set or one code point, at `i_` (the
  // backslash), inside or outside a class; nothing (with why_ set when it is
  // a refusal) when it is neither.
  std::optional<SetExpr> set_escape() {
    if (i_ + 1 >= p_.size()) return std::nullopt;  // a trailing backslash
    const char c = p_[i_ + 1];
    switch (c) {
      case 'd': case 'D': case 's': case 'S': case 'w': case 'W':
        i_ += 2;
        return perl_set(c);
      case 'p': case 'P':
        return property_escape();
      case 'x': case 'u': case 'U': {
        ++i_;
        const auto cp = hex_escape(c == 'x' ? 2 : c == 'u' ? 4 : 8);
        if (!cp) return std::nullopt;
        return literal_expr(range_literal(*cp, *cp));
      }
      case 'a': case 'f': case 't': case 'n': case 'r': case 'v': {
        static constexpr std::string_view kLetters = "aftnrv";
        static constexpr std::uint32_t kCodes[] = {7, 12, 9, 10, 13, 11};
        i_ += 2;
        const std::uint32_t cp = kCodes[kLetters.find(c)];
        return literal_expr(range_literal(cp, cp));
      }
      case 'b':  // only a class reaches here: a backspace
        i_ += 2;
        return literal_expr(range_literal(8, 8));
      case '0':  // NUL, unless a digit follows (an octal escape, refused)
        if (i_ + 2 < p_.size() && p_[i_ + 2] >= '0' && p_[i_ + 2] <= '9') return std::nullopt;
        i_ += 2;
        return literal_expr(range_literal(0, 0));
      case 'c': {  // \cJ: the control character of a letter
        if (i_ + 2 >= p_.size() || !is_ascii_alpha(p_[i_ + 2])) return std::nullopt;
        const auto cp = static_cast<std::uint32_t>(p_[i_ + 2]) % 32;
        i_ += 3;
        return literal_expr(range_literal(cp, cp));
      }
      default:
        break;
    }
    if (c >= '1' && c <= '9') {
      why_ = kBackReference;
      return std::nullopt;
    }
    if (c == 'k' && i_ + 2 < p_.size() && (p_[i_ + 2] == '<' || p_[i_ + 2] == '{')) {
      why_ = kBackReference;
      return std::nullopt;
    }
    // Any other ASCII character that is not a letter or digit stands for
    // itself; letters and digits and non-ASCII characters may not be escaped.
    if (is_ascii_alnum(c) || static_cast<unsigned char>(c) >= 0x80 || c == '<' || c == '>') return std::nullopt;
    i_ += 2;
    const auto cp = static_cast<std::uint32_t>(static_cast<unsigned char>(c));
    return literal_expr(range_literal(cp, cp));
  }

  // An escape outside a class.
  bool escape_outside() {
    if (i_ + 1 >= p_.size()) return refuse(kSyntaxError);
    const char c = p_[i_ + 1];
    switch (c) {
      case 'b':
        if (at("\\b{")) return refuse("the word-boundary assertion \\b{...} is not supported");
        [[fallthrough]];
      case 'B':
      case 'A':
      case 'z':
        out_.append(p_.substr(i_, 2));
        i_ += 2;
        atom_ = kNoAtom;
        return true;
      case '<':
      case '>':
        return refuse(std::string("the word-boundary assertion \\") + c + " is not supported");
      default:
        break;
    }
    std::optional<SetExpr> set = set_escape();
    if (!set) return refuse(why_);
    if (set->op == SetExpr::Op::Literal) {
      out_ += set->literal.positive.find('-') == std::string::npos ? set->literal.positive
                                                                   : "[" + set->literal.positive + "]";
      return true;
    }
    std::optional<std::string> spelled = spell_set(*set);
    if (!spelled) return refuse(kTooComplex);
    out_ += *spelled;
    return true;
  }

  bool open_group() {
    atom_ = kNoAtom;
    ++i_;
    if (i_ >= p_.size() || p_[i_] != '?') {
      push_group();  // captures play no part in a search: every group is non-capturing
      return true;
    }
    ++i_;
    if (at("=") || at("!") || at("<=") || at("<!")) return refuse(kLookAround);
    if (at("P=")) return refuse(kBackReference);
    if (at("P<") || at("<")) {
      const std::size_t close = p_.find('>', i_);
      if (close == std::string_view::npos || close == i_ + (at("P<") ? 2 : 1)) return refuse(kSyntaxError);
      i_ = close + 1;
      push_group();
      return true;
    }
    return flag_group();
  }

  void push_group() {
    groups_.push_back(Group{out_.size(), flags_, 1});
    out_ += "(?:";
  }

  bool close_group() {
    if (groups_.size() == 1) return refuse(kSyntaxError);
    const Group g = groups_.back();
    groups_.pop_back();
    flags_ = g.outer;
    out_ += ')';
    atom_ = g.start;
    atom_product_ = g.product;
    note_product(g.product);
    ++i_;
    return true;
  }

  // "(?flags)" or "(?flags:": `i_` just past the "?".
  bool flag_group() {
    std::string on, off;
    Flags next = flags_;
    bool negate = false, any = false;
    for (; i_ < p_.size() && p_[i_] != ')' && p_[i_] != ':'; ++i_) {
      const char f = p_[i_];
      if (f == '-') {
        if (negate) return refuse(kSyntaxError);
        negate = true;
        continue;
      }
      any = true;
      switch (f) {
        case 'i':
        case 'm':
        case 's':
        case 'U':
          (negate ? off : on) += f;
          break;
        case 'x':
          next.verbose = !negate;
          break;
        case 'u':
          next.unicode = !negate;
          break;
        default:
          return refuse(kSyntaxError);  // unknown flags
      }
    }
    // "(?:" is a plain non-capturing group; "(?)" and "(?-)" set nothing.
    if (i_ >= p_.size() || (!any && (negate || p_[i_] == ')'))) return refuse(kSyntaxError);
    std::string spelled = on;
    if (!off.empty()) spelled += "-" + off;
    if (p_[i_] == ':') {
      groups_.push_back(Group{out_.size(), flags_, 1});
      out_ += "(?" + spelled + ":";
    } else if (!spelled.empty()) {
      out_ += "(?" + spelled + ")";
    }
    ++i_;
    flags_ = next;
    return true;
  }

  // "{n}", "{n,}" or "{n,m}" after an atom: RE2 bounds counts, and the
  // product of nested counts, at 1000, so larger ones are written out as
  // several repetitions of the atom side by side.  A "{" that starts no
  // repetition is the character itself.
  bool counted_repetition() {
    const std::size_t close = p_.find('}', i_);
    std::uint64_t n = 0, m = 0;
    bool bounded = true, valid = close != std::string_view::npos && close > i_ + 1;
    if (valid) {
      const std::string_view body = p_.substr(i_ + 1, close - i_ - 1);
      const std::size_t comma = body.find(',');
      const auto number = [&](std::string_view t, std::uint64_t& v) {
        if (t.empty() || t.size() > 9) return false;
        v = 0;
        for (char ch : t) {
          if (ch < '0' || ch > '9') return false;
          v = v * 10 + static_cast<std::uint64_t>(ch - '0');
        }
        return true;
      };
      valid = number(body.substr(0, comma), n);
      if (valid && comma == std::string_view::npos) m = n;
      else if (valid && comma + 1 == body.size()) bounded = false;
      else if (valid) valid = number(body.substr(comma + 1), m) && m >= n;
    }
    if (!valid || atom_ == kNoAtom) {
      atom_starts();
      copy_char(out_);
      return true;
    }
    i_ = close + 1;
    const bool lazy = i_ < p_.size() && p_[i_] == '?';
    if (lazy) ++i_;  // laziness plays no part in whether a search matches
    const std::uint64_t count = bounded ? m : n;
    if (count <= kMaxRepeat && atom_product_ * std::max<std::uint64_t>(count, 1) <= kMaxRepeat) {
      out_ += '{' + std::to_string(n) + (bounded ? (m == n ? "" : "," + std::to_string(m)) : ",") + '}';
      atom_product_ *= static_cast<std::uint32_t>(std::max<std::uint64_t>(count, 1));
      note_product(atom_product_);
      return true;
    }
    return write_out_repetition(n, m, bounded);
  }

  bool write_out_repetition(std::uint64_t n, std::uint64_t m, bool bounded) {
    const std::string atom = "(?:" + out_.substr(atom_) + ")";
    out_.resize(atom_);
    const std::uint64_t chunk = std::max<std::uint64_t>(kMaxRepeat / atom_product_, 1);
    const auto emit = [&](std::uint64_t times, bool optional) {
      for (; times > 0; times -= std::min(times, chunk)) {
        const std::uint64_t k = std::min(times, chunk);
        out_ += atom + "{" + (optional ? "0," : "") + std::to_string(k) + "}";
        if (out_.size() > kMaxOutput) return false;
      }
      return true;
    };
    if (!emit(n, false) || (bounded && !emit(m - n, true)))
      return refuse("the counted repetition is too large to run");
    if (!bounded) out_ += atom + "*";
    atom_product_ = static_cast<std::uint32_t>(atom_product_ * std::min<std::uint64_t>(chunk, std::max<std::uint64_t>(m, n)));
    note_product(std::min<std::uint32_t>(atom_product_, kMaxRepeat));
    atom_ = kNoAtom;  // a further count would repeat the written-out text
    return true;
  }

  // A class, `i_` at its "[": nested classes, the operations && -- ~~ and
  // every item, as a set.
  bool char_class() {
    std::optional<SetExpr> set = class_body();
    if (!set) return refuse(why_);
    if (simple_) {
      out_ += simple_text_;
      return true;
    }
    std::optional<std::string> spelled = spell_set(*set);
    if (!spelled) return refuse(kTooComplex);
    out_ += *spelled;
    return true;
  }

  // One class being read: its set so far, and its spelling as a plain RE2
  // class while it still is one.
  struct ClassState {
    SetExpr current{SetExpr::Op::Union, {}, {}};  // the items since the last operation
    std::optional<SetExpr> left;                  // the left operand of a pending operation
    SetExpr::Op pending = SetExpr::Op::Union;
    bool simple = true;
    std::string simple_items;
    std::size_t simple_mark = 0;               // where the last item starts in simple_items
    std::optional<std::uint32_t> range_start;  // the single character just read
  };

  // Reads "[...]" at `i_`.  Sets simple_ (and simple_text_) when the class
  // is a plain RE2 class: items RE2 spells, no nesting and no operation.
  std::optional<SetExpr> class_body() {
    // Each nested class and each operation deepens the set expression, which
    // class_body, minterms and ~SetExpr walk recursively: bounded, so that no
    // pattern runs the stack out.
    const DepthScope scope{class_depth_};
    if (++class_depth_ > kMaxClassDepth) {
      why_ = kNestsTooDeeply;
      return std::nullopt;
    }
    ++i_;  // '['
    const bool negated = i_ < p_.size() && p_[i_] == '^';
    if (negated) ++i_;
    ClassState cls;
    bool first = true;  // a "]" first is the character itself
    for (;;) {
      if (i_ >= p_.size()) {
        why_ = kSyntaxError;
        return std::nullopt;
      }
      if (skip_verbose_space()) continue;
      if (p_[i_] == ']' && !first) break;
      if (!class_item(cls, std::exchange(first, false))) return std::nullopt;
    }
    ++i_;  // ']'
    SetExpr result = cls.left ? SetExpr{cls.pending, {}, {std::move(*cls.left), std::move(cls.current)}}
                              : std::move(cls.current);
    simple_ = cls.simple;
    if (cls.simple) simple_text_ = (negated ? "[^" : "[") + cls.simple_items + "]";
    if (negated) result = SetExpr{SetExpr::Op::Not, {}, {std::move(result)}};
    return result;
  }

  // One item of a class, or an operation, at `i_`; false (with why_) when
  // it is invalid.
  bool class_item(ClassState& cls, bool first) {
    const char c = p_[i_];
    if (at("[:")) return named_class_item(cls);
    if (c == '[') return nested_class_item(cls);
    if (!first && (at("&&") || at("--") || at("~~"))) return class_operation(cls);
    if (c == '\\') return escape_item(cls);
    if (c == '-' && !cls.current.parts.empty() && i_ + 1 < p_.size() && p_[i_ + 1] != ']' &&
        cls.current.parts.back().op == SetExpr::Op::Literal && cls.range_start.has_value())
      return range_item(cls);
    return char_item(cls);
  }

  // "[:name:]" or "[:^name:]": RE2 spells both.
  bool named_class_item(ClassState& cls) {
    const std::size_t close = p_.find(":]", i_ + 2);
    if (close == std::string_view::npos) return refuse(kSyntaxError);
    std::string_view body = p_.substr(i_ + 2, close - i_ - 2);
    const bool negated = body.starts_with('^');
    if (negated) body.remove_prefix(1);
    const std::string item = "[:" + std::string(body) + ":]";
    const std::string other = "[:^" + std::string(body) + ":]";
    cls.current.parts.push_back(literal_expr(negated ? ClassLiteral{other, item} : ClassLiteral{item, other}));
    cls.simple_items += negated ? other : item;
    cls.range_start.reset();
    i_ = close + 2;
    return true;
  }

  bool nested_class_item(ClassState& cls) {
    std::optional<SetExpr> inner = class_body();
    if (!inner) return false;
    cls.current.parts.push_back(std::move(*inner));
    cls.simple = false;
    cls.range_start.reset();
    return true;
  }

  // "&&", "--" or "~~": the items so far become the left operand.
  bool class_operation(ClassState& cls) {
    const SetExpr::Op op = at("&&") ? SetExpr::Op::Inter : at("--") ? SetExpr::Op::Diff : SetExpr::Op::SymDiff;
    if (++class_depth_ > kMaxClassDepth) return refuse(kTooComplex);  // class_body restores the depth
    i_ += 2;
    SetExpr operand = std::exchange(cls.current, SetExpr{SetExpr::Op::Union, {}, {}});
    cls.left = cls.left ? SetExpr{cls.pending, {}, {std::move(*cls.left), std::move(operand)}} : std::move(operand);
    cls.pending = op;
    cls.simple = false;
    cls.range_start.reset();
    return true;
  }

  // An escape in a class: one character (which may start a range) or a set;
  // RE2 spells the sets of one literal, and their complements, itself.
  bool escape_item(ClassState& cls) {
    const std::size_t before = i_;
    cls.simple_mark = cls.simple_items.size();
    std::optional<SetExpr> item = set_escape();
    if (!item) return false;
    const bool word_like = i_ - before == 2 && p_[before + 1] == 'W';
    cls.range_start.reset();
    if (item->op == SetExpr::Op::Literal) {
      cls.simple_items += item->literal.positive;
      cls.range_start = literal_code_point(item->literal);
    } else if (item->op == SetExpr::Op::Union && !word_like) {
      for (const SetExpr& part : item->parts) cls.simple_items += part.literal.positive;
    } else if (item->op == SetExpr::Op::Not && !word_like && item->parts[0].parts.size() == 1) {
      const ClassLiteral& only = item->parts[0].parts[0].literal;
      cls.simple_items += only.negated;  // \D, \S, \P{..}: RE2 spells the complement
      if (only.negated.empty()) cls.simple = false;
    } else {
      cls.simple = false;
    }
    cls.current.parts.push_back(std::move(*item));
    return true;
  }

  // "-" and a character after a single character: the range between them
  // takes the first one's place.
  bool range_item(ClassState& cls) {
    ++i_;  // '-'
    const std::optional<std::uint32_t> hi = class_char();
    if (!hi || *hi < *cls.range_start) return refuse(kSyntaxError);
    cls.current.parts.back() = literal_expr(range_literal(*cls.range_start, *hi));
    cls.simple_items.resize(cls.simple_mark);
    cls.simple_items += cls.current.parts.back().literal.positive;
    cls.range_start.reset();
    return true;
  }

  bool char_item(ClassState& cls) {
    cls.simple_mark = cls.simple_items.size();
    const std::optional<std::uint32_t> cp = class_char();
    if (!cp) return refuse(kSyntaxError);
    cls.current.parts.push_back(literal_expr(range_literal(*cp, *cp)));
    cls.simple_items += cls.current.parts.back().literal.positive;
    cls.range_start = cp;
    return true;
  }

  // One literal character of a class (an escaped one included), as its
  // code point; `i_` moves past it.
  std::optional<std::uint32_t> class_char() {
    if (p_[i_] == '\\') {
      std::optional<SetExpr> e = set_escape();
      if (!e || e->op != SetExpr::Op::Literal) return std::nullopt;
      return literal_code_point(e->literal);
    }
    const auto lead = static_cast<unsigned char>(p_[i_]);
    const std::size_t len = std::min(utf8_char_length(lead), p_.size() - i_);
    std::uint32_t cp = len == 1 ? lead : lead & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(p_[i_ + k]) & 0x3F);
    i_ += len;
    return cp;
  }

  static std::optional<std::uint32_t> literal_code_point(const ClassLiteral& lit) {
    // A single code point's literal is "\x{HEX}".
    if (!lit.positive.starts_with("\\x{") || lit.positive.find('-') != std::string::npos) return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(lit.positive.substr(3, lit.positive.size() - 4), nullptr, 16));
  }

  std::string_view p_;
  std::size_t i_ = 0;
  std::string out_;
  std::string why_;
  Flags flags_;
  std::vector<Group> groups_;
  std::size_t atom_ = kNoAtom;       // where the last atom starts in out_
  std::uint32_t atom_product_ = 1;   // the product of nested counts inside it
  bool simple_ = true;
  std::string simple_text_;
  std::size_t class_depth_ = 0;  // classes and operations around `i_`
};

}  // namespace

std::expected<std::string, std::string> translate_schema_pattern(std::string_view pattern) {
  return PatternTranslator(pattern).run();
}

namespace {

// The engine's program for a translated pattern (check ok()).
std::unique_ptr<re2::RE2> new_engine(const std::string& translated) {
  re2::RE2::Options options;
  options.set_log_errors(false);
  options.set_max_mem(32 << 20);  // the Unicode classes make larger programs than ASCII ones
  return std::make_unique<re2::RE2>(translated, options);
}

}  // namespace

SchemaPattern::SchemaPattern(std::unique_ptr<re2::RE2> re) noexcept : re_(std::move(re)) {}
SchemaPattern::~SchemaPattern() = default;

bool SchemaPattern::search(std::string_view text) const {
  return re_->Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), re2::RE2::UNANCHORED, nullptr, 0);
}

std::size_t SchemaPattern::program_size() const noexcept {
  return static_cast<std::size_t>(std::max(re_->ProgramSize(), 0));
}

CompiledPattern compile_schema_pattern(std::string_view pattern) {
  CompiledPattern out;
  const auto translated = translate_schema_pattern(pattern);
  std::string_view reason;
  if (translated) {
    auto re = new_engine(*translated);
    if (re->ok()) {
      out.program = std::make_unique<SchemaPattern>(std::move(re));
      return out;
    }
    if (re->error_code() == re2::RE2::ErrorPatternTooLarge) reason = kTooLarge;
  } else {
    reason = translated.error();
  }
  out.refusal = "schema has an invalid regex pattern /" + std::string(pattern) + "/";
  if (!reason.empty()) out.refusal += ": " + std::string(reason);
  return out;
}

}  // namespace kestrine
