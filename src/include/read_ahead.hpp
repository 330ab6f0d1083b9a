// The files of a directory tag read and composed ahead of their turn, on a
// few threads, while the calling thread takes them in listing order.
//
//   ReadAhead ahead(ctx, entries);
//   for (std::size_t i = 0; i < entries.size(); ++i) {
//     KESTRINE_ASSIGN_OR_RETURN(LoadedFile file, ahead.load(i, chain));
//     ... walk file.documents (may load other files through ctx) ...
//   }
//   // ~ReadAhead: the threads stop and are joined
//
// `load(i)` gives what load_include_file(ctx, entries[i].path,
// entries[i].path, chain) would give at that point, whoever read the file:
// the count against the per-load limit, the registration in the source-file
// table and every error happen on the calling thread, at the file's turn,
// so the table, the count and the first error in listing order are those of
// loading the files one by one.  The threads only read (beneath the root,
// as the calling thread does) and compose, each into list chunks of its
// own; nothing else of the context is theirs.  A file is composed with the
// number it will get if the walks of the files before it register nothing;
// when one did, its tree is renumbered at its turn.  Each file is read once.
//
// Threads pay only for much text: they start once the files taken so far
// promise enough of it, never for files past the per-load limit, and not
// while another ReadAhead of the load has threads (a directory tag inside a
// file of another is read by the calling thread), so a load runs at most
// kReadAheadThreads of them.  `entries` and the context outlive the object.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>
#include <vector>

#include "include/context.hpp"
#include "include/listing.hpp"
#include "include/loader.hpp"

namespace kestrine {

inline constexpr std::size_t kReadAheadThreads = 3;

class ReadAhead {
 public:
  ReadAhead(IncludeContext& ctx, std::span<const IncludeDirEntry> entries);
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  ~ReadAhead();

  // Entry `index`; called for 0, 1, 2, ... in turn (stopping at the first
  // error).
  LoadResult<LoadedFile> load(std::size_t index, std::span<const IncludeFrame> chain);

 private:
  struct Slot;

  bool claim(std::size_t index) noexcept;
  bool claim_next(std::size_t& index) noexcept;
  LoadResult<LoadedFile> take(std::size_t index, std::span<const IncludeFrame> chain);
  void consider_threads(std::size_t next);
  void run() noexcept;
  void fill(std::size_t index, ListArena& arena) noexcept;

  IncludeContext& ctx_;
  const IncludeRoot& root_;  // all of the context the threads touch
  std::span<const IncludeDirEntry> entries_;
  std::size_t limit_;                // entries the per-load file limit leaves room for
  std::size_t bytes_ = 0;            // text of the files loaded before threads were considered
  bool considered_ = false;          // the decision about threads is made once
  bool owns_threads_ = false;        // this object set ctx_.reading_ahead
  std::unique_ptr<Slot[]> slots_;    // one per entry once threads start
  std::atomic<std::size_t> next_{0};  // the first entry nobody has taken
  // The number entry j gets when nothing else registers before it: base + j.
  std::atomic<std::uint32_t> id_base_{0};
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

}  // namespace kestrine
