// Schema validation core: references and budgets, instance preparation,
// equality, secret provenance, and the agreement of the decoded-tree verdict
// with the node-tree validation.  Keyword semantics are tested from Python
// (tests/test_schema.py).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "roundtrip/compose/composer.hpp"
#include "schema/compare.hpp"
#include "schema/ref.hpp"
#include "schema_support.hpp"

namespace kestrine {
namespace {

using test::decode_ok;
using test::first_failure;
using test::TestSchema;

TEST(SchemaRef, JsonPointers) {
  const DecodedStream doc = decode_ok(R"({"a/b": 1, "~1": 2, list: [x, y, z]})");
  const YamlValue& root = doc.documents.front();
  const struct {
    const char* ref;
    const char* found;  // rendering of the target, nullptr: unresolvable
  } cases[] = {
      {"#", "mapping"},        {"#/a~1b", "1"},       {"#/~01", "2"},          {"#/list/+1", "y"},
      {"#/list/01", "y"},      {"#/list/-1", nullptr}, {"#/list/", nullptr},    {"#/list/3", nullptr},
      {"#/list/+", nullptr},   {"#/missing", nullptr}, {"other.json#/a", nullptr}, {"#a", nullptr},
      {"#/list/99999999999999999999999", nullptr},
  };
  for (const auto& c : cases) {
    const YamlValue* target = resolve_schema_ref(root, c.ref);
    if (c.found == nullptr) {
      EXPECT_EQ(target, nullptr) << c.ref;
      continue;
    }
    ASSERT_NE(target, nullptr) << c.ref;
    const std::string shown = target->is_mapping()  ? "mapping"
                              : target->is_string() ? std::string(target->text())
                                                    : std::to_string(target->integer);
    EXPECT_EQ(shown, c.found) << c.ref;
  }
}

// Definitions {name}0, {name}1, ... such that {$ref: '#/definitions/{name}0'}
// takes `hops` hops to reach `end`.
std::string chain_definitions(int hops, std::string_view end = "{type: string}", std::string_view name = "d") {
  const auto ref = [&](int i) { return std::string(name) + std::to_string(i); };
  std::string s;
  for (int i = 0; i + 1 < hops; ++i) s += ref(i) + ": {$ref: '#/definitions/" + ref(i + 1) + "'}, ";
  return s + ref(hops - 1) + ": " + std::string(end);
}

// A schema whose `at` (the root, or a keyword's value) starts, with its
// `$ref`, a chain of `hops` references ending in {type: string}.
std::string ref_chain(int hops, std::string_view at = "$ref") {
  const std::string s = "{definitions: {" + chain_definitions(hops) + "}, ";
  if (at == "$ref") return s + "$ref: '#/definitions/d0'}";
  return s + std::string(at) + ": {$ref: '#/definitions/d0'}}";
}

TEST(SchemaRef, DepthAndBudget) {
  // 128 consecutive hops are followed; the 129th fails.
  EXPECT_EQ(first_failure("1", ref_chain(128)), "expected type string, found integer at $ (1:1)");
  EXPECT_EQ(first_failure("1", ref_chain(129)), "schema $ref nesting too deep (cyclic reference?) at $ (1:1)");
  EXPECT_EQ(first_failure("a: 1", "{$ref: '#'}"), "schema $ref nesting too deep (cyclic reference?) at $ (1:1)");
  // The 129th hop of a chain that is no loop fails where it stands, like any
  // other failure: a branch of anyOf, or under not (which then passes).
  for (const char* any_of : {"[{$ref: '#/definitions/d0'}, {type: string}]", "[{type: string}, {$ref: '#/definitions/d0'}]"})
    EXPECT_EQ(first_failure("hello", "{definitions: {" + chain_definitions(130, "{type: integer}") + "}, anyOf: " +
                                         any_of + "}"), "") << any_of;
  EXPECT_EQ(first_failure("x", ref_chain(128, "not")), "value must not match the 'not' schema at $ (1:1)");
  EXPECT_EQ(first_failure("x", ref_chain(129, "not")), "");
  // A verdict found near the root answers deeper down only where the walk
  // still fits under the limit: the 100 hops of t fit below one hop, not
  // below the 40 of e, where they are cut short and the not passes.
  const std::string depths = "{definitions: {" + chain_definitions(100, "{type: integer}", "t") + ", " +
                             chain_definitions(40, "{not: {$ref: '#/definitions/t0'}}", "e") +
                             "}, allOf: [{$ref: '#/definitions/t0'}, {$ref: '#/definitions/e0'}]}";
  EXPECT_EQ(first_failure("1", depths), "");
  EXPECT_EQ(first_failure("x", depths), "expected type integer, found string at $ (1:1)");
  // ... and so does a verdict that rests on one found before: o, remembered
  // near the root, took its answer for t from t's verdict, and its own
  // verdict must allow for t's hops.
  std::string o = "{allOf: [{$ref: '#/definitions/t0'}";
  for (int i = 0; i < 70; ++i) o += ", {type: integer}";
  o += "]}";
  const std::string nested = "{definitions: {" + chain_definitions(100, "{type: integer}", "t") + ", o: " + o +
                             ", " + chain_definitions(40, "{not: {$ref: '#/definitions/o'}}", "e") +
                             "}, allOf: [{$ref: '#/definitions/t0'}, {$ref: '#/definitions/o'}, "
                             "{$ref: '#/definitions/e0'}]}";
  EXPECT_EQ(first_failure("1", nested), "");
  // A chain restarts at every member: each item below takes 100 hops.
  std::string items = "[";
  for (int i = 0; i < 1001; ++i) items += "x, ";
  items += "x]";
  EXPECT_EQ(first_failure(items, ref_chain(100, "items")), "");
  // A loop in the branches of a combinator ends the validation too.
  const char* doubling = "{$ref: '#/definitions/a', definitions: {a: {anyOf: [{$ref: '#/definitions/a'}, "
                         "{$ref: '#/definitions/a'}]}}}";
  EXPECT_EQ(first_failure("[1, 2]", doubling), "schema $ref nesting too deep (cyclic reference?) at $ (1:1)");
  // The budget (100000 hops, plus 128 per member or item entered) ends the
  // validation where it runs out, even under `not`, which would turn the
  // failure into a pass: each item below takes 1000 hops.
  std::string branches = "{definitions: {x: {type: string}}, items: {not: {anyOf: [";
  for (int i = 0; i < 1000; ++i) branches += "{$ref: '#/definitions/x'}, ";
  branches += "]}}}";
  std::string numbers = "[1";
  for (int i = 0; i < 149; ++i) numbers += ", 1";
  numbers += "]";
  EXPECT_EQ(first_failure(numbers, branches),
            "schema $ref nesting too deep (cyclic reference?) at $[114] (1:344)");
}

TEST(SchemaInstance, AliasesMergeKeysAndLimits) {
  const struct {
    const char* doc;
    const char* schema;
    const char* failure;
    bool yaml11 = false;
  } cases[] = {
      // An alias stands for the most recent complete node with its anchor.
      {"a: &x 1\nb: &x s\nc: *x\n", "{properties: {c: {type: string}}}", ""},
      // The aliased node is reported at the alias, its members where they are.
      {"base: &b {n: 1}\nuse: *b\n", "{properties: {use: {type: array}}}", "expected type array, found object at $.use (2:6)"},
      {"base: &b {n: 1}\nuse: *b\n", "{properties: {use: {properties: {n: {type: string}}}}}",
       "expected type string, found integer at $.use.n (1:14)"},
      // Merge keys: own keys first and winning, then merged ones by order.
      {"b: 2\n<<: {a: 1, b: 3}\n", "{required: [a], properties: {a: {const: 1}, b: {const: 2}}, additionalProperties: false}", ""},
      {"x: &x {a: 1}\ny: &y {a: 2, b: 2}\nz:\n  <<: [*x, *y]\n", "{properties: {z: {const: {a: 1, b: 2}}}}", ""},
      {"<<: null\nk: 1\n", "{maxProperties: 1}", ""},
      {"<<: 5\n", "{properties: {'<<': {const: 5}}, required: ['<<']}", ""},
      {"'<<': {a: 1}\n", "{required: [a]}", "missing required property 'a' at $ (1:1)"},
      // Merged keys are the same key when they load as the same value.
      {"yes: 1\n<<: {true: 2}\n", "{maxProperties: 1}", "object has more than maxProperties 1 at $ (1:1)"},
      {"yes: 1\n<<: {true: 2}\n", "{maxProperties: 1}", "", true},
  };
  for (const auto& c : cases) EXPECT_EQ(first_failure(c.doc, c.schema, c.yaml11), c.failure) << c.doc;

  // Nested alias expansions: 100 are read, one more fails the validation
  // where it is met (never read as null), also inside a combinator that a
  // failure would turn into a pass, and also for a comparing keyword.
  const auto chain = [](int n) {
    std::string text = "a0: &a0 [x]\n";
    for (int k = 1; k <= n; ++k)
      text += "a" + std::to_string(k) + ": &a" + std::to_string(k) + " [*a" + std::to_string(k - 1) + "]\n";
    return text + "top: *a" + std::to_string(n) + "\n";
  };
  const std::string deepest = "{properties: {top: {$ref: '#/definitions/d'}}, definitions: {d: "
                              "{anyOf: [{type: string}, {items: {$ref: '#/definitions/d'}}]}}}";
  EXPECT_EQ(first_failure(chain(99), deepest), "");
  EXPECT_EQ(first_failure(chain(100), deepest).substr(0, 43), "aliases nest too deeply to validate at $.to");
  EXPECT_EQ(first_failure(chain(100), "{not: {properties: {top: {const: 1}}}}").substr(0, 39),
            "aliases nest too deeply to validate at ");
  EXPECT_EQ(first_failure(chain(100), "{properties: {a0: {type: array}}}"), "");  // not read: no failure
}

// Text read through aliases is charged (here 1000 bytes for a validation;
// the anchored scalar is 100 bytes): many aliases to a long scalar, each
// checked against its own schema, end in a failure where the budget runs
// out, never in a pass, whatever keyword reads the text and whatever
// combinator stands around it.  Aliases checked against a schema that
// their anchored node met already read nothing again.
TEST(SchemaInstance, TextReadThroughAliasesIsBounded) {
  const std::string text(100, 'x');
  const auto aliases = [](const std::string& alias, int n) {
    std::string list = "[";
    for (int k = 0; k < n; ++k) list += (k ? ", " : "") + alias;
    return list + "]";
  };
  // `items` in the array form: a schema of its own for each of n items.
  const auto each_own = [](std::string_view schema, int n = 20) {
    std::string list = "[";
    for (int k = 0; k < n; ++k) list += (k ? ", " : "") + std::string(schema);
    return list + "]";
  };
  const std::string scalar = "a: &a " + text + "\n";
  const std::string key = "k: &k " + text + "\n";
  const std::string mapping = "m: &m {" + text + ": 1}\n";
  const std::string stop = "aliases repeat too much text to validate at ";
  const std::string b20 = scalar + "b: " + aliases("*a", 20) + "\n";
  const struct {
    std::string doc;
    std::string schema;
    std::string failure;
  } cases[] = {
      // Ten reads fit, the eleventh does not.
      {scalar + "b: " + aliases("*a", 10) + "\n", "{properties: {b: {items: {minLength: 1, pattern: x}}}}", ""},
      {b20, "{properties: {b: {items: " + each_own("{minLength: 1, pattern: x}") + "}}}", stop + "$.b[10] (2:45)"},
      {b20, "{properties: {b: {items: {minLength: 1, pattern: x}}}}", ""},  // one schema: read once
      // Each visit reads the text again (the anyOf and both branches); a
      // combinator never turns the stop into a pass.
      {b20, "{properties: {b: {items: " + each_own("{anyOf: [{maxLength: 1}, {type: string}]}") + "}}}",
       stop + "$.b[3] (2:17)"},
      {b20, "{properties: {b: {items: {anyOf: [{maxLength: 1}, {type: string}]}}}}", ""},
      {b20, "{not: {properties: {b: {items: " + each_own("{type: string}") + "}}}}", stop + "$.b[10] (2:45)"},
      {b20, "{not: {properties: {b: {items: {type: string}}}}}", "value must not match the 'not' schema at $ (1:1)"},
      // Keys: an alias as a key, a key of an aliased mapping.
      {key + "b: " + aliases("{*k : 1}", 20) + "\n", "{properties: {b: {items: {properties: {y: {}}}}}}",
       stop + "$.b[10] (2:105)"},
      {mapping + "b: " + aliases("*m", 20) + "\n",
       "{properties: {b: {items: " + each_own("{patternProperties: {y: {}}}") + "}}}", stop + "$.b[10] (2:45)"},
      {mapping + "b: " + aliases("*m", 20) + "\n",
       "{properties: {b: {items: " + each_own("{propertyNames: {maxLength: 1000}}") + "}}}", stop + "$.b[5] (2:25)"},
      // Comparing keywords read whole values.
      {scalar + "b: &b [*a, *a, *a]\nc: " + aliases("*b", 20) + "\n", "{properties: {c: {uniqueItems: true}}}",
       stop + "$.c (3:17)"},
      {b20, "{properties: {b: {items: {enum: [y]}}}}", "value is not one of the allowed enum values at $.b[0] (2:5)"},
      // The document's own text is read once: never charged.
      {"a: " + std::string(5000, 'x') + "\n", "{properties: {a: {minLength: 5000, pattern: x}}}", ""},
  };
  for (const auto& c : cases) {
    const YamlNode root = testing::root_of(c.doc);
    const TestSchema schema(c.schema);
    const auto error = validate_root(root, schema.set(), KeyReading(VersionMode::Yaml12), 1000);
    const std::string found = !error ? ""
                                     : error->message + " at " + error->schema_path + " (" +
                                           std::to_string(error->span.line + 1) + ":" +
                                           std::to_string(error->span.column + 1) + ")";
    EXPECT_EQ(found, c.failure) << c.schema;
  }
}

TEST(SchemaCompare, EqualityAcrossForms) {
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"1", "1.0", true},           {"1", "true", false},         {"1", "'1'", false},
      {".nan", ".nan", false},      {"-0.0", "0", true},          {"[1, [2]]", "[1.0, [2.0]]", true},
      {"{a: 1, b: 2}", "{b: 2, a: 1}", true},
      {"{x: 1, x: 1}", "{x: 1, y: 2}", false},  // the same keys on both sides
      {"{x: 1}", "{x: 1, y: 2}", false},
      {"123456789012345678901234567890", "0x18EE90FF6C373E0EE4E3F0AD2", true},
      {"123456789012345678901234567890", "123456789012345678901234567891", false},
      {"100000000000000000000", "1e20", false},  // a big integer is not a float
  };
  for (const auto& c : cases) {
    const DecodedStream a = decode_ok(c.a), b = decode_ok(c.b);
    EXPECT_EQ(schema_values_equal(a.documents.front(), b.documents.front()), c.equal) << c.a << " vs " << c.b;
    EXPECT_EQ(schema_values_equal(b.documents.front(), a.documents.front()), c.equal) << c.b << " vs " << c.a;
  }
  ValueArena arena;
  EXPECT_TRUE(schema_values_equal(YamlValue::of_int(7), arena.make_bigint("+0_007")));
  EXPECT_TRUE(schema_values_equal(arena.make_bigint("-1_000000000000000000000"),
                                  arena.make_bigint("-1000000000000000000000")));
}

// has_equal_items answers as the pairwise comparison would, on lists long
// enough to take the hashed road, with values that only compare equal
// across forms (2^53 + 1 is not 2^53, but both equal the float 2^53).
TEST(SchemaCompare, UniqueItemsMatchesPairwise) {
  ValueArena arena;
  std::vector<DecodedStream> trees;
  for (const char* text : {"[1, 2]", "[1.0, 2]", "{a: 1, b: 2}", "{b: 2.0, a: 1}"}) trees.push_back(decode_ok(text));
  const std::vector<YamlValue> pool = {
      YamlValue::of_int(9007199254740992), YamlValue::of_int(9007199254740993),
      YamlValue::of_float(9007199254740992.0), YamlValue::of_int(1), YamlValue::of_float(1.0),
      YamlValue::of_float(std::nan("")), YamlValue::of_bool(true), YamlValue::null(),
      arena.make_bigint("123456789012345678901234567890"), arena.make_bigint("+123_456789012345678901234567890"),
      arena.make_string("1"), arena.make_string("a"),
      trees[0].documents.front(), trees[1].documents.front(), trees[2].documents.front(),
      trees[3].documents.front()};
  std::mt19937 rng(20);
  for (int round = 0; round < 400; ++round) {
    std::vector<YamlValue> items;
    const int n = 2 + static_cast<int>(rng() % 40);
    // Mostly distinct Ints, a few picks from the pool.
    for (int i = 0; i < n; ++i)
      items.push_back(rng() % 4 == 0 ? pool[rng() % pool.size()]
                                     : YamlValue::of_int(static_cast<std::int64_t>(rng() % 100000) * 7));
    bool pairwise = false;
    for (std::size_t i = 0; i < items.size() && !pairwise; ++i)
      for (std::size_t j = i + 1; j < items.size() && !pairwise; ++j) pairwise = schema_values_equal(items[i], items[j]);
    ASSERT_EQ(has_equal_items(items), pairwise) << "round " << round;
  }
}

TEST(SchemaValidate, SecretValuesAreNeverQuoted) {
  YamlNode root = testing::root_of("a: 5\nb:\n  c: 7\nd: 3\n");
  root.pairs_mut()[0].value.set_source(IncludeSource{"!secret", "pin", std::nullopt});
  root.pairs_mut()[1].value.set_source(IncludeSource{"!secret", "nested", std::nullopt});
  const TestSchema schema("{properties: {a: {minimum: 10}}}");
  EXPECT_EQ(first_failure(root, schema), "value <secret> is less than minimum 10 at $.a (1:4)");
  EXPECT_EQ(first_failure(root, TestSchema("{properties: {b: {properties: {c: {multipleOf: 5}}}}}")),
            "value <secret> is not a multiple of 5 at $.b.<secret> (3:6)");  // a secret's keys too
  EXPECT_EQ(first_failure(root, TestSchema("{properties: {d: {exclusiveMaximum: 2}}}")),
            "value 3 is not less than 2 at $.d (4:4)");
}

// ---- the decoded-tree verdict against the node-tree validation -------------------

std::string random_scalar(std::mt19937& rng) {
  static const char* const kScalars[] = {
      "1", "-7", "2.0", "2.5", "1e3", "0x1F", "true", "yes", "~", "null", "abc", "'12'", "\"x y\"",
      "2001-12-14", "123456789012345678901234567890", ".inf", "''", "a-b", "ÿé", "\"\\u00e9\"",
      "y", "017", "1_000", "1.0e+3"};
  return kScalars[rng() % std::size(kScalars)];
}

std::string random_node(std::mt19937& rng, int depth) {
  const unsigned pick = depth > 2 ? 0 : rng() % 4;
  if (pick <= 1) return random_scalar(rng);
  static const char* const kKeys[] = {"a", "b", "n", "1", "true", "x-y", "'q'", "[k]"};
  std::string out = pick == 2 ? "[" : "{";
  const unsigned n = rng() % 4;
  for (unsigned i = 0; i < n; ++i) {
    if (i) out += ", ";
    if (pick == 3) out += std::string(kKeys[rng() % std::size(kKeys)]) + ": ";
    out += random_node(rng, depth + 1);
  }
  return out + (pick == 2 ? "]" : "}");
}

TEST(SchemaValidate, ValueTreeVerdictAgreesWithNodeTree) {
  const TestSchema schemas[] = {
      TestSchema("{type: [object, array]}"),
      TestSchema("{properties: {a: {type: integer}, b: {minimum: 0}}, additionalProperties: {type: [string, boolean, null, array, object, number]}}"),
      TestSchema("{required: [a], patternProperties: {'^[a-z]$': {maxLength: 2}}}"),
      TestSchema("{items: {anyOf: [{type: string, pattern: '^[a-z]'}, {type: number, multipleOf: 0.5}]}, uniqueItems: true}"),
      TestSchema("{propertyNames: {pattern: '^[a-z]+$'}, minProperties: 1}"),
      TestSchema("{not: {enum: [1, abc, [1, 2], {a: 1}]}, dependencies: {a: [b], n: {required: [a]}}}"),
      TestSchema("{oneOf: [{type: object, maxProperties: 2}, {type: array, contains: {const: 1}}, {type: string}]}"),
  };
  std::mt19937 rng(7);
  int decided = 0;
  for (int round = 0; round < 600; ++round) {
    const std::string text = random_node(rng, 0);
    // Every mode the decoder reads in, the strict 1.1 reading included.
    const auto mode = static_cast<VersionMode>(round % 3);
    ASSERT_TRUE(value_tree_reads_like_nodes(text)) << text;
    const DecodedStream decoded = decode_ok(text, mode);
    auto composed = compose_text(text, 0, true);
    ASSERT_TRUE(composed && !composed->roots.empty()) << text;
    for (const TestSchema& schema : schemas) {
      const ValueVerdict verdict = check_value_tree(decoded.documents.front(), schema.set());
      if (verdict == ValueVerdict::Undecided) continue;
      ++decided;
      const bool valid = !validate_root(composed->roots.front(), schema.set(), KeyReading(mode)).has_value();
      ASSERT_EQ(verdict == ValueVerdict::Valid, valid) << text << " (mode " << static_cast<int>(mode) << ")";
    }
  }
  EXPECT_GT(decided, 2000);
  for (const char* text : {"a: *b", "a: !x 1", "<<: {a: 1}", "a: !!str 1"}) EXPECT_FALSE(value_tree_reads_like_nodes(text));
  for (const char* text : {"a: '*'", "a: 'x!'", "a: '<<'", "a: [1, 2]"}) EXPECT_TRUE(value_tree_reads_like_nodes(text));
}

}  // namespace
}  // namespace kestrine
