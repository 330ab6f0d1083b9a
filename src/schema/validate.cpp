#include "schema/validate.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "scanner/scanner.hpp"
#include "schema/compare.hpp"
#include "schema/walker.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

namespace schema_walk {

namespace {

// A walk of fewer schema evaluations costs less than remembering it, unless
// it read through aliases (charged to their budgets).  Walks that repeat one
// another grow past this within a few levels of nesting.
constexpr std::uint64_t kRememberedWalk = 64;

bool type_matches(std::uint8_t bits, const YamlValue& summary) noexcept {
  switch (summary.kind) {
    case ValueKind::Null:
      return bits & kTypeNull;
    case ValueKind::Bool:
      return bits & kTypeBoolean;
    case ValueKind::Int:
    case ValueKind::BigInt:
      return bits & (kTypeInteger | kTypeNumber);
    case ValueKind::Float:
      if (bits & kTypeNumber) return true;
      return (bits & kTypeInteger) && std::isfinite(summary.real) && std::trunc(summary.real) == summary.real;
    case ValueKind::String:
    case ValueKind::Timestamp:
      return bits & kTypeString;
    case ValueKind::Sequence:
      return bits & kTypeArray;
    case ValueKind::Mapping:
      return bits & kTypeObject;
    case ValueKind::Tagged:
      return type_matches(bits, summary.tagged().inner);
  }
  return false;
}

std::string_view json_type_name(const YamlValue& v) noexcept {
  switch (v.kind) {
    case ValueKind::Null:
      return "null";
    case ValueKind::Bool:
      return "boolean";
    case ValueKind::Int:
    case ValueKind::BigInt:
      return "integer";
    case ValueKind::Float:
      return "number";
    case ValueKind::String:
    case ValueKind::Timestamp:
      return "string";
    case ValueKind::Sequence:
      return "array";
    case ValueKind::Mapping:
      return "object";
    case ValueKind::Tagged:
      return json_type_name(v.tagged().inner);
  }
  return "null";
}

bool is_number(const YamlValue& v) noexcept {
  return v.kind == ValueKind::Int || v.kind == ValueKind::BigInt || v.kind == ValueKind::Float;
}

std::size_t count_code_points(std::string_view text) noexcept {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// The value passes `multipleOf` v (v > 0) when it is an exact multiple as
// written (schema/multiple_of.hpp); a fraction also within the tolerance.
// Integral values are decided exactly: any tolerance on a large quotient
// spans whole numbers (1e16 passed every divisor).
bool is_multiple(const YamlValue& summary, double x, const CompiledSchema& s) {
  const bool fraction = summary.kind == ValueKind::Float && std::isfinite(x) && std::trunc(x) != x;
  if (s.multiple_of_decimal) {
    const std::optional<bool> exact = s.multiple_of_decimal->divides(summary);
    if (exact && (*exact || !fraction)) return *exact;
  }
  return is_near_multiple(x, *s.multiple_of);
}

}  // namespace

std::string render_path(const PathLink* link) {
  std::vector<const PathLink*> chain;
  for (; link != nullptr; link = link->parent) chain.push_back(link);
  std::string path = "$";
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if ((*it)->is_index) {
      path += '[';
      path += std::to_string((*it)->index);
      path += ']';
    } else {
      path += '.';
      path += (*it)->secret ? kSecretShown : (*it)->key;
    }
  }
  return path;
}

template <class Adapter>
std::string Walker<Adapter>::number_text(const Instance& inst, double x) const {
  if (adapter_.secret(inst)) return std::string(kSecretShown);
  std::string text;
  append_float_plain(text, x);
  return text;
}

// A pair met before answers from its verdict; a failure met again where
// its record is reported is walked again to build that record (the same
// first failure as without remembering: passing pairs add none).
template <class Adapter>
void Walker<Adapter>::validate_remembered(const Instance& inst, const CompiledSchema& s, const PathLink* path,
                                          std::uint32_t ref_depth, FailureList& out, bool prepared) {
  const VerdictKey key{adapter_.identity(inst), &s};
  if (key.first == 0) {
    validate(inst, s, path, ref_depth, out, prepared);
    return;
  }
  const bool reported = out.own && state_.keep_first;
  // (an empty map would still hash the key)
  if (const auto known = state_.verdicts.empty() ? state_.verdicts.end() : state_.verdicts.find(key);
      known != state_.verdicts.end()) {
    const Verdict v = known->second;
    if (v.holds_at(ref_depth) && adapter_.alias_depth(inst) <= v.alias_depth && !(v.failed && reported)) {
      out.failed = out.failed || v.failed;
      // A walk around this one reached as deep, and met the limit if it did.
      state_.ref_peak = std::max(state_.ref_peak, ref_depth + v.ref_reach);
      state_.ref_limits_met += v.cut ? 1 : 0;
      return;
    }
  }
  const std::uint64_t start = state_.evaluations;
  const std::uint64_t limits_before = state_.ref_limits_met;
  const AliasReadLimits read_before = state_.aliases;
  const std::uint32_t peak = state_.ref_peak;
  state_.ref_peak = ref_depth;
  FailureList mine{out.own};
  validate(inst, s, path, ref_depth, mine, prepared);
  out.failed = out.failed || mine.failed;
  const std::uint32_t reach = state_.ref_peak - ref_depth;
  state_.ref_peak = std::max(peak, state_.ref_peak);
  if (halted()) return;  // not walked to its end
  const bool read_aliases =
      state_.aliases.text_left != read_before.text_left || state_.aliases.nodes_left != read_before.nodes_left;
  if (state_.evaluations - start < kRememberedWalk && !read_aliases) return;
  Verdict& v = state_.verdicts[key];
  // Another start in `$ref`s is another walk: the deepest alias start seen
  // is that of walks like this one only.
  const std::uint32_t alias_depth = v.holds_at(ref_depth) ? std::max(v.alias_depth, adapter_.alias_depth(inst))
                                                          : adapter_.alias_depth(inst);
  v = Verdict{ref_depth, reach, alias_depth, state_.ref_limits_met != limits_before, mine.failed};
}

template <class Adapter>
void Walker<Adapter>::validate(const Instance& given, const CompiledSchema& s, const PathLink* path,
                               std::uint32_t ref_depth, FailureList& out, bool prepared) {
  if (s.form == SchemaForm::AcceptAll) return;
  ++state_.evaluations;
  if (adapter_.too_deep(given)) {
    end_validation(given, path, kAliasesTooDeepMessage);
    return;
  }
  if (s.form == SchemaForm::RejectAll) {
    fail(given, path, out, [] { return std::string("value is not allowed (schema is false)"); });
    return;
  }
  if (s.has_ref) {
    follow_ref(given, s, path, ref_depth, out, prepared);
    return;
  }
  const InstanceKind kind = adapter_.kind(given);
  if (kind == InstanceKind::Undecided) {
    state_.undecided = true;
    return;
  }
  // Every keyword below may read the whole text, once per alias to it.
  if (kind == InstanceKind::Scalar && !read_through_aliases(given, path, adapter_.alias_text(given))) return;
  Instance inst = given;
  // Preparing reads every key of the mapping: it is done once, and the
  // prepared instance handed on to the branches of combinators.
  if (kind == InstanceKind::Mapping && !prepared && s.reads_members) {
    adapter_.prepare(inst);
    prepared = true;
  }
  const YamlValue summary = adapter_.summary(inst, scratch_);
  check_values(inst, s, summary, path, out);
  if (stopped(out)) return;
  if (s.numeric_keywords && is_number(summary)) {
    check_number(inst, s, summary, path, out);
    if (stopped(out)) return;
  }
  if (summary.is_string() && (s.min_length || s.max_length || s.has_pattern)) {
    check_string(inst, s, summary.text(), path, out);
    if (stopped(out)) return;
  }
  if (kind == InstanceKind::Mapping && s.object_keywords) {
    CollectionChecks<Adapter>(*this).check_object(inst, s, path, ref_depth, out);
    if (stopped(out)) return;
  }
  if (kind == InstanceKind::Sequence && s.array_keywords) {
    CollectionChecks<Adapter>(*this).check_array(inst, s, path, out);
    if (stopped(out)) return;
  }
  check_combinators(inst, s, path, ref_depth, out, prepared);
}

namespace {

// Whether the chain of `$ref`s that led to the current instance and schema
// at the nesting limit, `target` added, follows some target twice: on the
// same instance, the walk would go round for ever.
bool chain_repeats(const std::vector<const CompiledSchema*>& walked, const CompiledSchema* target) {
  std::array<const CompiledSchema*, kSchemaMaxRefDepth + 2> chain;
  const std::size_t length = std::min<std::size_t>(walked.size(), kSchemaMaxRefDepth + 1);
  std::copy(walked.end() - static_cast<std::ptrdiff_t>(length), walked.end(), chain.begin());
  chain[length] = target;
  std::sort(chain.begin(), chain.begin() + length + 1);
  return std::adjacent_find(chain.begin(), chain.begin() + length + 1) != chain.begin() + length + 1;
}

}  // namespace

template <class Adapter>
void Walker<Adapter>::follow_ref(const Instance& inst, const CompiledSchema& s, const PathLink* path,
                                 std::uint32_t ref_depth, FailureList& out, bool prepared) {
  constexpr std::string_view kTooDeep = "schema $ref nesting too deep (cyclic reference?)";
  // A loop, or a spent budget, is refused wherever it stands: met under
  // `not` or in a branch of `anyOf`, a failure would be a pass.  A long
  // chain that is no loop fails where it is met, like any other failure.
  if (state_.ref_budget == 0 || (ref_depth > kSchemaMaxRefDepth &&
                                 (!state_.keep_ref_chain || chain_repeats(state_.ref_chain, s.ref_target)))) {
    end_validation(inst, path, kTooDeep);
    return;
  }
  if (ref_depth > kSchemaMaxRefDepth) {
    ++state_.ref_limits_met;
    fail(inst, path, out, [&] { return std::string(kTooDeep); });
    return;
  }
  --state_.ref_budget;
  if (s.ref_target == nullptr) {
    fail(inst, path, out, [&] { return "unresolvable schema $ref '" + std::string(s.ref) + "'"; });
    return;
  }
  state_.ref_peak = std::max(state_.ref_peak, ref_depth + 1);
  if (!state_.keep_ref_chain) {
    descend(inst, *s.ref_target, path, ref_depth + 1, out, prepared);
    return;
  }
  state_.ref_chain.push_back(s.ref_target);
  descend(inst, *s.ref_target, path, ref_depth + 1, out, prepared);
  state_.ref_chain.pop_back();
}

// `type`, `enum` and `const`.
template <class Adapter>
void Walker<Adapter>::check_values(const Instance& inst, const CompiledSchema& s, const YamlValue& summary,
                                   const PathLink* path, FailureList& out) {
  if (s.has_type && !s.type_accepts_all && !type_matches(s.type_bits, summary)) {
    fail(inst, path, out, [&] {
      return "expected type " + s.type_expected + ", found " + std::string(json_type_name(summary));
    });
    if (stopped(out)) return;
  }
  if (s.enum_values == nullptr && s.const_value == nullptr) return;
  ValueArena arena;
  const std::optional<YamlValue> loaded = value_of(inst, path, arena);
  if (!loaded) return;
  const YamlValue& value = *loaded;
  if (s.enum_values != nullptr) {
    bool found = false;
    for (const YamlValue& allowed : s.enum_values->items()) {
      if (schema_values_equal(allowed, value)) {
        found = true;
        break;
      }
    }
    if (!found) fail(inst, path, out, [] { return std::string("value is not one of the allowed enum values"); });
    if (stopped(out)) return;
  }
  if (s.const_value != nullptr && !schema_values_equal(*s.const_value, value))
    fail(inst, path, out, [] { return std::string("value does not equal the required const"); });
}

template <class Adapter>
void Walker<Adapter>::check_number(const Instance& inst, const CompiledSchema& s, const YamlValue& summary,
                                   const PathLink* path, FailureList& out) {
  const std::optional<double> number = number_as_f64(summary);
  if (!number) return;
  const double x = *number;
  const auto check = [&](const std::optional<double>& limit, bool failed, std::string_view wording) {
    if (!limit || !failed || stopped(out)) return;
    fail(inst, path, out, [&] {
      std::string limit_text;
      append_float_plain(limit_text, *limit);
      return "value " + number_text(inst, x) + std::string(wording) + limit_text;
    });
  };
  check(s.minimum, s.minimum && *s.minimum > x, " is less than minimum ");
  check(s.maximum, s.maximum && x > *s.maximum, " is greater than maximum ");
  check(s.exclusive_minimum, s.exclusive_minimum && *s.exclusive_minimum >= x, " is not greater than ");
  check(s.exclusive_maximum, s.exclusive_maximum && x >= *s.exclusive_maximum, " is not less than ");
  if (s.multiple_of && *s.multiple_of > 0)
    check(s.multiple_of, !is_multiple(summary, x, s), " is not a multiple of ");
}

template <class Adapter>
void Walker<Adapter>::check_string(const Instance& inst, const CompiledSchema& s, std::string_view text,
                                   const PathLink* path, FailureList& out) {
  if (s.min_length || s.max_length) {
    const auto n = static_cast<std::int64_t>(count_code_points(text));
    if (s.min_length && n < *s.min_length)
      fail(inst, path, out, [&] { return "string is shorter than minLength " + std::to_string(*s.min_length); });
    if (stopped(out)) return;
    if (s.max_length && n > *s.max_length)
      fail(inst, path, out, [&] { return "string is longer than maxLength " + std::to_string(*s.max_length); });
    if (stopped(out)) return;
  }
  if (!s.has_pattern) return;
  if (s.pattern_compiled->program == nullptr) {
    fail(inst, path, out, [&] { return s.pattern_compiled->refusal; });
  } else if (!state_.patterns.search(*s.pattern_compiled->program, text)) {
    fail(inst, path, out, [&] { return "string does not match pattern /" + std::string(s.pattern) + "/"; });
  }
}

template <class Adapter>
void Walker<Adapter>::check_combinators(const Instance& inst, const CompiledSchema& s, const PathLink* path,
                                        std::uint32_t ref_depth, FailureList& out, bool prepared) {
  for (const CompiledSchema* sub : s.all_of) {
    descend(inst, *sub, path, ref_depth, out, prepared);
    if (stopped(out)) return;
  }
  // Whether the instance passes `sub`, failures kept private.
  const auto passes = [&](const CompiledSchema& sub) {
    FailureList branch;
    descend(inst, sub, path, ref_depth, branch, prepared);
    return !branch.failed;
  };
  if (s.has_any_of) {
    bool matched = false;
    for (const CompiledSchema* sub : s.any_of) {
      matched = passes(*sub);
      if (halted()) return;
      if (matched) break;
    }
    if (!matched) fail(inst, path, out, [] { return std::string("value does not match any of the anyOf schemas"); });
    if (stopped(out)) return;
  }
  if (s.has_one_of) {
    // The count is printed only in the reported record; elsewhere two
    // matches decide.
    const bool counted = out.own && state_.keep_first;
    std::size_t count = 0;
    for (const CompiledSchema* sub : s.one_of) {
      count += passes(*sub) ? 1 : 0;
      if (halted()) return;
      if (count > 1 && !counted) break;
    }
    if (count != 1) {
      fail(inst, path, out, [&] {
        return "value matches " + std::to_string(count) + " of the oneOf schemas (exactly one required)";
      });
    }
    if (stopped(out)) return;
  }
  if (s.not_schema != nullptr) {
    const bool matched = passes(*s.not_schema);
    if (halted()) return;
    if (matched) fail(inst, path, out, [] { return std::string("value must not match the 'not' schema"); });
  }
}

bool repeats_keys_anywhere(const YamlValue& root) {
  std::vector<const YamlValue*> stack{&root};
  while (!stack.empty()) {
    const YamlValue* v = stack.back();
    stack.pop_back();
    if (v->is_sequence()) {
      for (const YamlValue& item : v->items())
        if (item.is_sequence() || item.is_mapping()) stack.push_back(&item);
      continue;
    }
    if (!v->is_mapping()) continue;
    if (has_repeated_keys(*v)) return true;
    for (const ValuePair& p : v->pairs()) {
      if (p.key.is_sequence() || p.key.is_mapping()) stack.push_back(&p.key);
      if (p.value.is_sequence() || p.value.is_mapping()) stack.push_back(&p.value);
    }
  }
  return false;
}

template class Walker<NodeAdapter>;
template class Walker<ValueAdapter>;

}  // namespace schema_walk

using schema_walk::FailureList;
using schema_walk::NodeAdapter;
using schema_walk::NodeInstance;
using schema_walk::ValueAdapter;
using schema_walk::ValueMembers;
using schema_walk::Walker;
using schema_walk::WalkState;

namespace {

// "<<" occurs in the text ("<" alone is rare, so memchr does the scanning).
bool holds_double_less(std::string_view text) noexcept {
  const char* at = text.data();
  const char* const end = text.data() + text.size();
  while ((at = static_cast<const char*>(std::memchr(at, '<', static_cast<std::size_t>(end - at)))) != nullptr) {
    if (++at < end && *at == '<') return true;
  }
  return false;
}

}  // namespace

std::optional<ValidationError> validate_root(const YamlNode& root, const SchemaSet& schemas, KeyReading reading,
                                             std::uint64_t alias_text_budget) {
  InstanceView view(root, reading);
  WalkState state{schemas, /*keep_first=*/true};
  state.aliases.text_left = alias_text_budget;
  Walker<NodeAdapter> walker(state, NodeAdapter{&view});
  FailureList own{/*own=*/true};
  NodeInstance top;
  top.node = &root;
  top.secret = is_secret_node(root);
  walker.validate(NodeAdapter{&view}.child(top, NodeRef{&root}), schemas.root(), nullptr, 0, own);
  return std::move(state.first);
}

ValueVerdict check_value_tree(const YamlValue& root, const SchemaSet& schemas) {
  WalkState state{schemas, /*keep_first=*/false};
  ValueMembers members;  // mappings with repeated keys, as the data keeps them
  Walker<ValueAdapter> walker(state, ValueAdapter{&members});
  FailureList own{/*own=*/true};
  walker.validate(&root, schemas.root(), nullptr, 0, own);
  if (state.undecided) return ValueVerdict::Undecided;
  return own.failed || state.fatal ? ValueVerdict::Invalid : ValueVerdict::Valid;
}

bool value_tree_reads_like_nodes(std::string_view text) {
  // An alias needs a "*", a tag a "!", a merge key "<<" or a tag.
  const bool suspicious = std::memchr(text.data(), '*', text.size()) != nullptr ||
                          std::memchr(text.data(), '!', text.size()) != nullptr || holds_double_less(text);
  if (!suspicious) return true;
  Scanner scanner = new_scanner(text);
  auto scanned = scan_events(scanner);
  if (!scanned) return false;
  for (const SpannedEvent& e : scanned->events) {
    if (e.kind == EventKind::Alias || e.kind == EventKind::Tag) return false;
    if (e.kind == EventKind::Scalar && e.style == ScalarStyle::Plain && e.text() == "<<") return false;
  }
  return true;
}

}  // namespace kestrine
