// Argument reading shared by the node descriptor classes (`KestrineScalar`,
// `KestrineSequence`, `KestrineMapping`): optional texts, the comment
// checks, the `flow` flag and the collection argument; and the getters of
// the tag and comment attributes they all have.
#pragma once

#include <optional>
#include <string>

#include "ffi/args.hpp"
#include "ffi/py.hpp"

namespace kestrine {

// The tag and comment fields every descriptor carries.
struct DescriptorText {
  std::optional<std::string> tag;
  std::optional<std::string> comment;         // one line
  std::optional<std::string> comment_before;  // lines joined with "\n"
  std::optional<std::string> comment_after;   // lines joined with "\n"
};

// A required str argument, as UTF-8; TypeError naming it otherwise.
PyResult<std::string> text_argument(PyObject* arg, const char* fname, const char* name);
// A str or None (or absent) argument.
PyResult<std::optional<std::string>> optional_text_argument(PyObject* arg, const char* fname,
                                                            const char* name);
// A bool (numpy booleans accepted) or None (or absent).
PyResult<std::optional<bool>> flow_argument(PyObject* arg, const char* fname) noexcept;

// Extracts `comment`, `comment_before` and `comment_after` (type checks
// only); `tag` is left for the caller.
PyResult<DescriptorText> extract_comments(PyObject* comment, PyObject* comment_before,
                                          PyObject* comment_after, const char* fname);
// Then checks the inline comment and normalises the two comment blocks
// (by the rules of roundtrip/comments/comment_text.hpp).
PyStatus normalize_comments(DescriptorText& text);

// A list or tuple (subclasses included) as it is; anything else through
// list().
PyResult<OwnedRef> coerce_to_list(PyObject* obj) noexcept;

// The fields of `KestrineMapping` and `KestrineSequence` (one layout).
struct CollectionFields {
  OwnedRef collection;       // `pairs` / `items`: a list or tuple
  DescriptorText text;       // tag and comments
  std::optional<bool> flow;  // absent: automatic
};

// The constructor of both collection descriptors: `spec` names the
// collection parameter first, then tag, flow, comment, comment_before and
// comment_after.
PyResult<CollectionFields> collection_fields_from_args(const ArgSpec& spec, PyObject* args,
                                                       PyObject* kwargs);

// The `__reduce__` of a descriptor, for pickle and copy: its class made
// again (through copyreg.__newobj_ex__) from `value` (the required argument)
// and the keyword arguments `tag`, the comments and `extra` (name, value).
PyResult<OwnedRef> reduce_descriptor(PyObject* self, PyObject* value, const DescriptorText& text,
                                     const char* extra_name, PyObject* extra_value);

// The `tag`, `comment`, `comment_before` and `comment_after` attributes of a
// descriptor class whose instances hold their DescriptorText at `TextOf`.
template <const DescriptorText& (*TextOf)(PyObject*) noexcept>
struct DescriptorTextGetters {
  static PyObject* tag(PyObject* self, void*) noexcept { return text_or_none(TextOf(self).tag); }
  static PyObject* comment(PyObject* self, void*) noexcept { return text_or_none(TextOf(self).comment); }
  static PyObject* comment_before(PyObject* self, void*) noexcept {
    return text_or_none(TextOf(self).comment_before);
  }
  static PyObject* comment_after(PyObject* self, void*) noexcept {
    return text_or_none(TextOf(self).comment_after);
  }

  static constexpr PyGetSetDef kTag{"tag", tag, nullptr, "The explicit tag, or None.", nullptr};
  static constexpr PyGetSetDef kComment{"comment", comment, nullptr, "The inline comment, or None.", nullptr};
  static constexpr PyGetSetDef kCommentBefore{"comment_before", comment_before, nullptr,
                                              "The comment lines above the node, or None.", nullptr};
  static constexpr PyGetSetDef kCommentAfter{"comment_after", comment_after, nullptr,
                                             "The comment lines after the node, or None.", nullptr};

 private:
  static PyObject* text_or_none(const std::optional<std::string>& text) noexcept {
    return py_entry([&] { return optional_str(text); });
  }
};

}  // namespace kestrine
