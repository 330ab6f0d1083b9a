// The class `KestrineSequence`: its doc, its constructor arguments and its
// collection attribute; the rest is shared with the other collection
// descriptor (collection_descriptor.hpp).
#include "ffi/types/sequence.hpp"

#include "ffi/types/collection_descriptor.hpp"

namespace kestrine {
namespace {

constexpr const char kSequenceDoc[] =
    "KestrineSequence(items, *, tag=None, flow=None, comment=None, comment_before=None, comment_after=None)\n--\n\nA sequence node descriptor returned by a `represent` callback: items that are passed through `represent` the same way, an optional tag and an optional flow override.";

constexpr const char* kSequenceParams[] = {"items", "tag", "flow", "comment", "comment_before", "comment_after"};
constexpr ArgSpec kSequenceArgs{"KestrineSequence", kSequenceParams, 6, 0, 1, 1};

PyObject* sequence_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return new_collection_descriptor(kSequenceArgs, type, args, kwargs);
}

CollectionClass sequence_class{"kestrine.KestrineSequence", kSequenceDoc, kSequenceArgs,
                               "The items, as given (a list or tuple).", sequence_new};

}  // namespace

const CollectionFields* sequence_fields(PyObject* obj) noexcept { return sequence_class.fields(obj); }

PyResult<PyTypeObject*> kestrine_sequence_type() noexcept { return sequence_class.type(); }

}  // namespace kestrine
