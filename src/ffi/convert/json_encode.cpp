#include "ffi/convert/json_encode.hpp"

#include <atomic>
#include <cstddef>
#include <string>
#include <utility>

#include "ffi/errors.hpp"
#include "ffi/output_buffer.hpp"
#include "util/text_sink.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// The arena chunks of a thread's last call, kept for its next one (see
// ValueArena::release_keeping): a tree takes two to three times the bytes
// of its JSON text, all of it fresh memory otherwise.  Up to 16 MiB a
// thread and 64 MiB over all threads are kept (a soft limit: threads that
// keep at the same moment may pass it by a little).
class KeptArena {
 public:
  KeptArena() noexcept = default;
  KeptArena(const KeptArena&) = delete;
  KeptArena& operator=(const KeptArena&) = delete;
  ~KeptArena() { all_kept_.fetch_sub(kept_, std::memory_order_relaxed); }

  // The kept chunks, for a new tree (an empty arena when a call under way
  // on this thread has them).
  ValueArena take() noexcept {
    all_kept_.fetch_sub(std::exchange(kept_, 0), std::memory_order_relaxed);
    return std::move(arena_);
  }
  // Frees the trees of `arena`, keeping what the limits allow.
  void keep(ValueArena& arena) noexcept {
    all_kept_.fetch_sub(std::exchange(kept_, 0), std::memory_order_relaxed);
    arena_.release();  // a nested call's chunks
    const std::size_t others = all_kept_.load(std::memory_order_relaxed);
    const std::size_t room = others < kAllThreads ? kAllThreads - others : 0;
    kept_ = arena.release_keeping(room < kPerThread ? room : kPerThread);
    all_kept_.fetch_add(kept_, std::memory_order_relaxed);
    arena_ = std::move(arena);
  }

 private:
  static constexpr std::size_t kPerThread = std::size_t(16) << 20;
  static constexpr std::size_t kAllThreads = std::size_t(64) << 20;
  static inline std::atomic<std::size_t> all_kept_{0};
  ValueArena arena_;
  std::size_t kept_ = 0;
};
thread_local KeptArena t_kept_arena;

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
  encoder.arena() = t_kept_arena.take();
  KESTRINE_ASSIGN_OR_RETURN(const YamlValue root, encoder.convert(obj));
  const std::size_t estimate = json_size_estimate(encoder, json);
  OutputBuffer buffer;
  std::string& text = buffer.text();
  // The tree refers only to the arena and to texts of str and bytes objects
  // that the encoder holds strong references to (encode.hpp): nothing
  // another thread does to the containers while the lock is released can
  // free or change what the writer reads.
  const auto write = [&] {
    if (text.capacity() < estimate) text.reserve(estimate);
    StringSink out(text);
    const bool ok = write_json_value(out, root, json, 0);
    out.finish();
    t_kept_arena.keep(encoder.arena());
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
