// Python objects to value trees: what `dumps` and `to_json` write, and how a
// schema given as Python data becomes a tree.
//
// The conversion walks the object graph with the interpreter lock held and
// builds a `YamlValue` tree in an arena.  Exact built-in types are tested
// first (None, str, int, float, bool, list, dict), then subclasses, bytes,
// tuples, sets, `KestrineTag`, the caller's `serializers`, the duck-typed
// rules (datetimes, enumerations, dataclasses, numpy, UUID, Decimal,
// path-like objects) and finally the caller's `default`.
//
// Texts: ASCII strings up to kCopyTextLimit bytes and every non-ASCII string
// (encoded here, straight from the interpreter's storage) are copied into the
// arena.  Longer ASCII strings and bytes are referred to where they live, and
// the encoder keeps a strong reference to each of them, so the tree stays
// valid while the writers run without the interpreter lock, whatever other
// threads or callbacks do to the original containers meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/value.hpp"
#include "ffi/options.hpp"
#include "ffi/py.hpp"

namespace kestrine {

// The context of one conversion.  All fields zero/absent is valid (what
// schema conversion uses).
struct EncodeOptions {
  PyObject* default_fn = nullptr;   // borrowed; `default`, absent when None
  PyObject* serializers = nullptr;  // borrowed dict; `serializers` (dumps only)
  std::uint32_t depth = 0;          // depth of the root object
  bool serialize_numpy = false;
  bool omit_microseconds = false;
  bool naive_utc = false;
  bool utc_z = false;
  bool passthrough_datetime = false;
  bool passthrough_dataclass = false;

  static EncodeOptions from_option_bits(Options option, PyObject* default_fn,
                                        PyObject* serializers) noexcept;
};

// Objects nested deeper than this (the root being depth 0) are refused.
inline constexpr std::uint32_t kMaxEncodeDepth = 999;
// ASCII texts up to this length are copied into the tree; longer ones are
// referred to in place (and their objects kept alive).
inline constexpr std::size_t kCopyTextLimit = 512;

inline constexpr const char* kTooDeepMessage =
    "object is too deeply nested to serialize (possible self-reference)";

// One conversion: owns the tree's arena and the references that keep the
// borrowed texts alive.  Destroy it (or call release_refs) with the
// interpreter lock held; the arena alone may be released without it.
class PyEncoder {
 public:
  explicit PyEncoder(const EncodeOptions& options, std::size_t first_chunk_bytes = 16 * 1024);
  ~PyEncoder();
  PyEncoder(const PyEncoder&) = delete;
  PyEncoder& operator=(const PyEncoder&) = delete;

  // Converts `obj` (at the options' depth).  The result lives in arena().
  PyResult<YamlValue> convert(PyObject* obj);

  ValueArena& arena() noexcept { return arena_; }
  // Drops the kept references.  Requires the interpreter lock.
  void release_refs() noexcept;

  // Internal steps, public for the rule helpers in encode.cpp.
  PyStatus convert_into(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                        std::uint32_t depth);
  PyStatus put_str(PyObject* str, YamlValue& slot);
  PyStatus put_int(PyObject* obj, YamlValue& slot);
  bool put_simple(PyObject* obj, YamlValue& slot);
  void keep(PyObject* obj);  // adds a strong reference kept until release

 private:
  PyStatus convert_slow(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                        std::uint32_t depth);
  PyStatus convert_list(PyObject* list, YamlValue& slot, const EncodeOptions& opt,
                        std::uint32_t depth);
  PyStatus convert_tuple(PyObject* tuple, YamlValue& slot, const EncodeOptions& opt,
                         std::uint32_t depth);
  PyStatus convert_dict(PyObject* dict, YamlValue& slot, const EncodeOptions& opt,
                        std::uint32_t depth);
  PyStatus convert_ordered_dict(PyObject* dict, YamlValue& slot, const EncodeOptions& opt,
                                std::uint32_t depth);
  PyStatus convert_iterable(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                            std::uint32_t depth);
  PyStatus convert_tag(PyObject* tag_obj, YamlValue& slot, const EncodeOptions& opt,
                       std::uint32_t depth);
  PyStatus convert_tagged(PyObject* tag, PyObject* value, YamlValue& slot,
                          const EncodeOptions& opt, std::uint32_t depth);
  PyStatus convert_serializer_result(PyObject* result, YamlValue& slot, const EncodeOptions& opt,
                                     std::uint32_t depth);
  // The duck-typed rules: true when one of them took the object.
  PyResult<bool> convert_fallback(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                  std::uint32_t depth);
  PyStatus convert_dataclass(PyObject* obj, PyObject* fields, YamlValue& slot,
                             const EncodeOptions& opt, std::uint32_t depth);
  PyStatus convert_decimal(PyObject* obj, YamlValue& slot);

  const EncodeOptions& options_;
  ValueArena arena_;
  std::vector<PyObject*> kept_;
};

// The rules that the representer reuses, and the tag check.

// Checks a tag's text: an error value (KestrineEncodeError "invalid tag ...")
// when it cannot be written as given.  The text is never rewritten.
PyStatus check_tag(std::string_view tag);

// The datetime rule: a `String` for objects with an `isoformat` method
// (rewritten under the microsecond and zone options), nothing when the rule
// does not apply.
PyResult<std::optional<YamlValue>> datetime_to_value(PyObject* obj, const EncodeOptions& opt,
                                                     ValueArena& arena);
// True for members of enumerations (metaclass named EnumType or EnumMeta).
bool is_enum_member(PyObject* obj) noexcept;
// With numpy importable: the `tolist()` (or `item()`) of an array or numpy
// scalar as a new reference; an empty reference when the rule does not apply.
PyResult<OwnedRef> numpy_to_value(PyObject* obj);

// Debug-quoted form of a text ("\"a\\tb\""), as the messages show texts.
std::string debug_quoted(std::string_view text);
// The same for one character ('\''), `ch` a code point.
std::string debug_quoted_char(char32_t ch);

}  // namespace kestrine
