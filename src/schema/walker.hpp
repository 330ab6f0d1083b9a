// The validator's walk, shared by its two instance forms (internal to
// src/schema: validate.cpp holds the core keywords, validate_members.cpp the
// array and object keywords).
//
// `Walker<Adapter>` evaluates one compiled schema against one instance; the
// adapter tells it what the instance is:
//   NodeAdapter   a round-trip node (positions, provenance, scalars resolved
//                 from their text, style and tag);
//   ValueAdapter  a decoded value (already resolved; no positions).
// Both present the same operations, so the keyword logic exists once.
//
// Failures go to a `FailureList`: the validation's own list, where the first
// record is kept (with its message and path, built only then), or a private
// list of a combinator, which only remembers that something failed.  Either
// stops at its first failure.  What must not become a pass under `not` (a
// `$ref` loop, a spent budget, data that cannot be read) ends the whole
// validation instead, whatever list is being filled.
//
// Verdicts are remembered per (instance, schema) pair where a pair can be
// met again: a schema that `$ref`s reach or that stands in several places
// (and that leads to other schemas), and any instance read through an
// alias.  Each such pair is walked once (again only to build the reported
// record of a failure; a walk too short to be worth remembering, again each
// time; from a start too deep for its verdict, again: see Verdict), so that
// branching references and alias bombs end in time bounded by instance
// size x schema size x the nesting limit; every other pair is reached from
// a remembered one or the root by a single way.
#pragma once

#include <cstdint>
#include <forward_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "decode/merge.hpp"
#include "schema/instance.hpp"
#include "schema/pattern_cache.hpp"
#include "schema/schema.hpp"
#include "schema/validate.hpp"
#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"

namespace kestrine::schema_walk {

// What a message or a path shows in place of anything that came from
// !secret: a value, or a key of a secret's content.
inline constexpr std::string_view kSecretShown = "<secret>";

// The instance path as a chain of links on the native stack, rendered only
// for a failure that is reported.  A null link is the root "$".
struct PathLink {
  const PathLink* parent = nullptr;
  std::string_view key;
  std::size_t index = 0;
  bool is_index = false;
  bool secret = false;  // the key came from !secret: rendered as kSecretShown
};
std::string render_path(const PathLink* link);

struct FailureList {
  bool own = false;  // the validation's own list (else a combinator's private one)
  bool failed = false;
};

enum class InstanceKind : std::uint8_t { Null, Scalar, Sequence, Mapping, Undecided };

// The key of a mapping member as the member keywords read it.
struct MemberKey {
  enum class Kind : std::uint8_t { Text, Skip, Undecided } kind = Kind::Skip;
  std::string_view text;
  bool through_aliases = false;  // the key, or its mapping, is read through an alias
  bool secret = false;           // the key came from !secret: never quoted

  // The key as a message or a path shows it.
  std::string_view shown() const noexcept { return secret ? kSecretShown : text; }
};

// ---- instance forms ---------------------------------------------------------

struct NodeInstance {
  const YamlNode* node = nullptr;  // never an alias; null: `list`, or nothing (null)
  const MergeLeftover<NodeRef>* list = nullptr;  // merge leftovers read as a sequence
  const FoldedMapping<NodeRef>* members = nullptr;  // a mapping's loaded members, when not its pairs
  const YamlNode* place = nullptr;  // whose start locates failures, when not `node`
  std::string_view name;            // a key read as a double-quoted name (propertyNames)
  std::uint32_t aliases = 0;        // alias expansions the node lies in
  bool secret = false;              // the node or an ancestor came from !secret
  bool as_name = false;
};

// Round-trip nodes read through an `InstanceView` (instance.hpp).
struct NodeAdapter {
  using Instance = NodeInstance;
  InstanceView* view = nullptr;

  // The instance `ref` stands for below `parent`; `place` locates it when
  // the ref has no node of its own (a list of leftovers).
  // `ref` with its aliases followed (the call is skipped for the common
  // node that is no alias).
  NodeRef follow(const NodeRef& ref) const {
    return ref.node != nullptr && ref.node->is_alias() ? view->folds().follow(ref) : ref;
  }
  NodeInstance child(const NodeInstance& parent, const NodeRef& ref, const YamlNode* place = nullptr) const {
    const NodeRef r = follow(ref);
    NodeInstance c;
    c.node = r.node;
    c.list = r.list;
    c.aliases = add_alias_counts(parent.aliases, r.aliases);
    c.place = ref.node != nullptr && ref.node->is_alias() ? ref.node : r.node == nullptr ? place : nullptr;
    c.secret = parent.secret || leads_to_secret(ref, r);
    return c;
  }
  // `ref`, followed to `r`, came from !secret: it lies in a merged secret,
  // or it or the node it stands for is a secret's content.
  static bool leads_to_secret(const NodeRef& ref, const NodeRef& r) noexcept {
    return r.secret || (r.node != nullptr && is_secret_node(*r.node)) ||
           (ref.node != nullptr && ref.node != r.node && is_secret_node(*ref.node));
  }
  bool too_deep(const NodeInstance& i) const noexcept { return i.aliases > kMaxValidationAliasDepth; }
  std::uint32_t alias_depth(const NodeInstance& i) const noexcept { return i.aliases; }
  bool through_aliases(const NodeInstance& i) const noexcept { return i.aliases > 0; }
  // What the verdict of `i` depends on: its node (or leftover list), and
  // whether it is read as a key's name; 0 for none (a name that is not its
  // node's text).  Every instance of nothing is alike: one address that no
  // object has stands for them.
  std::uintptr_t identity(const NodeInstance& i) const noexcept {
    constexpr std::uintptr_t kNothing = 2;
    if (i.list != nullptr) return reinterpret_cast<std::uintptr_t>(i.list);
    if (i.node == nullptr) return i.as_name ? 0 : kNothing;
    if (!i.as_name) return reinterpret_cast<std::uintptr_t>(i.node);
    const std::string_view own = i.node->is_scalar() ? i.node->text() : std::string_view{};
    if (i.name.data() != own.data() || i.name.size() != own.size()) return 0;
    return reinterpret_cast<std::uintptr_t>(i.node) | 1;  // nodes are aligned
  }
  // Resolves a mapping's loaded members before keywords read them.
  void prepare(NodeInstance& i) const {
    if (i.node != nullptr && i.node->is_mapping() && !i.as_name) i.members = view->members(*i.node, i.aliases > 0);
  }
  InstanceKind kind(const NodeInstance& i) const noexcept {
    if (i.list != nullptr) return InstanceKind::Sequence;
    if (i.node == nullptr || i.as_name) return i.as_name ? InstanceKind::Scalar : InstanceKind::Null;
    switch (i.node->kind()) {
      case NodeKind::Scalar:
        return InstanceKind::Scalar;
      case NodeKind::Sequence:
        return InstanceKind::Sequence;
      case NodeKind::Mapping:
        return InstanceKind::Mapping;
      default:
        return InstanceKind::Null;
    }
  }
  // The scalar's value; an empty collection for collections, Null otherwise.
  YamlValue summary(const NodeInstance& i, ValueArena& arena) const {
    if (i.as_name) return arena.make_string_ref(i.name);
    if (i.list != nullptr) return YamlValue::empty_sequence();
    if (i.node == nullptr) return YamlValue::null();
    if (i.node->is_scalar()) return scalar_node_value(*i.node, view->mode(), arena);
    if (i.node->is_sequence()) return YamlValue::empty_sequence();
    if (i.node->is_mapping()) return YamlValue::empty_mapping();
    return YamlValue::null();
  }
  // The loaded value; `limits.stopped` is set when it cannot be read whole.
  YamlValue to_value(const NodeInstance& i, ValueArena& arena, AliasReadLimits& limits) const {
    if (i.as_name) return arena.make_string_ref(i.name);
    return view->to_value(NodeRef{i.node, i.list, 0, false}, i.aliases, arena, limits);
  }
  // The bytes a scalar instance lets the keywords read through aliases.
  std::size_t alias_text(const NodeInstance& i) const noexcept {
    if (i.aliases == 0) return 0;
    if (i.as_name) return i.name.size();
    return i.node != nullptr && i.node->is_scalar() ? i.node->text().size() : 0;
  }
  std::size_t size(const NodeInstance& i) const noexcept {
    if (i.list != nullptr) return i.list->items.size();
    if (i.members != nullptr) return i.members->pairs.size();
    return i.node != nullptr ? i.node->size() : 0;
  }
  NodeInstance item(const NodeInstance& i, std::size_t k) const {
    if (i.list != nullptr) {
      const MergeLeftover<NodeRef>& item = i.list->items[k];
      return child(i, item.is_list ? NodeRef{nullptr, &item, 0, false} : item.value, span_node(i));
    }
    return child(i, NodeRef{&i.node->items()[k]});
  }
  // A key of a secret's content is secret, as are its values.
  MemberKey key(const NodeInstance& i, std::size_t k) const {
    const NodeRef ref = i.members != nullptr ? i.members->pairs[k].key : NodeRef{&i.node->pairs()[k].key};
    const NodeRef key = follow(ref);
    const bool secret = i.secret || leads_to_secret(ref, key);
    if (i.members != nullptr) {
      const FoldedPair<NodeRef>& p = i.members->pairs[k];
      if (p.merge_text_key || p.key.merge_text) return MemberKey{MemberKey::Kind::Text, "<<", false, secret};
    }
    if (key.node == nullptr || !key.node->is_scalar()) return MemberKey{};
    return MemberKey{MemberKey::Kind::Text, key.node->text(), i.aliases > 0 || key.aliases > 0, secret};
  }
  // A value the text leaves out ("key:" and nothing) is composed as a null
  // at the all-zero position; its failures are placed at its key instead.
  NodeInstance value(const NodeInstance& i, std::size_t k) const {
    if (i.members != nullptr) {
      const FoldedMapping<NodeRef>& m = *i.members;
      const FoldedPair<NodeRef>& p = m.pairs[k];
      if (m.slot == k)
        return child(i, m.leftover.is_list ? NodeRef{nullptr, &m.leftover, 0, false} : m.leftover.value, p.key.node);
      return with_left_out_place(child(i, p.value), p.key.node);
    }
    const NodePair& pair = i.node->pairs()[k];
    return with_left_out_place(child(i, NodeRef{&pair.value}), &pair.key);
  }
  NodeInstance key_as_name(const NodeInstance& i, std::size_t k) const {
    NodeInstance n;
    n.as_name = true;
    const MemberKey key = this->key(i, k);
    n.name = key.text;
    n.secret = key.secret;
    const NodeRef r = follow(i.members != nullptr ? i.members->pairs[k].key : NodeRef{&i.node->pairs()[k].key});
    n.node = r.node;
    n.aliases = add_alias_counts(i.aliases, r.aliases);
    return n;
  }
  Span span(const NodeInstance& i) const noexcept {
    const YamlNode* at = span_node(i);
    return at != nullptr ? at->span : Span{};
  }
  bool secret(const NodeInstance& i) const noexcept { return i.secret; }

 private:
  static const YamlNode* span_node(const NodeInstance& i) noexcept { return i.place != nullptr ? i.place : i.node; }
  static NodeInstance with_left_out_place(NodeInstance v, const YamlNode* key) noexcept {
    if (v.place == nullptr && v.node != nullptr && v.node->is_null() && v.node->span == Span{} &&
        v.node->end_offset == 0)
      v.place = key;
    return v;
  }
};

// Some mapping inside `root` repeats a key.
bool repeats_keys_anywhere(const YamlValue& root);

// The loaded members of decoded mappings whose keys repeat: the decoder
// keeps every pair, the data the last of each key.  The walk holds on to a
// collapsed mapping while it prepares others, so each lives at a fixed
// address (a hash map moves its values when it grows).
struct ValueMembers {
  ValueArena arena;
  std::forward_list<YamlValue> values;  // allocates nothing until used
  SeededHashMap<const ValuePair*, const YamlValue*> collapsed;
};

struct ValueAdapter {
  using Instance = const YamlValue*;
  ValueMembers* members = nullptr;

  InstanceKind kind(const YamlValue* v) const noexcept {
    switch (v->kind) {
      case ValueKind::Null:
        return InstanceKind::Null;
      case ValueKind::Bool:
      case ValueKind::Int:
      case ValueKind::BigInt:
      case ValueKind::Float:
      case ValueKind::String:
        return InstanceKind::Scalar;
      case ValueKind::Sequence:
        return InstanceKind::Sequence;
      case ValueKind::Mapping:
        return InstanceKind::Mapping;
      default:
        return InstanceKind::Undecided;  // tags and timestamps keep no source text
    }
  }
  // The value for a comparing keyword; `undecided` when some mapping in it
  // repeats a key (the comparison would need the collapsed form).
  YamlValue to_value(const YamlValue* v, ValueArena&, bool& undecided) const {
    undecided = repeats_keys_anywhere(*v);
    return *v;
  }
  YamlValue summary(const YamlValue* v, ValueArena&) const noexcept {
    if (v->is_sequence()) return YamlValue::empty_sequence();
    if (v->is_mapping()) return YamlValue::empty_mapping();
    return *v;
  }
  bool too_deep(const YamlValue*) const noexcept { return false; }
  std::uint32_t alias_depth(const YamlValue*) const noexcept { return 0; }
  bool through_aliases(const YamlValue*) const noexcept { return false; }
  std::uintptr_t identity(const YamlValue* v) const noexcept { return reinterpret_cast<std::uintptr_t>(v); }
  std::size_t alias_text(const YamlValue*) const noexcept { return 0; }  // no aliases here
  void prepare(const YamlValue*& v) const {
    if (!has_repeated_keys(*v)) return;
    auto [it, fresh] = members->collapsed.try_emplace(v->pairs().data(), nullptr);
    if (fresh) it->second = &members->values.emplace_front(collapse_repeated_keys(members->arena, *v));
    v = it->second;
  }
  std::size_t size(const YamlValue* v) const noexcept { return v->size(); }
  const YamlValue* item(const YamlValue* v, std::size_t k) const noexcept { return &v->items()[k]; }
  MemberKey key(const YamlValue* v, std::size_t k) const noexcept {
    const YamlValue& key = v->pairs()[k].key;
    if (key.is_string()) return MemberKey{MemberKey::Kind::Text, key.text()};
    if (key.is_sequence() || key.is_mapping()) return MemberKey{};
    return MemberKey{MemberKey::Kind::Undecided, {}};  // the key's text is not kept
  }
  const YamlValue* value(const YamlValue* v, std::size_t k) const noexcept { return &v->pairs()[k].value; }
  const YamlValue* key_as_name(const YamlValue* v, std::size_t k) const noexcept { return &v->pairs()[k].key; }
  Span span(const YamlValue*) const noexcept { return Span{}; }
  bool secret(const YamlValue*) const noexcept { return false; }
};

// ---- the walk -------------------------------------------------------------------

// The verdict of a pair walked to its end, started `ref_start` `$ref` hops
// deep.  A walk that followed no `$ref` more than `ref_reach` hops deeper
// than it started, without meeting the nesting limit, is the same walk from
// any start that leaves room for those hops (a start that leaves less may
// meet the limit inside).  The reach counts every hop of the walk, also
// those of the chains its members and items start afresh: a bound that
// costs nothing to keep.  A walk that met the limit (`cut`) holds for its
// own start alone: its verdict hangs on its depth both ways (a branch cut
// short under `not` passes).
// Alias expansions are counted from the root of the validation: a verdict
// holds for a walk that starts no deeper in them than the deepest walk it
// was found by.
struct Verdict {
  std::uint32_t ref_start = 0;
  std::uint32_t ref_reach = 0;
  std::uint32_t alias_depth = 0;
  bool cut = false;
  bool failed = false;

  bool holds_at(std::uint32_t ref_depth) const noexcept {
    return cut ? ref_depth == ref_start : ref_depth + ref_reach <= kSchemaMaxRefDepth + 1;
  }
};
using VerdictKey = std::pair<std::uintptr_t, const CompiledSchema*>;  // an instance's identity, a schema

struct WalkState {
  const SchemaSet& schemas;
  bool keep_first = false;  // build the first record of the own list
  std::uint64_t ref_budget = kSchemaRefBudget;
  bool undecided = false;   // the instance form cannot answer: stop everything
  bool fatal = false;       // a loop, a spent budget, unreadable data: stop, report it
  AliasReadLimits aliases;  // what the node walk may still read through aliases
  std::optional<ValidationError> first;
  PatternMemo patterns;     // answers of the searches made so far
  std::uint64_t evaluations = 0;  // of a schema against an instance, so far
  // The `$ref` targets followed on the way to the current instance and
  // schema, innermost last: the current chain's are the last `ref_depth`.
  // Kept only where a chain past the nesting limit may be no loop: with
  // fewer targets than hops, one of them repeats.
  bool keep_ref_chain = schemas.ref_target_count() > kSchemaMaxRefDepth;
  std::vector<const CompiledSchema*> ref_chain;
  std::uint32_t ref_peak = 0;            // the deepest `ref_depth` reached since the current remembered walk began
  std::uint64_t ref_limits_met = 0;      // `$ref`s refused at the nesting limit, so far
  // Proportional to the pairs walked.  Keyed by addresses, which no input
  // chooses: the unseeded hash is enough.  A table that a failed allocation
  // leaves intact: validation may run close to a memory limit.
  FlatHashMap<VerdictKey, Verdict> verdicts;
};

template <class Adapter>
class Walker {
 public:
  using Instance = typename Adapter::Instance;

  Walker(WalkState& state, Adapter adapter) : state_(state), adapter_(adapter) {}

  // `prepared`: the adapter prepared `inst` already (a combinator or a
  // `$ref` hands on the instance its schema read).
  void validate(const Instance& inst, const CompiledSchema& schema, const PathLink* path, std::uint32_t ref_depth,
                FailureList& out, bool prepared = false);

  // ---- for the keyword steps ----
  WalkState& state() noexcept { return state_; }
  const Adapter& adapter() const noexcept { return adapter_; }
  // The whole validation stopped (loops over branches must not go on).
  bool halted() const noexcept { return state_.undecided || state_.fatal; }
  bool stopped(const FailureList& out) const noexcept { return halted() || out.failed; }
  void descend(const Instance& inst, const CompiledSchema& schema, const PathLink* path, std::uint32_t ref_depth,
               FailureList& out, bool prepared = false) {
    stack_guarded([&] {
      if (schema.form == SchemaForm::Object && (schema.remember_verdicts || adapter_.through_aliases(inst)) &&
          !adapter_.too_deep(inst))
        validate_remembered(inst, schema, path, ref_depth, out, prepared);
      else
        validate(inst, schema, path, ref_depth, out, prepared);
    });
  }
  // A member or an item: its `$ref` chain starts again, and the shared
  // budget grows (see kSchemaRefAllowance).
  void descend_member(const Instance& inst, const CompiledSchema& schema, const PathLink* path,
                      FailureList& out) {
    state_.ref_budget += kSchemaRefAllowance;
    descend(inst, schema, path, 0, out);
  }
  // Stops the validation with `message` at `at`, whatever list is being
  // filled: a combinator must not turn data it could not read, or a schema
  // it could not follow, into a pass.
  void end_validation(const Instance& at, const PathLink* path, std::string_view message) {
    if (state_.fatal) return;  // the first one is reported
    state_.fatal = true;
    state_.first = ValidationError{std::string(message), render_path(path), adapter_.span(at)};
  }
  // Charges `bytes` of text about to be read through aliases at `at`;
  // false, the validation stopped, once the budget is spent.
  bool read_through_aliases(const Instance& at, const PathLink* path, std::size_t bytes) {
    if (bytes == 0 || state_.aliases.charge(bytes)) return true;
    end_validation(at, path, state_.aliases.stopped);
    return false;
  }
  // The loaded value of `inst` for a comparing keyword; stops the validation
  // when it cannot be read.
  std::optional<YamlValue> value_of(const Instance& inst, const PathLink* path, ValueArena& arena) {
    if constexpr (std::is_same_v<Adapter, ValueAdapter>) {
      bool undecided = false;
      YamlValue v = adapter_.to_value(inst, arena, undecided);
      if (!undecided) return v;
      state_.undecided = true;  // the node walk reads it
    } else {
      YamlValue v = adapter_.to_value(inst, arena, state_.aliases);
      if (state_.aliases.stopped.empty()) return v;
      end_validation(inst, path, state_.aliases.stopped);
    }
    return std::nullopt;
  }
  // Records a failure at `at`; `message()` runs only for the reported one.
  template <class Message>
  void fail(const Instance& at, const PathLink* path, FailureList& out, Message&& message) {
    out.failed = true;
    if (out.own && state_.keep_first && !state_.first)
      state_.first = ValidationError{message(), render_path(path), adapter_.span(at)};
  }

 private:
  // A number as the messages print it; never a secret's value.
  std::string number_text(const Instance& inst, double x) const;
  // `validate` through the remembered verdicts (see the top of this file).
  void validate_remembered(const Instance& inst, const CompiledSchema& schema, const PathLink* path,
                           std::uint32_t ref_depth, FailureList& out, bool prepared);
  void follow_ref(const Instance& inst, const CompiledSchema& schema, const PathLink* path, std::uint32_t ref_depth,
                  FailureList& out, bool prepared);
  void check_values(const Instance& inst, const CompiledSchema& schema, const YamlValue& summary,
                    const PathLink* path, FailureList& out);
  void check_number(const Instance& inst, const CompiledSchema& schema, const YamlValue& summary,
                    const PathLink* path, FailureList& out);
  void check_string(const Instance& inst, const CompiledSchema& schema, std::string_view text,
                    const PathLink* path, FailureList& out);
  void check_combinators(const Instance& inst, const CompiledSchema& schema, const PathLink* path,
                         std::uint32_t ref_depth, FailureList& out, bool prepared);

  WalkState& state_;
  Adapter adapter_;
  ValueArena scratch_;  // scalar summaries that need storage (big integers)
};

// The array and object keywords (validate_members.cpp), on a sequence or a
// mapping instance of a Walker.
template <class Adapter>
class CollectionChecks {
 public:
  using Instance = typename Adapter::Instance;

  explicit CollectionChecks(Walker<Adapter>& walker) : w_(walker), a_(walker.adapter()) {}

  void check_object(const Instance& inst, const CompiledSchema& schema, const PathLink* path,
                    std::uint32_t ref_depth, FailureList& out);
  void check_array(const Instance& inst, const CompiledSchema& schema, const PathLink* path, FailureList& out);

 private:
  void check_members(const Instance& inst, const CompiledSchema& schema, const PathLink* path, FailureList& out);
  void check_property_names(const Instance& inst, const CompiledSchema& schema, const PathLink* path,
                            FailureList& out);
  void check_dependencies(const Instance& inst, const CompiledSchema& schema, const PathLink* path,
                          std::uint32_t ref_depth, FailureList& out);
  void check_items(const Instance& inst, const CompiledSchema& schema, const PathLink* path, FailureList& out);
  // Calls visit(index, key) for the members with a scalar key, in order,
  // until it returns false.
  template <class Visit>
  void for_each_named_member(const Instance& inst, const PathLink* path, Visit&& visit);

  Walker<Adapter>& w_;
  const Adapter& a_;
};

extern template class Walker<NodeAdapter>;
extern template class Walker<ValueAdapter>;
extern template class CollectionChecks<NodeAdapter>;
extern template class CollectionChecks<ValueAdapter>;

}  // namespace kestrine::schema_walk
