#include "schema/schema.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "schema/compare.hpp"
#include "schema/ref.hpp"

namespace kestrine {

namespace {

enum Keyword : std::uint8_t {
  kRef, kType, kEnum, kConst, kMinimum, kMaximum, kExclusiveMinimum, kExclusiveMaximum, kMultipleOf,
  kMinLength, kMaxLength, kPattern, kProperties, kPatternProperties, kAdditionalProperties, kRequired,
  kMinProperties, kMaxProperties, kPropertyNames, kDependencies, kItems, kAdditionalItems, kMinItems,
  kMaxItems, kUniqueItems, kContains, kAllOf, kAnyOf, kOneOf, kNot, kKeywordCount,
};

constexpr std::array<std::string_view, kKeywordCount> kKeywordNames = {
    "$ref", "type", "enum", "const", "minimum", "maximum", "exclusiveMinimum", "exclusiveMaximum",
    "multipleOf", "minLength", "maxLength", "pattern", "properties", "patternProperties",
    "additionalProperties", "required", "minProperties", "maxProperties", "propertyNames",
    "dependencies", "items", "additionalItems", "minItems", "maxItems", "uniqueItems", "contains",
    "allOf", "anyOf", "oneOf", "not"};

}  // namespace

// The value of the first entry of each keyword (null when absent).
struct SchemaKeywords : std::array<const YamlValue*, kKeywordCount> {};

namespace {

using Keywords = SchemaKeywords;

Keywords find_keywords(const YamlValue& schema) {
  Keywords found{};
  for (const ValuePair& p : schema.pairs()) {
    if (!p.key.is_string()) continue;
    const std::string_view key = p.key.text();
    for (std::size_t k = 0; k < kKeywordCount; ++k) {
      if (key == kKeywordNames[k]) {
        if (found[k] == nullptr) found[k] = &p.value;
        break;
      }
    }
  }
  return found;
}

std::uint8_t type_bit(std::string_view name) noexcept {
  if (name == "null") return kTypeNull;
  if (name == "boolean") return kTypeBoolean;
  if (name == "integer") return kTypeInteger;
  if (name == "number") return kTypeNumber;
  if (name == "string") return kTypeString;
  if (name == "array") return kTypeArray;
  if (name == "object") return kTypeObject;
  return 0;
}

void compile_type(const YamlValue& value, CompiledSchema& out) {
  const auto add = [&](std::string_view name) {
    const std::uint8_t bit = type_bit(name);
    if (bit == 0) out.type_accepts_all = true;
    out.type_bits |= bit;
    if (!out.type_expected.empty()) out.type_expected += " | ";
    out.type_expected += name;
  };
  if (value.is_string()) {
    out.has_type = true;
    add(value.text());
  } else if (value.is_sequence()) {
    out.has_type = true;
    for (const YamlValue& item : value.items())
      if (item.is_string()) add(item.text());
  }
}

std::vector<std::string_view> string_items(const YamlValue& sequence) {
  std::vector<std::string_view> names;
  for (const YamlValue& item : sequence.items())
    if (item.is_string()) names.push_back(item.text());
  return names;
}

ExtraRule extra_rule(const YamlValue* value) noexcept {
  if (value == nullptr) return ExtraRule::Accept;
  if (value->kind == ValueKind::Bool && !value->boolean) return ExtraRule::Forbid;
  if (value->is_mapping()) return ExtraRule::Check;
  return ExtraRule::Accept;
}

constexpr std::size_t kIndexedProperties = 8;

// Evaluating `s` may evaluate another schema (on the same instance or on a
// member or item).
bool leads_to_schemas(const CompiledSchema& s) noexcept {
  return s.has_ref || !s.properties.empty() || !s.pattern_properties.empty() ||
         s.additional_properties_schema != nullptr || s.property_names != nullptr ||
         std::any_of(s.dependencies.begin(), s.dependencies.end(),
                     [](const Dependency& d) { return d.schema != nullptr; }) ||
         s.items != nullptr || !s.item_list.empty() || s.additional_items_schema != nullptr ||
         s.contains != nullptr || !s.all_of.empty() || !s.any_of.empty() || !s.one_of.empty() ||
         s.not_schema != nullptr;
}

}  // namespace

std::optional<std::int64_t> schema_integer_limit(const YamlValue& value) {
  if (value.kind == ValueKind::Int) return value.integer;
  if (value.kind != ValueKind::Float || !std::isfinite(value.real) || std::trunc(value.real) != value.real)
    return std::nullopt;
  constexpr double kTop = 9223372036854775808.0;  // 2^63
  if (value.real >= kTop) return std::numeric_limits<std::int64_t>::max();
  if (value.real < -kTop) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value.real);
}

const CompiledSchema* CompiledSchema::property(std::string_view name) const noexcept {
  if (!property_index.empty()) {
    const auto it = property_index.find(name);
    return it == property_index.end() ? nullptr : it->second;
  }
  for (const NamedSchema& p : properties)
    if (p.name == name) return p.schema;
  return nullptr;
}

SchemaSet::SchemaSet(const YamlValue& root) : root_value_(root) {
  root_ = intern(root);
  while (!pending_.empty()) {
    auto [value, out] = pending_.back();
    pending_.pop_back();
    compile(*value, *out);
  }
  // A schema reached by more than one way (a `$ref` target, a sub-schema
  // placed twice; intern() marked the latter) may meet one instance many
  // times over: where it leads on, its verdicts are worth remembering.
  for (const auto& [text, target] : refs_) {
    if (target == nullptr) continue;
    target->remember_verdicts = true;
    ++ref_targets_;
  }
  for (CompiledSchema& c : storage_) c.remember_verdicts = c.remember_verdicts && leads_to_schemas(c);
}

std::size_t SchemaSet::footprint() const noexcept {
  const auto vector_bytes = [](const auto& v) { return v.capacity() * sizeof(v[0]); };
  std::size_t bytes = sizeof(*this) + storage_.size() * sizeof(CompiledSchema) + table_bytes(compiled_) +
                      table_bytes(refs_) + patterns_.footprint();
  for (const CompiledSchema& c : storage_) {
    bytes += c.type_expected.capacity() + vector_bytes(c.properties) + table_bytes(c.property_index) +
             vector_bytes(c.pattern_properties) + vector_bytes(c.required) + vector_bytes(c.dependencies) +
             vector_bytes(c.item_list) + vector_bytes(c.all_of) + vector_bytes(c.any_of) + vector_bytes(c.one_of);
    for (const Dependency& d : c.dependencies) bytes += vector_bytes(d.required);
  }
  return bytes;
}

// The compiled form of a schema position, queued for compiling when new.
// A mapping is known by its entries: a schema tree may share one sub-schema
// between several positions (ffi/convert/encode.hpp), which is then one
// schema, compiled once.
CompiledSchema* SchemaSet::intern(const YamlValue& value) {
  const void* identity = value.is_mapping() && value.size() > 0 ? static_cast<const void*>(value.pairs().data())
                                                                 : static_cast<const void*>(&value);
  auto [it, inserted] = compiled_.try_emplace(identity, nullptr);
  if (inserted) {
    it->second = &storage_.emplace_back();
    pending_.emplace_back(&value, it->second);
  } else {
    it->second->remember_verdicts = true;  // reached again: decided once compiled
  }
  return it->second;
}

void SchemaSet::compile(const YamlValue& value, CompiledSchema& out) {
  if (value.kind == ValueKind::Bool) {
    out.form = value.boolean ? SchemaForm::AcceptAll : SchemaForm::RejectAll;
    return;
  }
  if (!value.is_mapping()) return;  // accepts everything
  out.form = SchemaForm::Object;
  const Keywords kw = find_keywords(value);
  if (kw[kRef] != nullptr && kw[kRef]->is_string()) {
    out.has_ref = true;
    out.ref = kw[kRef]->text();
    // Definitions are referred to many times over: each text is resolved once.
    auto [it, fresh] = refs_.try_emplace(out.ref, nullptr);
    if (fresh) {
      if (const YamlValue* target = resolve_schema_ref(root_value_, out.ref)) it->second = intern(*target);
    }
    out.ref_target = it->second;
  }
  if (kw[kType] != nullptr) compile_type(*kw[kType], out);
  if (kw[kEnum] != nullptr && kw[kEnum]->is_sequence()) out.enum_values = kw[kEnum];
  out.const_value = kw[kConst];

  const auto number = [&](Keyword k, std::optional<double>& slot) {
    if (kw[k] == nullptr) return;
    slot = number_as_f64(*kw[k]);
    out.numeric_keywords = out.numeric_keywords || slot.has_value();
  };
  number(kMinimum, out.minimum);
  number(kMaximum, out.maximum);
  number(kExclusiveMinimum, out.exclusive_minimum);
  number(kExclusiveMaximum, out.exclusive_maximum);
  number(kMultipleOf, out.multiple_of);
  if (kw[kMultipleOf] != nullptr) out.multiple_of_decimal = DecimalDivisor::of(*kw[kMultipleOf]);

  if (kw[kMinLength] != nullptr) out.min_length = schema_integer_limit(*kw[kMinLength]);
  if (kw[kMaxLength] != nullptr) out.max_length = schema_integer_limit(*kw[kMaxLength]);
  if (kw[kPattern] != nullptr && kw[kPattern]->is_string()) {
    out.has_pattern = true;
    out.pattern = kw[kPattern]->text();
    out.pattern_compiled = &patterns_.get(out.pattern);
  }

  compile_objects(kw, out);
  compile_arrays(kw, out);

  const auto list = [&](Keyword k, bool& has, std::vector<const CompiledSchema*>& slot) {
    if (kw[k] == nullptr || !kw[k]->is_sequence()) return;
    has = true;
    for (const YamlValue& item : kw[k]->items()) slot.push_back(intern(item));
  };
  list(kAllOf, out.has_all_of, out.all_of);
  list(kAnyOf, out.has_any_of, out.any_of);
  list(kOneOf, out.has_one_of, out.one_of);
  if (kw[kNot] != nullptr) out.not_schema = intern(*kw[kNot]);
  out.reads_members = out.object_keywords || out.enum_values != nullptr || out.const_value != nullptr ||
                      !out.all_of.empty() || out.has_any_of || out.has_one_of || out.not_schema != nullptr;
}

void SchemaSet::compile_objects(const SchemaKeywords& kw, CompiledSchema& out) {
  if (const YamlValue* props = kw[kProperties]; props != nullptr && props->is_mapping()) {
    out.has_properties = true;
    SeededHashSet<std::string_view> seen;
    for (const ValuePair& p : props->pairs())
      if (p.key.is_string() && seen.insert(p.key.text()).second)
        out.properties.push_back(NamedSchema{p.key.text(), intern(p.value)});
    if (out.properties.size() > kIndexedProperties)
      for (const NamedSchema& p : out.properties) out.property_index.emplace(p.name, p.schema);
  }
  if (const YamlValue* patterns = kw[kPatternProperties]; patterns != nullptr && patterns->is_mapping()) {
    for (const ValuePair& p : patterns->pairs())
      if (p.key.is_string())
        out.pattern_properties.push_back(PatternSchema{p.key.text(), &patterns_.get(p.key.text()), intern(p.value)});
  }
  out.has_additional_properties = kw[kAdditionalProperties] != nullptr;
  out.additional_properties = extra_rule(kw[kAdditionalProperties]);
  if (out.additional_properties == ExtraRule::Check) out.additional_properties_schema = intern(*kw[kAdditionalProperties]);
  if (kw[kRequired] != nullptr && kw[kRequired]->is_sequence()) out.required = string_items(*kw[kRequired]);
  if (kw[kMinProperties] != nullptr) out.min_properties = schema_integer_limit(*kw[kMinProperties]);
  if (kw[kMaxProperties] != nullptr) out.max_properties = schema_integer_limit(*kw[kMaxProperties]);
  if (kw[kPropertyNames] != nullptr) out.property_names = intern(*kw[kPropertyNames]);
  if (const YamlValue* deps = kw[kDependencies]; deps != nullptr && deps->is_mapping()) {
    for (const ValuePair& p : deps->pairs()) {
      if (!p.key.is_string()) continue;
      Dependency d{p.key.text()};
      if (p.value.kind == ValueKind::Bool || p.value.is_mapping()) d.schema = intern(p.value);
      else if (p.value.is_sequence()) d.required = string_items(p.value);
      else continue;
      out.dependencies.push_back(std::move(d));
    }
  }
  out.object_keywords = out.has_properties || !out.pattern_properties.empty() || out.has_additional_properties ||
                        !out.required.empty() || out.min_properties || out.max_properties ||
                        out.property_names != nullptr || !out.dependencies.empty();
}

void SchemaSet::compile_arrays(const SchemaKeywords& kw, CompiledSchema& out) {
  if (kw[kMinItems] != nullptr) out.min_items = schema_integer_limit(*kw[kMinItems]);
  if (kw[kMaxItems] != nullptr) out.max_items = schema_integer_limit(*kw[kMaxItems]);
  if (const YamlValue* items = kw[kItems]) {
    if (items->is_sequence()) {
      out.items_is_list = true;
      for (const YamlValue& item : items->items()) out.item_list.push_back(intern(item));
      out.additional_items = extra_rule(kw[kAdditionalItems]);
      if (out.additional_items == ExtraRule::Check) out.additional_items_schema = intern(*kw[kAdditionalItems]);
    } else {
      out.items = intern(*items);
    }
  }
  out.unique_items = kw[kUniqueItems] != nullptr && kw[kUniqueItems]->kind == ValueKind::Bool && kw[kUniqueItems]->boolean;
  if (kw[kContains] != nullptr) out.contains = intern(*kw[kContains]);
  out.array_keywords = out.min_items || out.max_items || out.items != nullptr || out.items_is_list ||
                       out.unique_items || out.contains != nullptr;
}

}  // namespace kestrine
