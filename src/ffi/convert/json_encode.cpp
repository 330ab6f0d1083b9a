#include "ffi/convert/json_encode.hpp"

#include <cstddef>
#include <string>
#include <utility>

#include "ffi/errors.hpp"
#include "ffi/output_buffer.hpp"
#include "util/text_sink.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// A first capacity for the text of a converted tree.  The arena holds
// sixteen bytes per value (thirty-two per member) and a copy of every short
// text, the texts referred to in place are counted apart, and JSON takes a
// few bytes per value besides its texts: half the arena is close to the
// text's size for most data.  Indentation adds up to `indent` bytes per
// level on every line, guessed at four levels.  Falling short costs a copy
// of the text written so far (the buffer doubles).
std::size_t json_size_estimate(PyEncoder& encoder, const JsonOptions& json) noexcept {
  const std::size_t tree = encoder.arena().bytes_used() / 2 + encoder.referred_text_bytes();
  return tree + tree / 8 * json.indent;
}

}  // namespace

PyResult<OwnedRef> py_to_json_bytes(PyObject* obj, const EncodeOptions& options, const JsonOptions& json) {
  PyEncoder encoder(options);
  KESTRINE_ASSIGN_OR_RETURN(const YamlValue root, encoder.convert(obj));
  const std::size_t estimate = json_size_estimate(encoder, json);
  OutputBuffer buffer;
  LargeText& text = buffer.text();
  // The tree refers only to the arena and to texts of str and bytes objects
  // that the encoder holds strong references to (encode.hpp): nothing
  // another thread does to the containers while the lock is released can
  // free or change what the writer reads.
  const auto write = [&] {
    if (text.capacity() < estimate) text.reserve(estimate);
    StringSink out(text);
    const bool ok = write_json_value(out, root, json, 0);
    out.finish();
    encoder.arena().release();  // off the lock for a large tree
    return ok;
  };
  // A small text is written faster than the lock is handed over and back
  // (and a thread that took it meanwhile may keep this one waiting for a
  // whole switch interval).
  const bool written = estimate >= kFreeOffLockBytes ? without_gil(write) : write();
  encoder.release_refs();
  if (!written) return fail(encode_error_to_py(kJsonCollectionKeyError));
  return new_bytes(text);
}

}  // namespace kestrine
