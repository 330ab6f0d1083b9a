// Texts written by the YAML writer read back, through our own decoder, as the
// values they were written from: strings in every layout and version mode,
// floats, big integers and tagged values.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "decode/value.hpp"
#include "encode/yaml_writer.hpp"

namespace kestrine {
namespace {

const char* const kTrickyTexts[] = {
    "", "~", "null", "yes", "y", "n", "on", "<<", "=", "...", "... x", "---", "--- x", "- x",
    "-", "? x", "?", ":", "a: b", "a:", "a #b", "#x", "a\tb", "\n", "\n\n", "a\n", "a\n\n",
    "a\nb", " a\nb", "a\n b\n", "\ta\n", "x ", " x", "123", "1_000", "_1", "0o17", "010",
    "0x1F", "1e5", "1.0e+5", ".5", "1:30", "2001-12-14", "2001-12-14 21:59:43", "a,b", "[a]",
    "{a}", "a]", "'", "\"", "a'b", "a\"b", "\\", "\xc3\xa9", "a\xc2\x85" "b", "a\xe2\x80\xa8" "b",
    "\xef\xbb\xbfx", "!x", "&x", "*x", "%x", "@x", "`x", "|", ">", "aaaa bbbb cccc dddd eeee",
    "aaa\t bbb ccc ddd eee fff", "a \tb c d e f g h i j k", "a\x01" "b", "\x7f", "a\rb",
    "a\r\nb\n", "\xc2\x80", "\xef\xbf\xbf", "0", "-0", "+.5", ".inf", "-.inf", ".NaN", "True",
    "Null", "NO", "Off", "a:b", "a#b", "http://x.y/z?q=1#f", "- ", " ", "  \n", "\n  a",
    "a\n  \n", "a\n\n\nb\n\n", "9?", "x?y", "a, b", "{a: 1}",
};

std::vector<std::string> tricky_and_random_texts() {
  std::vector<std::string> texts(std::begin(kTrickyTexts), std::end(kTrickyTexts));
  const std::vector<std::string> alphabet = {
      "a", "b", " ", "  ", "-", ":", "#", ",", "[", "]", "{", "}", "'", "\"", "\\", "\t", "\n",
      "?", "!", "&", "*", "|", ">", "%", "@", "`", ".", "0", "1", "9", "_", "e", "+", "~",
      "\xc3\xa9", "\xc2\x85", "\xe2\x80\xa8", "\x01", "\r"};
  std::mt19937 rng(12345);
  for (int i = 0; i < 1500; ++i) {
    std::string t;
    const int len = 1 + static_cast<int>(rng() % 24);
    for (int j = 0; j < len; ++j) t += alphabet[rng() % alphabet.size()];
    texts.push_back(std::move(t));
  }
  return texts;
}

std::vector<WriterOptions> layouts(VersionMode mode) {
  std::vector<WriterOptions> out;
  for (int variant = 0; variant < 6; ++variant) {
    WriterOptions o;
    o.version_mode = mode;
    if (variant == 1) o.flow = true;
    if (variant == 2) o.width = 12;
    if (variant == 3) {
      o.width = 20;
      o.prefer_double = false;
    }
    if (variant == 4) {
      o.flow = true;
      o.width = 10;
      o.prefer_double = false;
    }
    if (variant == 5) {
      o.indentless = true;
      o.indent = 4;
      o.null_style = NullStyle::Tilde;
    }
    out.push_back(o);
  }
  return out;
}

// Decodes `text` under `mode` (timestamps on, as the strictest reading) and
// compares its one document with `expected`.
void expect_reads_back(const std::string& text, VersionMode mode, const YamlValue& expected) {
  DecodeOptions d;
  d.version_mode = mode;
  d.timestamps = mode != VersionMode::Yaml12;
  auto r = decode_stream(text, d);
  ASSERT_TRUE(r.has_value()) << r.error().message << "\n" << text;
  ASSERT_EQ(r->documents.size(), 1u) << text;
  EXPECT_TRUE(values_equal(r->documents[0], expected))
      << text << "\nread back as " << debug_render_value(r->documents[0]);
}

TEST(EncodeReadback, StringsInEveryLayoutAndMode) {
  for (const std::string& t : tricky_and_random_texts()) {
    ValueArena a;
    const YamlValue s = a.make_string(t);
    const ValuePair inner{s, s};
    const YamlValue items[] = {s, a.make_mapping(std::span<const ValuePair>(&inner, 1)),
                               YamlValue::null()};
    const ValuePair top{a.make_string("k"), a.make_sequence(items)};
    const YamlValue doc = a.make_mapping(std::span<const ValuePair>(&top, 1));
    for (VersionMode mode : {VersionMode::Yaml12, VersionMode::Yaml11, VersionMode::PyyamlCompat}) {
      for (const WriterOptions& o : layouts(mode)) {
        SCOPED_TRACE("text '" + t + "' mode " + std::to_string(static_cast<int>(mode)));
        expect_reads_back(dump_yaml(s, o), mode, s);
        expect_reads_back(dump_yaml(doc, o), mode, doc);
      }
    }
  }
}

TEST(EncodeReadback, NumbersAndTags) {
  ValueArena a;
  std::vector<YamlValue> items;
  for (double d : {0.0, -0.0, 1.0, 0.1, 1e15, 1e16, 1.5e-7, 5e-324, 1.7976931348623157e308,
                   HUGE_VAL, -HUGE_VAL}) {
    items.push_back(YamlValue::of_float(d));
  }
  for (std::int64_t i : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{9223372036854775807}}) {
    items.push_back(YamlValue::of_int(i));
  }
  items.push_back(a.make_bigint("123456789012345678901234567890"));
  items.push_back(a.make_tagged("!custom", a.make_string("x y")));
  items.push_back(a.make_tagged("!seq", a.make_sequence(std::span<const YamlValue>(items.data(), 2))));
  items.push_back(YamlValue::of_bool(false));
  const YamlValue doc = a.make_sequence(items);
  const ValuePair pair{a.make_string("k"), doc};
  const YamlValue tagged_roots[] = {a.make_tagged("!t", doc),
                                    a.make_tagged("!m", a.make_mapping(std::span(&pair, 1))),
                                    a.make_tagged("!s", a.make_string("a\nb\n"))};
  for (VersionMode mode : {VersionMode::Yaml12, VersionMode::Yaml11, VersionMode::PyyamlCompat}) {
    for (const WriterOptions& o : layouts(mode)) {
      expect_reads_back(dump_yaml(doc, o), mode, doc);
      for (const YamlValue& root : tagged_roots) expect_reads_back(dump_yaml(root, o), mode, root);
    }
  }
}

}  // namespace
}  // namespace kestrine
