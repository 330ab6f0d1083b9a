#include "schema/pattern.hpp"

#include <re2/re2.h>

#include <cstdint>
#include <vector>

#include "util/white_space.hpp"

namespace kestrine {

namespace {

// Class items (without brackets) for the Unicode forms of \s, \S and \w.
// \w is Alphabetic, marks, decimal digits, connector punctuation and the
// joiners; Alphabetic is spelled as the letters, letter numbers and the
// enclosed letters that Other_Alphabetic adds outside the marks.
constexpr std::string_view kDigitItems = "\\p{Nd}";
constexpr std::string_view kSpaceItems =
    "\\x{9}-\\x{D}\\x{20}\\x{85}\\x{A0}\\x{1680}\\x{2000}-\\x{200A}\\x{2028}\\x{2029}\\x{202F}"
    "\\x{205F}\\x{3000}";
constexpr std::string_view kNotSpaceItems =
    "\\x{0}-\\x{8}\\x{E}-\\x{1F}\\x{21}-\\x{84}\\x{86}-\\x{9F}\\x{A1}-\\x{167F}\\x{1681}-\\x{1FFF}"
    "\\x{200B}-\\x{2027}\\x{202A}-\\x{202E}\\x{2030}-\\x{205E}\\x{2060}-\\x{2FFF}\\x{3001}-\\x{10FFFF}";
constexpr std::string_view kWordItems =
    "\\p{L}\\p{M}\\p{Nd}\\p{Pc}\\p{Nl}\\x{200C}\\x{200D}\\x{24B6}-\\x{24E9}\\x{1F130}-\\x{1F149}"
    "\\x{1F150}-\\x{1F169}\\x{1F170}-\\x{1F189}";

bool is_ascii_alnum(char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int hex_digit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_code_point_escape(std::string& out, std::uint32_t cp) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char digits[8];
  int n = 0;
  do {
    digits[n++] = kHex[cp & 0xF];
    cp >>= 4;
  } while (cp != 0);
  out += "\\x{";
  while (n > 0) out += digits[--n];
  out += '}';
}

// Length in bytes of the UTF-8 character starting with `lead` (1 for a
// stray continuation byte, which RE2 then refuses).
std::size_t utf8_char_length(unsigned char lead) noexcept {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

class PatternTranslator {
 public:
  explicit PatternTranslator(std::string_view pattern) : p_(pattern) {}

  std::optional<std::string> run() {
    out_.reserve(p_.size() + 16);
    while (i_ < p_.size()) {
      if (skip_verbose_space()) continue;
      bool ok = true;
      switch (p_[i_]) {
        case '\\':
          ok = escape(out_, nullptr);
          break;
        case '(':
          ok = open_group();
          break;
        case ')':
          out_ += ')';
          ++i_;
          if (!outer_.empty()) {
            flags_ = outer_.back();
            outer_.pop_back();
          }
          break;
        case '[':
          ok = char_class();
          break;
        default:
          copy_char(out_);
          break;
      }
      if (!ok) return std::nullopt;
    }
    return std::move(out_);
  }

 private:
  struct Flags {
    bool verbose = false;
    bool unicode = true;
  };

  // Inside a class: the items collected and whether \W appeared among them.
  struct ClassItems {
    std::string items;
    bool not_word = false;
  };

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
  bool hex_escape(std::string& out, std::size_t fixed) {
    ++i_;
    std::uint32_t cp = 0;
    std::size_t digits = 0;
    const bool braced = i_ < p_.size() && p_[i_] == '{';
    if (braced) ++i_;
    while (i_ < p_.size() && (braced ? p_[i_] != '}' : digits < fixed)) {
      const int d = hex_digit(p_[i_]);
      if (d < 0 || digits == 8) return false;
      cp = cp * 16 + static_cast<std::uint32_t>(d);
      ++digits;
      ++i_;
    }
    if (braced) {
      if (i_ >= p_.size() || digits == 0) return false;
      ++i_;  // '}'
    } else if (digits != fixed) {
      return false;
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    append_code_point_escape(out, cp);
    return true;
  }

  // \d \s \w or a negation, read as Unicode unless the u flag is off.
  void perl_class(std::string& out, char c, ClassItems* cls) const {
    if (!flags_.unicode) {
      out += '\\';
      out += c;
      return;
    }
    const char lower = static_cast<char>(c | 0x20);
    const bool negated = c != lower;
    const std::string_view items = lower == 'd' ? kDigitItems : lower == 's' ? kSpaceItems : kWordItems;
    if (cls == nullptr) {
      out += negated ? "[^" : "[";
      out += items;
      out += ']';
    } else if (!negated) {
      out += items;
    } else if (lower == 'd') {
      out += "\\P{Nd}";
    } else if (lower == 's') {
      out += kNotSpaceItems;
    } else {
      cls->not_word = true;  // no complement spelling: see close_class
    }
  }

  // An escape at `i_` (the backslash), written to `out`; `cls` is the class
  // being read, or null outside classes.
  bool escape(std::string& out, ClassItems* cls) {
    if (i_ + 1 >= p_.size()) return false;  // a trailing backslash
    const char c = p_[i_ + 1];
    switch (c) {
      case 'd':
      case 'D':
      case 's':
      case 'S':
      case 'w':
      case 'W':
        i_ += 2;
        perl_class(out, c, cls);
        return true;
      case 'x':
        ++i_;
        return hex_escape(out, 2);
      case 'u':
        ++i_;
        return hex_escape(out, 4);
      case 'U':
        ++i_;
        return hex_escape(out, 8);
      case 'p':
      case 'P': {
        out.append(p_.substr(i_, 2));
        i_ += 2;
        if (i_ >= p_.size()) return false;
        if (p_[i_] != '{') {
          copy_char(out);
          return true;
        }
        const std::size_t close = p_.find('}', i_);
        if (close == std::string_view::npos) return false;
        out.append(p_.substr(i_, close + 1 - i_));
        i_ = close + 1;
        return true;
      }
      case 'b':
        if (cls != nullptr || at("\\b{")) return false;
        [[fallthrough]];
      case 'B':
      case 'A':
      case 'z':
        if (cls != nullptr) return false;
        [[fallthrough]];
      case 'a':
      case 'f':
      case 't':
      case 'n':
      case 'r':
      case 'v':
        out.append(p_.substr(i_, 2));
        i_ += 2;
        return true;
      case '<':
      case '>':
        return false;  // word-start and word-end assertions: not available
      default:
        break;
    }
    // Any other ASCII character that is not a letter or digit stands for
    // itself; letters and digits (backreferences among them) and non-ASCII
    // characters may not be escaped.
    if (is_ascii_alnum(c) || static_cast<unsigned char>(c) >= 0x80) return false;
    append_code_point_escape(out, static_cast<unsigned char>(c));
    i_ += 2;
    return true;
  }

  // "(?P<name>" or "(?<name>": `i_` at the "<".
  bool named_group() {
    const std::size_t close = p_.find('>', i_);
    if (close == std::string_view::npos || close == i_ + 1) return false;
    out_ += "(?P";
    out_.append(p_.substr(i_, close + 1 - i_));
    i_ = close + 1;
    outer_.push_back(flags_);
    return true;
  }

  bool open_group() {
    ++i_;
    if (i_ >= p_.size() || p_[i_] != '?') {
      out_ += '(';
      outer_.push_back(flags_);
      return true;
    }
    ++i_;
    if (at("P<")) {
      ++i_;
      return named_group();
    }
    if (at("<") && !at("<=") && !at("<!")) return named_group();
    return flag_group();  // look-around, (?P=...) and the like fail there
  }

  // "(?flags)" or "(?flags:": `i_` just past the "?".
  bool flag_group() {
    std::string on, off;
    Flags next = flags_;
    bool negate = false, any = false;
    for (; i_ < p_.size() && p_[i_] != ')' && p_[i_] != ':'; ++i_) {
      const char f = p_[i_];
      if (f == '-') {
        if (negate) return false;
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
          return false;  // look-around, backreferences, unknown or unsupported flags
      }
    }
    if (i_ >= p_.size() || !any) return false;
    std::string spelled = on;
    if (!off.empty()) spelled += "-" + off;
    if (p_[i_] == ':') {
      out_ += "(?" + spelled + ":";
      outer_.push_back(flags_);
    } else if (!spelled.empty()) {
      out_ += "(?" + spelled + ")";
    }
    ++i_;
    flags_ = next;
    return true;
  }

  bool char_class() {
    ++i_;  // '['
    bool negated = false;
    if (i_ < p_.size() && p_[i_] == '^') {
      negated = true;
      ++i_;
    }
    ClassItems cls;
    bool first = true;
    for (;;) {
      if (i_ >= p_.size()) return false;
      if (skip_verbose_space()) continue;
      const char c = p_[i_];
      if (c == ']' && !first) break;
      first = false;
      if (c == '[') {
        if (!at("[:")) return false;  // nested classes
        const std::size_t close = p_.find(":]", i_ + 2);
        if (close == std::string_view::npos) return false;
        cls.items.append(p_.substr(i_, close + 2 - i_));
        i_ = close + 2;
      } else if (at("&&") || at("--") || at("~~")) {
        return false;  // class set operations
      } else if (c == '\\') {
        if (!escape(cls.items, &cls)) return false;
      } else if (c == ']') {
        cls.items += "\\x{5D}";
        ++i_;
      } else {
        copy_char(cls.items);
      }
    }
    ++i_;  // ']'
    return close_class(negated, cls);
  }

  // RE2 classes cannot subtract, so a \W among other items becomes an
  // alternation, and a negated class can hold \W only alone.
  bool close_class(bool negated, const ClassItems& cls) {
    if (!cls.not_word) {
      out_ += negated ? "[^" : "[";
      out_ += cls.items;
      out_ += ']';
      return true;
    }
    if (negated) {
      if (!cls.items.empty()) return false;
      out_ += "[";
      out_ += kWordItems;
      out_ += ']';
      return true;
    }
    if (cls.items.empty()) {
      out_ += "[^";
      out_ += kWordItems;
      out_ += ']';
      return true;
    }
    out_ += "(?:[" + cls.items + "]|[^";
    out_ += kWordItems;
    out_ += "])";
    return true;
  }

  std::string_view p_;
  std::size_t i_ = 0;
  std::string out_;
  Flags flags_;
  std::vector<Flags> outer_;  // the flags in force outside each open group
};

}  // namespace

std::optional<std::string> translate_schema_pattern(std::string_view pattern) {
  return PatternTranslator(pattern).run();
}

SchemaPattern::SchemaPattern(std::unique_ptr<re2::RE2> re) noexcept : re_(std::move(re)) {}
SchemaPattern::~SchemaPattern() = default;

bool SchemaPattern::search(std::string_view text) const {
  constexpr std::size_t kMemoTextLimit = 64;
  constexpr std::size_t kMemoEntries = 4096;
  const auto run = [&] { return re2::RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), *re_); };
  if (text.size() > kMemoTextLimit) return run();
  if (const auto it = memo_.find(text); it != memo_.end()) return it->second;
  const bool found = run();
  if (memo_.size() < kMemoEntries) memo_.emplace(std::string(text), found);
  return found;
}

std::unique_ptr<SchemaPattern> compile_schema_pattern(std::string_view pattern) {
  const std::optional<std::string> translated = translate_schema_pattern(pattern);
  if (!translated) return nullptr;
  re2::RE2::Options options;
  options.set_log_errors(false);
  options.set_max_mem(32 << 20);  // the Unicode classes make larger programs than ASCII ones
  auto re = std::make_unique<re2::RE2>(*translated, options);
  if (!re->ok()) return nullptr;
  return std::make_unique<SchemaPattern>(std::move(re));
}

const SchemaPattern* PatternCache::get(std::string_view pattern) {
  auto it = patterns_.find(pattern);
  if (it == patterns_.end()) it = patterns_.emplace(std::string(pattern), compile_schema_pattern(pattern)).first;
  return it->second.get();
}

}  // namespace kestrine
