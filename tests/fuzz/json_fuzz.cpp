// libFuzzer target: the JSON writer and the text of floats.  The input is
// decoded as YAML (1.2 and 1.1 readings, timestamps on) and every document
// is written as JSON, compact unsorted and indented sorted.  Both must fail
// alike (a collection used as a key); otherwise the texts must be valid
// UTF-8 (for UTF-8 input), keep their brackets balanced outside strings and
// have the same length once indentation is taken out (sorting only
// reorders members).
// Besides, the first eight bytes read as a double must give the float text
// std::to_chars gives, which must read back as the same double.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "decode/decoder.hpp"
#include "emit_util/float_text.hpp"
#include "encode/json_writer.hpp"
#include "util/utf8.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "json_fuzz: %s\n", what);
  __builtin_trap();
}

void require(bool ok, const char* what) {
  if (!ok) fail(what);
}

// Brackets balanced outside strings; the length without the white space
// indentation adds outside strings.
std::size_t check_shape(std::string_view json) {
  long depth = 0;
  bool in_string = false;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (in_string) {
      if (c == '\\') {
        i += 1;
        kept += 2;
        continue;
      }
      in_string = c != '"';
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      ++depth;
    } else if (c == ']' || c == '}') {
      require(--depth >= 0, "closing bracket without an opening one");
    } else if (c == ' ' || c == '\n') {
      continue;
    }
    ++kept;
  }
  require(!in_string && depth == 0, "unbalanced JSON text");
  return kept;
}

void write_documents(std::string_view text, kestrine::VersionMode mode) {
  kestrine::DecodeOptions options;
  options.version_mode = mode;
  options.timestamps = true;
  auto decoded = kestrine::decode_stream(text, options);
  if (!decoded) return;
  for (const kestrine::YamlValue& root : decoded->documents) {
    kestrine::JsonOptions compact;
    kestrine::JsonOptions sorted;
    sorted.indent = 2;
    sorted.sort_keys = true;
    auto plain = kestrine::dump_json(root, compact);
    auto other = kestrine::dump_json(root, sorted);
    require(plain.has_value() == other.has_value(), "sorting changed whether the writer fails");
    if (!plain) {
      require(plain.error() == kestrine::kJsonCollectionKeyError, "unexpected writer error");
      continue;
    }
    // (The decoder takes the text's bytes as they are; callers check it is
    // UTF-8 first.)
    if (kestrine::is_valid_utf8(text)) {
      require(kestrine::is_valid_utf8(*plain) && kestrine::is_valid_utf8(*other), "JSON text is not UTF-8");
    }
    require(check_shape(*plain) == check_shape(*other), "sorting changed more than the order");
  }
}

void check_float(double value) {
  const std::string text = kestrine::format_float(value);
  if (std::isnan(value)) return require(text == ".nan", "NaN text");
  if (std::isinf(value)) return require(text == (value > 0 ? ".inf" : "-.inf"), "infinity text");
  char sci[64];
  const std::string s(sci, std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr);
  const std::size_t e = s.find('e');
  int exponent = 0;
  std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
  std::string expected;
  if (exponent >= -4 && exponent <= 15) {
    char fixed[64];
    expected.assign(fixed, std::to_chars(fixed, fixed + sizeof fixed, value, std::chars_format::fixed).ptr);
    if (expected.find('.') == std::string::npos) expected += ".0";
  } else {
    expected = s.substr(0, e);
    if (expected.find('.') == std::string::npos) expected += ".0";
    const int mag = exponent < 0 ? -exponent : exponent;
    expected += (exponent < 0 ? "e-" : "e+") + std::string(mag < 10 ? "0" : "") + std::to_string(mag);
  }
  require(text == expected, "float text differs from std::to_chars");
  double back = 0;
  std::from_chars(text.data(), text.data() + text.size(), back);
  require(std::bit_cast<std::uint64_t>(back) == std::bit_cast<std::uint64_t>(value), "float text reads back wrong");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 8) {
    std::uint64_t bits;
    std::memcpy(&bits, data, 8);
    check_float(std::bit_cast<double>(bits));
  }
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  write_documents(text, kestrine::VersionMode::Yaml12);
  write_documents(text, kestrine::VersionMode::Yaml11);
  return 0;
}
