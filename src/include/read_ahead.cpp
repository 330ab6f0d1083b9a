#include "include/read_ahead.hpp"

#include <algorithm>
#include <exception>
#include <expected>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "roundtrip/composer.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// Threads are considered once the files loaded so far hold this much text,
// and started when, at their average size, the files left promise
// kReadAheadFrom more: below that, starting them costs about what they save.
constexpr std::size_t kReadAheadProbe = 64 * 1024;
constexpr std::size_t kReadAheadFrom = 256 * 1024;

// The positions in file `from` now point into file `to`.  Composing puts
// the file number in node spans only, and nothing else it does depends on
// it, so the trees become those composed as file `to`.
void renumber(std::span<YamlNode> roots, std::uint32_t from, std::uint32_t to) {
  std::vector<YamlNode*> pending;
  for (YamlNode& root : roots) pending.push_back(&root);
  while (!pending.empty()) {
    YamlNode* node = pending.back();
    pending.pop_back();
    if (node->span.file_id == from) node->span.file_id = to;
    for (YamlNode& item : node->items()) pending.push_back(&item);
    for (NodePair& pair : node->pairs()) {
      pending.push_back(&pair.key);
      pending.push_back(&pair.value);
    }
  }
}

}  // namespace

// What one thread made of one entry: written before `ready` is set, read by
// the calling thread after it saw it set.
struct ReadAhead::Slot {
  std::atomic<bool> ready{false};
  std::expected<IncludedText, OpenFailure> text;
  std::optional<std::expected<ComposedStream, ComposeError>> composed;  // when read
  std::uint32_t file_id = 0;  // the number the trees were composed with
  std::exception_ptr failure;
};

ReadAhead::ReadAhead(IncludeContext& ctx, std::span<const IncludeDirEntry> entries)
    : ctx_(ctx),
      root_(ctx.root),
      entries_(entries),
      limit_(std::min<std::uint64_t>(entries.size(),
                                     kMaxIncludedFiles - std::min(ctx.expansion_count, kMaxIncludedFiles))) {}

ReadAhead::~ReadAhead() {
  stop_.store(true, std::memory_order_relaxed);
  for (std::thread& thread : threads_) thread.join();
  if (owns_threads_) ctx_.reading_ahead = false;
}

LoadResult<LoadedFile> ReadAhead::load(std::size_t index, std::span<const IncludeFrame> chain) {
  // What the walks of the files before this one registered shifts the
  // numbers of this file and those after it.
  id_base_.store(static_cast<std::uint32_t>(ctx_.sources.names.size() - index), std::memory_order_relaxed);
  if (!claim(index)) return take(index, chain);
  const IncludeDirEntry& entry = entries_[index];
  KESTRINE_ASSIGN_OR_RETURN(LoadedFile loaded, load_include_file(ctx_, entry.path, entry.path, chain));
  if (!considered_) {
    bytes_ += ctx_.sources.texts[loaded.file_id]->size();
    consider_threads(index + 1);
  }
  return loaded;
}

// Takes `index` for the calling thread unless a thread has it.
bool ReadAhead::claim(std::size_t index) noexcept {
  std::size_t expected = index;
  return next_.compare_exchange_strong(expected, index + 1, std::memory_order_relaxed);
}

// Takes the first entry nobody has taken, if one within the limit is left.
bool ReadAhead::claim_next(std::size_t& index) noexcept {
  index = next_.load(std::memory_order_relaxed);
  do {
    if (index >= limit_) return false;
  } while (!next_.compare_exchange_weak(index, index + 1, std::memory_order_relaxed));
  return true;
}

// The steps of load_include_file over what was read and composed ahead.
LoadResult<LoadedFile> ReadAhead::take(std::size_t index, std::span<const IncludeFrame> chain) {
  Slot& slot = slots_[index];
  // Rather than wait for the thread that has it, the calling thread reads
  // ahead too.
  std::size_t other = 0;
  while (!slot.ready.load(std::memory_order_acquire) && claim_next(other)) fill(other, *ctx_.lists);
  slot.ready.wait(false, std::memory_order_acquire);
  const std::string& path = entries_[index].path;
  KESTRINE_TRY(count_included_file(ctx_, path, chain));
  if (slot.failure) std::rethrow_exception(slot.failure);
  if (!slot.text) return std::unexpected(read_error(path, path, slot.text.error(), chain));
  KESTRINE_TRY(charge_included_text(ctx_, *slot.text, path, chain));
  const std::uint32_t file_id = register_source(ctx_, path, std::move(slot.text->text));
  auto& composed = *slot.composed;
  if (file_id != slot.file_id) {
    if (composed) {
      renumber(composed->roots, slot.file_id, file_id);
    } else if (composed.error().span.file_id == slot.file_id) {
      composed.error().span.file_id = file_id;
    }
  }
  return composed_file(ctx_, file_id, std::move(composed), path, chain);
}

void ReadAhead::consider_threads(std::size_t next) {
  if (bytes_ < kReadAheadProbe) return;
  considered_ = true;
  if (next >= limit_ || bytes_ / next * (limit_ - next) < kReadAheadFrom || ctx_.reading_ahead) return;
  const unsigned cores = std::thread::hardware_concurrency();
  const std::size_t count = std::min({kReadAheadThreads, std::size_t{cores > 1 ? cores - 1 : 0}, limit_ - next});
  if (count == 0) return;
  try {
    slots_ = std::make_unique<Slot[]>(limit_);
    threads_.reserve(count);
  } catch (const std::bad_alloc&) {
    slots_.reset();  // no room to read ahead: the files are loaded one by one
    return;
  }
  ctx_.reading_ahead = owns_threads_ = true;
  try {
    for (std::size_t i = 0; i < count; ++i) threads_.emplace_back([this] { run(); });
  } catch (const std::system_error&) {
    // Fewer threads (or none): the calling thread loads what they leave.
  }
}

void ReadAhead::run() noexcept {
  ListArena arena;
  std::size_t index = 0;
  while (!stop_.load(std::memory_order_relaxed) && claim_next(index)) fill(index, arena);
}

void ReadAhead::fill(std::size_t index, ListArena& arena) noexcept {
  Slot& slot = slots_[index];
  try {
    slot.text = read_included_text(root_, entries_[index].path);
    if (slot.text) {
      slot.file_id = id_base_.load(std::memory_order_relaxed) + static_cast<std::uint32_t>(index);
      slot.composed.emplace(compose_text(slot.text->text, slot.file_id, /*empty_document_as_null=*/false, &arena));
    }
  } catch (...) {
    slot.failure = std::current_exception();
  }
  slot.ready.store(true, std::memory_order_release);
  slot.ready.notify_one();
}

}  // namespace kestrine
