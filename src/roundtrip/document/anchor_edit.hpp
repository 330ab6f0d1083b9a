// Anchors and aliases of round-trip trees: the guard every edit keeps (no
// alias is left without the anchor it refers to, so every rendered text
// loads again), and the edits of anchors and aliases themselves.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/document/edit.hpp"

namespace kestrine {

// ---- the guard ---------------------------------------------------------------------

// The node or some node below it carries an anchor.
bool carries_anchor(const YamlNode& node);

// Some node below `node` (not `node` itself) carries an anchor.
bool anchors_below(const YamlNode& node);

// The aliases of `root` that refer to nothing now, by name.  Loaded trees
// have none; they are taken before an edit so that only what the edit
// unbinds counts against it.
std::vector<std::string> unbound_names(const YamlNode& root);

// The first alias name an edit left without its anchor (not among
// `before`, unbound_names taken before it), or nothing.
std::optional<std::string> newly_unbound(const YamlNode& root, const std::vector<std::string>& before);

// The refusal of an edit that would leave aliases named `name` without
// their anchor ("deleting this node would remove anchor '&{}', ..."); the
// edit is named by `doing` ("deleting", "replacing").
EditError anchor_in_use(std::string_view doing, std::string_view name);

// ---- anchors -----------------------------------------------------------------------

// The first node of `root` in document order (keys before their values,
// every key kind included) that carries the anchor `name`, or null.
const YamlNode* find_anchored_node(const YamlNode& root, std::string_view name);

// Gives `node` the anchor `name`, or none.  Refused on an alias node, when
// another node of `root` carries the name already, and when the anchor the
// node carries now is still used by aliases (renaming or clearing it would
// leave them without their anchor).
EditResult<> set_anchor(YamlNode& root, YamlNode& node, std::optional<std::string_view> name);

// ---- aliases ---------------------------------------------------------------------

// Whether an alias at `alias_path` may refer to the anchor defined at
// `definition` (both paths from `root`): the definition must come before
// the alias and must not contain it.  `name` goes into the refusals.
EditResult<> check_alias_order(const YamlNode& root, std::span<const PathSegment> definition,
                               std::span<const PathSegment> alias_path, std::string_view name);

// Turns `node` into the alias `*name`: its content and its own anchor go,
// its tag and comments stay.  Refused when the alias would not refer to an
// anchor written before it, or when anchors of the dropped content are
// still used by other aliases.
EditResult<> make_alias(YamlNode& root, YamlNode& node, std::string_view name, KeyIndexCache* lookups);

// Replaces the alias `node` by a copy of the node it refers to in `root`
// (aliases inside expanded, no anchors; an included file's content copied
// inline, any other directive kept as that directive, so a secret is never
// written out as its value); the comments written around the alias stay.
// A kept directive read in another file than the alias's is rewritten by
// `relocator` to read the same from there (see
// copy_expanding_aliases_for_detach), or the detach is refused with its
// ValueError.  KeyError "alias *{} has no anchor to detach" when it refers
// to nothing; past the limits of copy_expanding_aliases_for_detach, the ValueError a
// read of the alias gives ("aliases nest more than 100 levels deep", "...
// too many nodes ..."), the tree unchanged.
EditResult<> detach_alias(YamlNode& root, YamlNode& node, const DirectiveRelocator* relocator = nullptr);

}  // namespace kestrine
