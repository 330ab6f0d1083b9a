// The representer's state and steps, shared by its sources (internal to the
// represent road; callers use represent.hpp).  One `Representer` lives for
// one `dumps` call and owns everything it builds.
//   represent.cpp          the object walk, collections, tags, the road's body
//   represent_results.cpp  node descriptors returned by the callable
//   represent_values.cpp   scalars and value trees to nodes, quoting, core tags
//
// Identity: an object's address.  Every object except None, bool, int,
// float, bytes and str (subclasses included) and the empty tuple is tracked:
// the first time it is met its identity goes into `seen_` and a reference to
// it into `keep_alive_` (no address is reused while identities are
// compared), and its node gets the identity's decimal text as provisional
// anchor; a later meeting gives an alias of that text and puts the identity
// into `aliased_`.  An object represented through a substitute (an
// enumeration's value, a numpy object's list, the result of `default`) is
// forgotten again afterwards, so it is represented afresh each time, unless
// an alias inside the substitute refers to it, which is an error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "encode/yaml_writer.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/py.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/node_list.hpp"
#include "scanner/scanner.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// Where a node stands.
struct Place {
  bool in_flow = false;  // inside a flow collection
  bool is_key = false;   // a mapping key
  bool flow_or_key() const noexcept { return in_flow || is_key; }
};

// A collection's requested form: a descriptor's `flow` True, False or None.
enum class FlowChoice : std::uint8_t { Block = 0, Flow = 1, Auto = 2 };

struct ObjectPair {
  OwnedRef key;
  OwnedRef value;
};

// The automatic style of a string scalar: a literal block for a multi-line
// text that fits one, plain when the text reads back as itself, else quoted
// (double quotes when preferred or when the text holds "'").
ScalarStyle choose_quote_style(std::string_view text, bool prefer_double, VersionMode mode) noexcept;

// A tag for a node: the core prefix "tag:yaml.org,2002:" shortened to "!!",
// then checked as every written tag is (check_tag).
PyResult<std::optional<std::string>> shorten_core_tag(const std::optional<std::string>& tag);

class Representer {
 public:
  Representer(PyObject* represent, const EncodeOptions& convert, const WriterOptions& layout);
  Representer(const Representer&) = delete;
  Representer& operator=(const Representer&) = delete;

  // The node for `obj` at nesting `depth` (the root is 0).
  PyResult<YamlNode> represent_object(PyObject* obj, std::uint32_t depth, Place place);

  // Identities some alias refers to.
  const SeededHashSet<std::uint64_t>& aliased() const noexcept { return aliased_; }

 private:
  PyObject* represent_;
  EncodeOptions convert_;
  PyEncoder encoder_;  // scalars and leftovers through the plain road's rules
  std::vector<OwnedRef> keep_alive_;
  SeededHashSet<std::uint64_t> seen_;
  SeededHashSet<std::uint64_t> aliased_;
  bool sort_keys_;
  bool flow_;
  bool prefer_double_;
  VersionMode mode_;
  ListArena lists_;  // the child lists of the built nodes

  // ---- the object walk (represent.cpp) -------------------------------------------
  // The built-in rules, after the callable returned None.  `replaced`: the
  // object was represented through a substitute.
  PyResult<YamlNode> represent_builtin(PyObject* obj, std::uint32_t depth, Place place, bool& replaced);
  PyResult<YamlNode> represent_with_default(PyObject* obj, std::uint32_t depth, Place place, bool& replaced);
  PyResult<YamlNode> represent_dataclass(PyObject* obj, std::vector<OwnedRef> names, std::uint32_t depth,
                                         Place place);
  PyResult<YamlNode> represent_mapping(std::vector<ObjectPair> pairs, std::uint32_t depth,
                                       const std::optional<std::string>& tag, FlowChoice flow, Place place);
  PyResult<YamlNode> represent_sequence(std::vector<OwnedRef> items, std::uint32_t depth,
                                        const std::optional<std::string>& tag, FlowChoice flow, Place place);
  // Whether a collection's children are in flow: the requested form (keys
  // always in flow), or inside a flow collection.
  bool children_in_flow(FlowChoice flow, Place place) const noexcept;
  void sort_pairs(std::vector<ObjectPair>& pairs);
  // A KestrineTag's value with its tag.
  PyResult<YamlNode> represent_tag_object(PyObject* tag_obj, std::uint32_t depth, Place place);
  PyResult<YamlNode> attach_tag(std::string_view tag, PyObject* value, std::uint32_t depth, Place place);
  PyResult<YamlNode> represent_serializer_result(PyObject* result, std::uint32_t depth, Place place);
  void untrack(std::uint64_t id) { seen_.erase(id); }

  // ---- descriptors (represent_results.cpp) ----------------------------------------
  PyResult<YamlNode> descriptor_to_node(PyObject* result, std::uint32_t depth, Place place);

  // ---- scalars and values (represent_values.cpp) -----------------------------------
  // A bool, int, float, bytes or str (subclasses included).
  PyResult<YamlNode> scalar_object_node(PyObject* obj, std::uint32_t depth, bool flow_or_key);
  // A string scalar node with the automatic style.
  YamlNode string_node(std::string_view text, bool flow_or_key) const;
  // A value tree (from the plain road's conversion) as nodes; under the
  // stack guard.
  YamlNode value_to_node(const YamlValue& value, bool flow_or_key);
  YamlNode value_to_node_guarded(const YamlValue& value, bool flow_or_key);
  // `obj` through the plain road's conversion, then value_to_node.
  PyResult<YamlNode> converted_node(PyObject* obj, const EncodeOptions& opt, std::uint32_t depth,
                                    bool flow_or_key);
};

// A scalar node built here: `synthetic`, no position, no comments.
inline YamlNode built_scalar(std::string text, ScalarStyle style) {
  YamlNode node;
  node.set_scalar(std::move(text), style);
  node.synthetic = true;
  return node;
}

// The items of a list, tuple, set or any iterable, as references taken
// before any of them is represented (representing runs Python code that may
// change the container).
PyResult<std::vector<OwnedRef>> collect_items(PyObject* obj);

}  // namespace kestrine
