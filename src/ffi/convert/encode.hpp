// Python objects to value trees: what `dumps` and `to_json` write, and how a
// schema given as Python data becomes a tree.
//
//   PyEncoder encoder(EncodeOptions::from_option_bits(option, default_fn, serializers));
//   PyResult<YamlValue> root = encoder.convert(obj);   // lock held
//   ... write root (lock may be released) ...; encoder.release_refs();
//
// The conversion walks the object graph with the interpreter lock held and
// builds a `YamlValue` tree in an arena.  Exact built-in types are tested
// first (None, str, int, float, bool, list, dict), then subclasses, bytes,
// tuples, sets and `KestrineTag`; whatever is left goes to the caller's
// `serializers`, the duck-typed rules and the caller's `default`
// (ffi/convert/duck_rules.hpp).
//
// Texts: one of up to kCopyTextLimit bytes is copied into the arena (which
// costs less than a reference taken and dropped again, on an object long
// gone from the cache by then), as is the UTF-8 of every non-ASCII str that
// keeps none of its own (encoded here, straight from the interpreter's
// storage).  Longer texts (of an ASCII str, the UTF-8 a str keeps, of bytes)
// are referred to where they live.  The writers read them with the
// interpreter lock released, so what keeps them valid matters: not the
// caller's reference to the root (another thread may replace a list item
// meanwhile, freeing the str it held), but a strong reference the encoder
// holds to each owner until release_refs(); and the contents of a str or
// bytes object, a str's UTF-8 form included once made, never change while
// the object lives.  Nothing else of a Python object is read once convert()
// has returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "decode/value.hpp"
#include "ffi/py.hpp"
#include "util/hash_map.hpp"
#include "util/options.hpp"

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
inline constexpr const char* kDoubleTagMessage = "cannot attach a tag to a value that already carries a tag";
inline constexpr const char* kSerializerResultMessage =
    "a tags callback must return a KestrineTag or a (tag, value) tuple";

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

  // From now on a dict, list or tuple met again converts to the value made
  // the first time, which the tree then shares: a schema may place one
  // sub-schema object in many places, and copies would multiply with every
  // level that repeats one.  A container met again inside itself is not
  // finished: it is converted again, and runs into the depth limit.
  void convert_repeats_once() noexcept { convert_repeats_once_ = true; }

  ValueArena& arena() noexcept { return arena_; }
  const ValueArena& arena() const noexcept { return arena_; }
  // Bytes of the texts the tree refers to in place (not in the arena).
  std::size_t referred_text_bytes() const noexcept { return referred_text_bytes_; }
  // Drops the kept references.  Requires the interpreter lock.
  void release_refs() noexcept;

  // The steps that the rules of duck_rules.hpp build on.  `depth` is the
  // depth of `obj` itself (the caller adds one for a nested object).
  PyStatus convert_into(PyObject* obj, YamlValue& slot, const EncodeOptions& opt, std::uint32_t depth);
  // A str (subclasses included) as a String.
  PyStatus put_str(PyObject* str, YamlValue& slot);
  // What a `serializers` callable returned for an object at `depth`: a
  // KestrineTag or a (tag, value) tuple.
  PyStatus convert_serializer_result(PyObject* result, YamlValue& slot, const EncodeOptions& opt,
                                     std::uint32_t depth);

  // One list or dict walk in progress (encode_walk.hpp).
  class WalkScope;

 private:
  PyStatus put_int(PyObject* obj, YamlValue& slot);
  bool put_simple(PyObject* obj, YamlValue& slot);
  // A String over `text`, which lives in `owner` (a str or bytes object):
  // the encoder keeps a strong reference to `owner` until release_refs().
  YamlValue refer_text(PyObject* owner, std::string_view text);
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

  PyStatus convert_key(PyObject* key, YamlValue& slot, const EncodeOptions& opt, std::uint32_t depth);
  // A dict, list or tuple that may occur more than once: its value from
  // `converted_`, else converted and remembered.
  PyStatus convert_repeatable(PyObject* obj, YamlValue& slot, const EncodeOptions& opt, std::uint32_t depth);

  // A list or dict walk in progress (see encode_walk.hpp).
  static constexpr std::size_t kNoSnapshot = ~std::size_t{0};
  struct OpenWalk {
    PyObject* container;       // held by the walk
    bool is_dict;
    Py_ssize_t position = 0;   // list: index of the item converting; dict: PyDict_Next position before its pair
    std::size_t index = 0;     // items (pairs) finished before the one converting
    std::size_t snapshot = kNoSnapshot;  // where the copied references start in snapshot_
    std::size_t first = 0;     // `index` when the copy was taken
    std::size_t count = 0;     // references copied (two per pair)
  };
  // Copies the remaining item references of every open walk without a copy:
  // called before anything that may run Python code.
  void snapshot_open_walks();

  const EncodeOptions& options_;
  ValueArena arena_;
  std::vector<PyObject*> kept_;
  std::size_t referred_text_bytes_ = 0;
  std::vector<OpenWalk> walks_;        // outermost first
  std::size_t snapshotted_walks_ = 0;  // the first this many walks have their copy
  std::vector<PyObject*> snapshot_;    // the copies, outermost walk's first
  bool convert_repeats_once_ = false;
  // Containers converted so far in convert(), by address; each held, so
  // that no other object takes its address meanwhile.
  FlatHashMap<PyObject*, YamlValue> converted_;
  std::vector<OwnedRef> converted_held_;
};

// Checks a tag's text: an error value (KestrineEncodeError "invalid tag ...")
// when it cannot be written as given.  The text is never rewritten.
PyStatus check_tag(std::string_view tag);

// The text a tag is written as, checked (check_tag): a global tag, a URI
// that starts with its scheme ("tag:example.com,2000:app/foo", what a %TAG
// handle expands to on loading), in the verbatim form "!<...>", built in
// `storage`, which reads back as the same tag; any other tag as given.
PyResult<std::string_view> written_tag(std::string_view tag, std::string& storage);

// The tag of a (tag, value) pair that a `serializers` callable returned: its
// text, or TypeError when it is not a str.
PyResult<std::string_view> serializer_tag_text(PyObject* tag);

}  // namespace kestrine
