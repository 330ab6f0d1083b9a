// The decoder's limits: nesting depth, the alias-expansion budget, and the
// cost of anchors (memory and time must stay linear in the input).
#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <string>

#include "decode/decoder.hpp"
#include "decode_support.hpp"

namespace kestrine {
namespace {

using test::error_message;

std::string nested_flow(int levels, const std::string& inner) {
  return std::string(levels, '[') + inner + std::string(levels, ']');
}

TEST(DecodeLimits, NestingDepthCountsEveryNode) {
  // The root is level 1; a scalar inside 999 sequences is level 1000.
  EXPECT_TRUE(decode_stream(nested_flow(999, "x"), {}));
  EXPECT_TRUE(decode_stream(nested_flow(1000, ""), {}));
  auto r = decode_stream(nested_flow(1000, "x"), {});
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "maximum nesting depth (1000) exceeded");
  EXPECT_EQ(r.error().kind, DecoderErrorKind::Parse);
  EXPECT_EQ(r.error().span.column, 1000u);  // at the scalar
}

TEST(DecodeLimits, DeepBlockNesting) {
  // Block mappings: each level is a mapping plus its key and value nodes.
  std::string ok, indent;
  for (int i = 0; i < 998; ++i) {
    ok += indent + "k:\n";
    indent += ' ';
  }
  ok += indent + "v\n";
  EXPECT_TRUE(decode_stream(ok, {}));  // 998 mappings + the scalar: 999 levels
  std::string deep;
  indent.clear();
  for (int i = 0; i < 1000; ++i) {
    deep += indent + "- k:\n";
    indent += "  ";
  }
  deep += indent + " v\n";  // past the column of the last key
  EXPECT_EQ(error_message(deep), "maximum nesting depth (1000) exceeded");
}

TEST(DecodeLimits, AliasBudgetIsExactAndCoversTheStream) {
  // An anchored sequence of 999 scalars counts 1000 nodes per alias.
  std::string seq = "&a [";
  for (int i = 0; i < 999; ++i) seq += "x,";
  seq += "]";
  auto doc = [&](int aliases) {
    std::string d = "- " + seq + "\n";
    for (int i = 0; i < aliases; ++i) d += "- *a\n";
    return d;
  };
  EXPECT_TRUE(decode_stream(doc(10000), {}));  // exactly 10,000,000 nodes
  auto over = decode_stream(doc(10001), {});
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error().message, "document expands to too many nodes (possible alias bomb)");
  EXPECT_EQ(over.error().span.line, 10001u);  // the alias that went over

  // Two documents of 6,000,000 each: the second one fails.
  const std::string two = doc(6000) + "---\n" + doc(6000);
  auto r = decode_stream(two, {});
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "document expands to too many nodes (possible alias bomb)");
  EXPECT_EQ(r.error().span.line, 10003u);  // the 4001st alias of the second document
  EXPECT_TRUE(decode_stream(doc(6000), {}));
}

TEST(DecodeLimits, SmallAnchorsChargeTheirNodes) {
  // A one-item flow sequence costs 2 nodes per alias.
  std::string text = "- &a [x]\n";
  for (int i = 0; i < 10; ++i) text += "- *a\n";
  auto r = decode_stream(text, {});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->documents[0].size(), 11u);
}

TEST(DecodeLimits, BillionLaughsFailsFastInBoundedMemory) {
  std::string text = "a0: &a0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
  for (int i = 1; i <= 12; ++i) {
    const std::string p = "*a" + std::to_string(i - 1);
    text += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [";
    for (int j = 0; j < 10; ++j) text += p + (j < 9 ? ", " : "");
    text += "]\n";
  }
  const auto t0 = std::chrono::steady_clock::now();
  auto r = decode_stream(text, {});
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "document expands to too many nodes (possible alias bomb)");
  EXPECT_EQ(r.error().span.line, 6u);  // a6 is the first level that exceeds 10,000,000
  EXPECT_LT(ms, 1000);
}

TEST(DecodeLimits, NestedAnchorsCostLinearMemory) {
  // 998 nested anchored flow sequences of 1000 scalars each (the innermost
  // scalars at the deepest level allowed), then an alias: a deep copy per
  // anchor would need about 8 GB.
  const int levels = 998;
  std::string text;
  text.reserve(levels * 2100);
  text += "- ";
  for (int i = 0; i < levels; ++i) {
    text += "&a" + std::to_string(i) + " [";
    for (int j = 0; j < 1000; ++j) text += "s,";
  }
  text += std::string(levels, ']');
  text += "\n- *a900\n";
  const auto t0 = std::chrono::steady_clock::now();
  auto r = decode_stream(text, {});
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
  ASSERT_TRUE(r) << r.error().message;
  EXPECT_LT(r->arena.bytes_reserved(), 200u << 20);
  EXPECT_LT(ms, 5000);
  // The alias sees the whole anchored subtree.
  const YamlValue alias = r->documents[0].items()[1];
  ASSERT_TRUE(alias.is_sequence());
  EXPECT_EQ(alias.size(), 1001u);
  EXPECT_EQ(count_value_nodes(alias), 98u * 1001u);  // levels 900 to 997
}

TEST(DecodeLimits, DeepInputOnASmallThreadStack) {
  // Interpreter threads may have small stacks: the recursion moves to a new
  // stack segment instead of overflowing.
  struct Job {
    std::string text;
    bool ok = false;
  } job{nested_flow(999, "x") + "\n", false};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* p) -> void* {
                  auto* j = static_cast<Job*>(p);
                  j->ok = static_cast<bool>(decode_stream(j->text, {}));
                  return nullptr;
                },
                &job),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_TRUE(job.ok);
}

}  // namespace
}  // namespace kestrine
