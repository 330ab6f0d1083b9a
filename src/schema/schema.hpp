// The schema of one validation, compiled once.
//
// A schema arrives as a `YamlValue` tree (converted from Python data).  A
// schema object is a Mapping whose keywords are its String keys; the first
// entry with a given key counts, and a keyword whose value has a kind the
// keyword does not take is ignored, as are keys outside the keyword set.
// `true` and every value that is neither a mapping nor a boolean accept
// everything; `false` accepts nothing.
//
// `SchemaSet` compiles, up front, every schema position reachable from the
// root: the keyword values are looked up once, numbers read once, patterns
// compiled once (by text), `$ref` targets resolved once, and sub-schemas
// linked by pointer, so validating a node never searches the schema again.
// A position reached twice (two `$ref`s to one definition, a `$ref` loop,
// one mapping shared by two places in the tree) is compiled once.
//
//   SchemaSet schemas(root_value);            // root_value outlives it
//   const CompiledSchema& top = schemas.root();
//
// The set refers to the texts of the schema tree; it lives for one call.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/value.hpp"
#include "schema/multiple_of.hpp"
#include "schema/pattern_cache.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

struct CompiledSchema;
struct SchemaKeywords;

enum class SchemaForm : std::uint8_t {
  AcceptAll,  // true, or a value that is neither a mapping nor a boolean
  RejectAll,  // false
  Object,     // a mapping: its keywords apply
};

// `type` names as bits.
inline constexpr std::uint8_t kTypeNull = 1 << 0;
inline constexpr std::uint8_t kTypeBoolean = 1 << 1;
inline constexpr std::uint8_t kTypeInteger = 1 << 2;
inline constexpr std::uint8_t kTypeNumber = 1 << 3;
inline constexpr std::uint8_t kTypeString = 1 << 4;
inline constexpr std::uint8_t kTypeArray = 1 << 5;
inline constexpr std::uint8_t kTypeObject = 1 << 6;

// How `additionalProperties` / `additionalItems` treat what the other
// keywords leave unmatched.
enum class ExtraRule : std::uint8_t {
  Accept,  // absent, true, or any value but false and a mapping
  Forbid,  // false
  Check,   // a mapping: validated against it
};

struct NamedSchema {
  std::string_view name;
  const CompiledSchema* schema;
};

struct PatternSchema {
  std::string_view pattern;
  const CompiledPattern* compiled;
  const CompiledSchema* schema;
};

struct Dependency {
  std::string_view name;
  const CompiledSchema* schema = nullptr;  // a boolean or mapping entry
  std::vector<std::string_view> required;  // a sequence entry: its String items
};

struct CompiledSchema {
  SchemaForm form = SchemaForm::AcceptAll;

  // "$ref" (a String): the other keywords are then not evaluated.
  bool has_ref = false;
  std::string_view ref;
  const CompiledSchema* ref_target = nullptr;  // null: unresolvable

  bool has_type = false;
  bool type_accepts_all = false;  // names a type outside the known seven
  std::uint8_t type_bits = 0;
  std::string type_expected;  // the name, or the names joined by " | "

  const YamlValue* enum_values = nullptr;  // a Sequence
  const YamlValue* const_value = nullptr;  // any value

  std::optional<double> minimum, maximum, exclusive_minimum, exclusive_maximum, multiple_of;
  std::optional<DecimalDivisor> multiple_of_decimal;  // multipleOf read exactly
  bool numeric_keywords = false;

  std::optional<std::int64_t> min_length, max_length;
  bool has_pattern = false;
  std::string_view pattern;
  const CompiledPattern* pattern_compiled = nullptr;

  // Object keywords (only when some is present).
  bool object_keywords = false;
  bool has_properties = false;
  std::vector<NamedSchema> properties;  // the first entry of each name
  SeededHashMap<std::string_view, const CompiledSchema*> property_index;  // for many properties
  std::vector<PatternSchema> pattern_properties;
  ExtraRule additional_properties = ExtraRule::Accept;
  bool has_additional_properties = false;
  const CompiledSchema* additional_properties_schema = nullptr;
  std::vector<std::string_view> required;
  std::optional<std::int64_t> min_properties, max_properties;
  const CompiledSchema* property_names = nullptr;
  std::vector<Dependency> dependencies;

  // Array keywords (only when some is present).
  bool array_keywords = false;
  std::optional<std::int64_t> min_items, max_items;
  const CompiledSchema* items = nullptr;        // the schema form
  std::vector<const CompiledSchema*> item_list;  // the array form
  bool items_is_list = false;
  ExtraRule additional_items = ExtraRule::Accept;
  const CompiledSchema* additional_items_schema = nullptr;
  bool unique_items = false;
  const CompiledSchema* contains = nullptr;

  bool has_all_of = false, has_any_of = false, has_one_of = false;
  std::vector<const CompiledSchema*> all_of, any_of, one_of;
  const CompiledSchema* not_schema = nullptr;

  // A mapping instance is prepared (its loaded members worked out) for the
  // object keywords, `enum` and `const`, and for combinators, whose branches
  // share the preparation.
  bool reads_members = false;

  // Some `$ref` leads here, or the schema stands in more than one place, and
  // it leads on to others: the same instance may meet it by many ways, so
  // the validator remembers verdicts.
  bool remember_verdicts = false;

  // The schema of a member named `name` under `properties`, or null.
  const CompiledSchema* property(std::string_view name) const noexcept;
};

class SchemaSet {
 public:
  // Compiles every position reachable from `root`, which must outlive the set.
  explicit SchemaSet(const YamlValue& root);
  SchemaSet(const SchemaSet&) = delete;
  SchemaSet& operator=(const SchemaSet&) = delete;

  const CompiledSchema& root() const noexcept { return *root_; }
  // How many `$ref` texts lead to a schema (at least as many as the schemas
  // they lead to).
  std::size_t ref_target_count() const noexcept { return ref_targets_; }
  // The bytes the set holds, estimated from its containers' capacities,
  // the programs of its patterns included.
  std::size_t footprint() const noexcept;

 private:
  CompiledSchema* intern(const YamlValue& value);
  void compile(const YamlValue& value, CompiledSchema& out);
  void compile_objects(const SchemaKeywords& kw, CompiledSchema& out);
  void compile_arrays(const SchemaKeywords& kw, CompiledSchema& out);

  const YamlValue& root_value_;
  SeededHashMap<const void*, CompiledSchema*> compiled_;  // by position, a mapping by its entries
  SeededHashMap<std::string_view, CompiledSchema*> refs_;  // by reference text (null: resolves to none)
  std::deque<CompiledSchema> storage_;
  std::vector<std::pair<const YamlValue*, CompiledSchema*>> pending_;
  PatternCache patterns_;
  const CompiledSchema* root_ = nullptr;
  std::size_t ref_targets_ = 0;
};

// Integer limits of the length and count keywords: an Int, or a finite Float
// without fraction (saturated to 64 bits); nothing for any other value.
std::optional<std::int64_t> schema_integer_limit(const YamlValue& value);

}  // namespace kestrine
