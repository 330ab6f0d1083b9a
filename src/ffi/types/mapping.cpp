// The class `KestrineMapping`: its doc, its constructor arguments and its
// collection attribute; the rest is shared with the other collection
// descriptor (collection_descriptor.hpp).
#include "ffi/types/mapping.hpp"

#include "ffi/types/collection_descriptor.hpp"

namespace kestrine {
namespace {

constexpr const char kMappingDoc[] =
    "KestrineMapping(pairs, *, tag=None, flow=None, comment=None, comment_before=None, comment_after=None)\n--\n\nA mapping node descriptor returned by a `represent` callback: `(key, value)` pairs (the caller's own objects, each passed through `represent` again), an optional tag and a flow override.";

constexpr const char* kMappingParams[] = {"pairs", "tag", "flow", "comment", "comment_before", "comment_after"};
constexpr ArgSpec kMappingArgs{"KestrineMapping", kMappingParams, 6, 0, 1, 1};

PyObject* mapping_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return new_collection_descriptor(kMappingArgs, type, args, kwargs);
}

CollectionClass mapping_class{"kestrine.KestrineMapping", kMappingDoc, kMappingArgs,
                              "The (key, value) pairs, as given (a list or tuple).", mapping_new};

}  // namespace

const CollectionFields* mapping_fields(PyObject* obj) noexcept { return mapping_class.fields(obj); }

PyResult<PyTypeObject*> kestrine_mapping_type() noexcept { return mapping_class.type(); }

}  // namespace kestrine
