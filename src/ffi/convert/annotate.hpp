// Round-trip trees to Python objects: the last step of the located road of
// `loads` (annotated results, configuration directives) and of `loads_all`
// with OPT_ANNOTATED.
//
//   auto bindings = bind_anchors(roots);                  // roundtrip/tree/anchors.hpp
//   if (!bindings) raise compose_error_to_py(bindings.error());
//   tree_to_py(roots[0], mode, handlers, *bindings);      // plain objects
//   tree_to_annotated(roots[0], file_names, mode, handlers, *bindings,
//                     annotate_numbers);                  // annotated objects
//
// Both give what the plain road gives for the same text (dicts, lists, str,
// int, float, bool, None, merge keys applied, tag callbacks called), except
// that an alias yields the very object built for its anchor when that was
// converted before it, and that timestamps become date/datetime only under
// PyyamlCompat.  `tree_to_annotated` makes mappings KestrineAnnotatedDict,
// sequences KestrineAnnotatedList, strings KestrineAnnotatedStr and, with
// `annotate_numbers`, ints and floats KestrineAnnotatedInt/Float, each
// carrying the node's 1-based start and end line and column, byte offsets,
// file name and directive provenance.
//
// The trees are the caller's to drop afterwards, and the conversions spend
// them: when no alias binds anything (no node can be read twice), each
// collection's subtree is released as soon as it has been converted, so a
// load's memory peaks near the size of its result rather than tree plus
// result.  What is left of a tree after a conversion is only fit to be
// dropped.
//
// The interpreter lock is held throughout; Python errors (tag callbacks, the
// annotated classes, unhashable keys from callbacks) come back unchanged.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ffi/convert/decode.hpp"
#include "ffi/convert/node_bridge.hpp"
#include "ffi/py.hpp"
#include "ffi/types/annotated_dict.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

// One document's root as plain Python objects.  `duplicates`: the load's
// duplicate-key policy, for the pairs that only the built dicts find equal
// (DuplicateKeyCheck; its `text` is not used: nodes know their places, in
// the files that `file_names` names, as in tree_to_annotated).
PyResult<OwnedRef> tree_to_py(YamlNode& root, VersionMode mode, const TagHandlers& handlers,
                              const AnchorBindings& bindings, const DuplicateKeyCheck& duplicates = {},
                              std::span<const std::string> file_names = {});

// Whether tree_to_annotated pauses the garbage collector for these
// settings (see GcPause): a caller that gathers its results in a container
// of its own may make it under the same pause.
bool annotated_conversion_pauses_gc(const TagHandlers& handlers, bool annotate_numbers);

// One document's root as annotated objects.  `file_names` is indexed by the
// file number of a node's span (raw bytes; invalid UTF-8 shows as U+FFFD); a
// number outside it gives `__file__` None.
PyResult<OwnedRef> tree_to_annotated(YamlNode& root, std::span<const std::string> file_names,
                                     VersionMode mode, const TagHandlers& handlers,
                                     const AnchorBindings& bindings, bool annotate_numbers,
                                     const DuplicateKeyCheck& duplicates = {});
// The step behind it, with a cache owned by the caller (loads_all: one per
// document); the warnings of lost pairs are appended to `warnings`, for the
// caller to log (null: none kept).
PyResult<OwnedRef> tree_to_annotated_step(YamlNode& node, std::span<const std::string> file_names,
                                          VersionMode mode, const TagHandlers& handlers,
                                          const AnchorBindings& bindings, bool annotate_numbers,
                                          AnchorObjectCache& cache, const DuplicateKeyCheck& duplicates = {},
                                          std::vector<std::string>* warnings = nullptr);

}  // namespace kestrine
