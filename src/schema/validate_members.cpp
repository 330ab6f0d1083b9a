// The array and object keywords of the validator (see walker.hpp).
#include <vector>

#include "schema/compare.hpp"
#include "schema/walker.hpp"
#include "util/hash_map.hpp"

namespace kestrine::schema_walk {

namespace {

// Stopped: the walk stopped (the keys cost more text than aliases may
// read), the failure is recorded.
enum class Presence : std::uint8_t { Present, Absent, Undecided, Stopped };

// Mappings up to this size are searched member by member.
constexpr std::size_t kLinearMembers = 32;

// Whether a mapping instance has a member with a given scalar key; a large
// mapping is indexed on the first question (the keys hashed in full, so
// charged when read through aliases).
template <class Adapter>
class MemberNames {
 public:
  using Instance = typename Adapter::Instance;
  MemberNames(Walker<Adapter>& walker, const Instance& inst, const PathLink* path)
      : walker_(walker), adapter_(walker.adapter()), inst_(inst), path_(path) {}

  Presence find(std::string_view name) {
    const std::size_t n = adapter_.size(inst_);
    if (n <= kLinearMembers) {
      bool unknown = false;
      for (std::size_t i = 0; i < n; ++i) {
        const MemberKey key = adapter_.key(inst_, i);
        if (key.kind == MemberKey::Kind::Text && key.text == name) return Presence::Present;
        unknown = unknown || key.kind == MemberKey::Kind::Undecided;
      }
      return unknown ? Presence::Undecided : Presence::Absent;
    }
    if (!indexed_) {
      indexed_ = true;
      names_.reserve(n);
      for (std::size_t i = 0; i < n; ++i) {
        const MemberKey key = adapter_.key(inst_, i);
        if (key.through_aliases && !walker_.read_through_aliases(inst_, path_, key.text.size()))
          return Presence::Stopped;
        if (key.kind == MemberKey::Kind::Text) names_.insert(key.text);
        unknown_ = unknown_ || key.kind == MemberKey::Kind::Undecided;
      }
    }
    if (names_.contains(name)) return Presence::Present;
    return unknown_ ? Presence::Undecided : Presence::Absent;
  }

 private:
  Walker<Adapter>& walker_;
  const Adapter& adapter_;
  Instance inst_;
  const PathLink* path_;
  bool indexed_ = false;
  bool unknown_ = false;
  SeededHashSet<std::string_view> names_;
};

}  // namespace

template <class Adapter>
template <class Visit>
void CollectionChecks<Adapter>::for_each_named_member(const Instance& inst, const PathLink* path, Visit&& visit) {
  const std::size_t n = a_.size(inst);
  for (std::size_t i = 0; i < n; ++i) {
    const MemberKey key = a_.key(inst, i);
    // Looking a key up hashes and searches its whole text, once per alias.
    if (key.through_aliases && !w_.read_through_aliases(inst, path, key.text.size())) return;
    if (key.kind == MemberKey::Kind::Skip) continue;
    if (key.kind == MemberKey::Kind::Undecided) {
      w_.state().undecided = true;
      return;
    }
    if (!visit(i, key)) return;
  }
}

template <class Adapter>
void CollectionChecks<Adapter>::check_object(const Instance& inst, const CompiledSchema& s, const PathLink* path,
                                             std::uint32_t ref_depth, FailureList& out) {
  MemberNames<Adapter> names(w_, inst, path);
  for (std::string_view name : s.required) {
    const Presence presence = names.find(name);
    if (presence == Presence::Stopped) return;
    if (presence == Presence::Undecided) {
      w_.state().undecided = true;
      return;
    }
    if (presence == Presence::Absent)
      w_.fail(inst, path, out, [&] { return "missing required property '" + std::string(name) + "'"; });
    if (w_.stopped(out)) return;
  }
  // Invalid patterns fail once per mapping, whatever its members.
  for (const PatternSchema& p : s.pattern_properties) {
    if (p.compiled->program != nullptr) continue;
    w_.fail(inst, path, out, [&] { return p.compiled->refusal; });
    if (w_.stopped(out)) return;
  }
  if (s.has_properties || !s.pattern_properties.empty() || s.additional_properties != ExtraRule::Accept) {
    check_members(inst, s, path, out);
    if (w_.stopped(out)) return;
  }
  const auto count = static_cast<std::int64_t>(a_.size(inst));
  if (s.min_properties && count < *s.min_properties) {
    w_.fail(inst, path, out,
            [&] { return "object has fewer than minProperties " + std::to_string(*s.min_properties); });
    if (w_.stopped(out)) return;
  }
  if (s.max_properties && count > *s.max_properties) {
    w_.fail(inst, path, out,
            [&] { return "object has more than maxProperties " + std::to_string(*s.max_properties); });
    if (w_.stopped(out)) return;
  }
  if (s.property_names != nullptr && count > 0) {
    check_property_names(inst, s, path, out);
    if (w_.stopped(out)) return;
  }
  if (!s.dependencies.empty()) check_dependencies(inst, s, path, ref_depth, out);
}

// `properties`, `patternProperties` and `additionalProperties`, member by
// member.
template <class Adapter>
void CollectionChecks<Adapter>::check_members(const Instance& inst, const CompiledSchema& s, const PathLink* path,
                                              FailureList& out) {
  for_each_named_member(inst, path, [&](std::size_t i, const MemberKey& key) {
    const std::string_view name = key.text;
    const PathLink link{path, name, 0, false, key.secret};
    const Instance value = a_.value(inst, i);
    bool matched = false;
    if (const CompiledSchema* sub = s.property(name)) {
      matched = true;
      w_.descend_member(value, *sub, &link, out);
      if (w_.stopped(out)) return false;
    }
    for (const PatternSchema& p : s.pattern_properties) {
      if (p.compiled->program == nullptr || !w_.state().patterns.search(*p.compiled->program, name)) continue;
      matched = true;
      w_.descend_member(value, *p.schema, &link, out);
      if (w_.stopped(out)) return false;
    }
    if (matched) return true;
    if (s.additional_properties == ExtraRule::Forbid) {
      w_.fail(value, &link, out,
              [&] { return "additional property '" + std::string(key.shown()) + "' is not allowed"; });
    } else if (s.additional_properties == ExtraRule::Check) {
      w_.descend_member(value, *s.additional_properties_schema, &link, out);
    }
    return !w_.stopped(out);
  });
}

// Every scalar key, read as a double-quoted string, against `propertyNames`.
template <class Adapter>
void CollectionChecks<Adapter>::check_property_names(const Instance& inst, const CompiledSchema& s,
                                                     const PathLink* path, FailureList& out) {
  for_each_named_member(inst, path, [&](std::size_t i, const MemberKey& key) {
    const PathLink link{path, key.text, 0, false, key.secret};
    w_.descend_member(a_.key_as_name(inst, i), *s.property_names, &link, out);
    return !w_.stopped(out);
  });
}


template <class Adapter>
void CollectionChecks<Adapter>::check_dependencies(const Instance& inst, const CompiledSchema& s,
                                                   const PathLink* path, std::uint32_t ref_depth, FailureList& out) {
  MemberNames<Adapter> names(w_, inst, path);
  // A member's presence, or nothing when the instance form cannot tell.
  const auto present = [&](std::string_view name) -> std::optional<bool> {
    const Presence p = names.find(name);
    if (p == Presence::Stopped) return std::nullopt;
    if (p == Presence::Undecided) {
      w_.state().undecided = true;
      return std::nullopt;
    }
    return p == Presence::Present;
  };
  for (const Dependency& d : s.dependencies) {
    const std::optional<bool> has = present(d.name);
    if (!has) return;
    if (!*has) continue;
    if (d.schema != nullptr) {
      w_.descend(inst, *d.schema, path, ref_depth, out, /*prepared=*/true);
      if (w_.stopped(out)) return;
      continue;
    }
    for (std::string_view required : d.required) {
      const std::optional<bool> has_required = present(required);
      if (!has_required) return;
      if (!*has_required) {
        w_.fail(inst, path, out, [&] {
          return "property '" + std::string(d.name) + "' requires '" + std::string(required) +
                 "' to also be present";
        });
      }
      if (w_.stopped(out)) return;
    }
  }
}

template <class Adapter>
void CollectionChecks<Adapter>::check_array(const Instance& inst, const CompiledSchema& s, const PathLink* path,
                                            FailureList& out) {
  const std::size_t n = a_.size(inst);
  const auto count = static_cast<std::int64_t>(n);
  if (s.min_items && count < *s.min_items) {
    w_.fail(inst, path, out, [&] { return "array has fewer than minItems " + std::to_string(*s.min_items); });
    if (w_.stopped(out)) return;
  }
  if (s.max_items && count > *s.max_items) {
    w_.fail(inst, path, out, [&] { return "array has more than maxItems " + std::to_string(*s.max_items); });
    if (w_.stopped(out)) return;
  }
  if (s.items != nullptr || s.items_is_list) {
    check_items(inst, s, path, out);
    if (w_.stopped(out)) return;
  }
  if (s.unique_items && n > 1) {
    ValueArena arena;
    std::vector<YamlValue> values;
    values.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      const std::optional<YamlValue> v = w_.value_of(a_.item(inst, i), path, arena);
      if (!v) return;
      values.push_back(*v);
    }
    if (has_equal_items(values)) w_.fail(inst, path, out, [] { return std::string("array items are not unique"); });
    if (w_.stopped(out)) return;
  }
  if (s.contains == nullptr) return;
  bool found = false;
  for (std::size_t i = 0; i < n && !found; ++i) {
    FailureList branch;
    w_.descend_member(a_.item(inst, i), *s.contains, path, branch);
    if (w_.halted()) return;
    found = !branch.failed;
  }
  if (!found) w_.fail(inst, path, out, [] { return std::string("no array item matches the 'contains' schema"); });
}

template <class Adapter>
void CollectionChecks<Adapter>::check_items(const Instance& inst, const CompiledSchema& s, const PathLink* path,
                                            FailureList& out) {
  const std::size_t n = a_.size(inst);
  for (std::size_t i = 0; i < n; ++i) {
    const PathLink link{path, {}, i, true};
    const Instance item = a_.item(inst, i);
    if (!s.items_is_list) {
      w_.descend_member(item, *s.items, &link, out);
    } else if (i < s.item_list.size()) {
      w_.descend_member(item, *s.item_list[i], &link, out);
    } else if (s.additional_items == ExtraRule::Forbid) {
      w_.fail(item, &link, out, [&] {
        return "array has more items than the " + std::to_string(s.item_list.size()) + " allowed";
      });
    } else if (s.additional_items == ExtraRule::Check) {
      w_.descend_member(item, *s.additional_items_schema, &link, out);
    }
    if (w_.stopped(out)) return;
  }
}

template class CollectionChecks<NodeAdapter>;
template class CollectionChecks<ValueAdapter>;

}  // namespace kestrine::schema_walk
