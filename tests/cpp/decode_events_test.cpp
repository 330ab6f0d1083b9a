// The decoder over hand-built event vectors: structure errors that the
// scanner's own checks normally catch first must still be reported, never
// crash or loop.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "decode_support.hpp"
#include "yaml_suite.hpp"

namespace kestrine {
namespace {

struct Ev {
  EventKind kind;
  std::string_view text = {};
  bool flow = false;
};

// One event per line, so that an error's line names the event.
ScanResult events(std::initializer_list<Ev> list) {
  ScanResult r;
  std::uint32_t line = 0;
  for (const Ev& e : list) {
    SpannedEvent s;
    s.kind = e.kind;
    s.set_text(e.text);
    s.flow = e.flow;
    s.line = line;
    s.offset = line;
    s.end_offset = line;
    ++line;
    r.events.push_back(s);
  }
  return r;
}

std::string run(ScanResult scan, const DecodeOptions& o = {}) {
  auto r = decode_events(scan, 0, o);
  if (!r) return "ERROR: " + r.error().message + " @" + std::to_string(r.error().span.line);
  std::string s;
  for (std::size_t i = 0; i < r->documents.size(); ++i) {
    if (i) s += " | ";
    s += test::show(r->documents[i]);
  }
  return s;
}

using K = EventKind;

TEST(DecodeEvents, DirectiveAfterAnImplicitDocument) {
  EXPECT_EQ(run(events({{K::StreamStart}, {K::Scalar, "a"}, {K::Directive, "YAML 1.2"},
                        {K::DocumentStart}, {K::Scalar, "b"}, {K::StreamEnd}})),
            "ERROR: a directive must be at the start of the stream or follow a document-end "
            "marker (...) @2");
  // After "..." the directive is fine.
  EXPECT_EQ(run(events({{K::StreamStart}, {K::Scalar, "a"}, {K::DocumentEnd},
                        {K::Directive, "YAML 1.2"}, {K::DocumentStart}, {K::Scalar, "b"},
                        {K::StreamEnd}})),
            R"("a" | "b")");
}

TEST(DecodeEvents, TrailingContent) {
  EXPECT_EQ(run(events({{K::StreamStart}, {K::DocumentStart}, {K::Scalar, "a"}, {K::Scalar, "b"},
                        {K::StreamEnd}})),
            "ERROR: trailing content after document @3");
}

TEST(DecodeEvents, BlockCollectionAsImplicitKey) {
  EXPECT_EQ(run(events({{K::StreamStart}, {K::MappingStart}, {K::Anchor, "x"}, {K::SequenceStart},
                        {K::SequenceEntry}, {K::Scalar, "a"}, {K::BlockEnd}, {K::Value},
                        {K::Scalar, "v"}, {K::BlockEnd}, {K::StreamEnd}})),
            "ERROR: a block collection cannot be a mapping key @3");
  // A flow collection is a fine implicit key (the scanner puts a Key before
  // it when its ':' follows on the same line).
  EXPECT_EQ(run(events({{K::StreamStart}, {K::MappingStart}, {K::Key},
                        {K::SequenceStart, "", true}, {K::Scalar, "a"}, {K::SequenceEnd},
                        {K::Value}, {K::Scalar, "v"}, {K::BlockEnd}, {K::StreamEnd}})),
            R"({["a"]: "v"})");
}

TEST(DecodeEvents, StrayEventsAreSteppedOver) {
  EXPECT_EQ(run(events({{K::StreamStart}, {K::BlockEnd}, {K::Value}, {K::Scalar, "a"},
                        {K::StreamEnd}})),
            R"("a")");
}

TEST(DecodeEvents, TruncatedStreamsEndCleanly) {
  // No StreamEnd: open collections close at the end of the events.
  EXPECT_EQ(run(events({{K::StreamStart}, {K::SequenceStart, "", true}, {K::Scalar, "a"}})),
            R"(["a"])");
  EXPECT_EQ(run(events({{K::StreamStart}, {K::MappingStart}, {K::Key}, {K::Scalar, "k"},
                        {K::Value}})),
            R"({"k": null})");
  // Properties with nothing after them are dropped.
  EXPECT_EQ(run(events({{K::StreamStart}, {K::DocumentStart}, {K::Anchor, "a"}})), "null");
  // A depth error past the last event has an all-zero span.
  ScanResult deep;
  deep.events.push_back(SpannedEvent{});
  for (int i = 0; i < 1000; ++i) {
    for (K k : {K::SequenceStart, K::SequenceEntry}) {
      SpannedEvent s;
      s.kind = k;
      s.line = 5;
      deep.events.push_back(s);
    }
  }
  auto r = decode_events(deep, 0, {});
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "maximum nesting depth (1000) exceeded");
  EXPECT_EQ(r.error().span, Span{});
}

// check_events builds no document unless a duplicate-key policy needs the
// keys: its verdict must still be decode_events' own, error for error.
TEST(DecodeEvents, VerdictAloneIsTheDecodersVerdict) {
  std::vector<std::string> texts = {
      "? [a]\n: 1\n", "{[a]: 1}\n", "? {a: 1}\n: x\n", "a: &x [1]\n*x : 2\n",
      "a: &x [1]\n? !t *x\n: 2\n", "? !t [a]\n: 1\n", "- &a [1, 2]\n- {*a : b}\n",
      "base: &b {x: 1}\nm:\n  <<: *b\n  y: 2\n", "m: {<<: [*u]}\n", "!!merge <<: {a: 1}\n",
      "? <<\n: {a: 1}\n", "a: &a [1]\nb: &a [2]\nc: *a\n", "&a &b x\n", "*a\n", "&a *b\n",
      "%TAG !e! tag:e,2000:\n---\n!e!x [a]: 1\n", "!u!x a\n", "a: 1\n--- b\n... \n%YAML 1.2\n---\nc\n",
      "a: !!int x\nb: !!float ''\nc: !!null\n", "[a, b]: c\n",
  };
  std::string bomb = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
  for (char c = 'b'; c <= 'h'; ++c) {
    const char prev = static_cast<char>(c - 1);
    bomb += std::string(1, c) + ": &" + c + " [*" + prev + ", *" + prev + ", *" + prev + ", *" + prev + ", *" +
            prev + ", *" + prev + ", *" + prev + ", *" + prev + ", *" + prev + ", *" + prev + "]\n";
  }
  texts.push_back(bomb);
  texts.push_back(std::string(1200, '[') + std::string(1200, ']') + "\n");
  for (const testing::SuiteCase& c : testing::suite_cases()) texts.push_back(testing::read_file(c.in_yaml()));

  std::vector<DecodeOptions> settings(3);
  settings[1].reject_complex_keys = true;
  settings[2].version_mode = VersionMode::Yaml11;
  settings[2].reject_complex_keys = true;
  for (const std::string& text : texts) {
    for (const DecodeOptions& options : settings) {
      Scanner scanner = new_scanner(text);  // scanned again: decode_events takes the scan's texts
      auto scanned = scan_events(scanner);
      if (!scanned) break;
      const std::optional<DecoderError> verdict = check_events(*scanned, text.size(), options);
      auto decoded = decode_events(*scanned, text.size(), options);
      ASSERT_EQ(verdict.has_value(), !decoded) << text;
      if (!verdict) continue;
      EXPECT_EQ(verdict->message, decoded.error().message) << text;
      EXPECT_EQ(verdict->span, decoded.error().span) << text;
      EXPECT_EQ(verdict->kind, decoded.error().kind) << text;
    }
  }
}

}  // namespace
}  // namespace kestrine
