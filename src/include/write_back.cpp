#include "include/write_back.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "include/confine.hpp"
#include "include/loader.hpp"
#include "include/paths.hpp"
#include "roundtrip/compose/composer.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

template <class T>
using WriteBackResult = std::expected<T, WriteBackError>;

std::unexpected<WriteBackError> refuse(WriteBackError::Kind kind, std::string message, std::string file = {}) {
  return std::unexpected(WriteBackError{kind, std::move(message), std::move(file)});
}

// One node that stands for an included file.
struct IncludeRecord {
  const YamlNode* node = nullptr;
  std::uint32_t file_id = 0;
  bool edited = false;
};

// One step of the path from a root to a node, for messages.
struct PathStep {
  const YamlNode* key = nullptr;  // null for a sequence index
  std::size_t index = 0;
};

// "$", then ".key" per mapping step and "[i]" per sequence step.
std::string format_path(std::size_t root, std::size_t roots, std::span<const PathStep> steps) {
  std::string out = roots > 1 ? "$[" + std::to_string(root) + "]" : "$";
  for (const PathStep& step : steps) {
    if (step.key == nullptr) {
      out += "[" + std::to_string(step.index) + "]";
    } else {
      out += '.';
      out += step.key->is_scalar() ? std::string_view(step.key->text()) : std::string_view("?");
    }
  }
  return out;
}

// Finds the included subtrees of a document and whether each was edited
// within its own file; refuses an edit that lies where no file holds it.
class IncludeWalk {
 public:
  IncludeWalk(std::size_t roots) : roots_(roots) {}

  WriteBackResult<void> walk_root(const YamlNode& root, std::size_t index) {
    root_ = index;
    KESTRINE_TRY(walk(root));
    return {};
  }
  std::vector<IncludeRecord>& records() noexcept { return records_; }
  // The files read whole for content that names none of them
  // (IncludeSource::content_files): their text must stay as read.
  std::span<const std::uint32_t> kept_files() const noexcept { return kept_files_; }

 private:
  // Whether the node or something below it, within the file the node was
  // read from, is modified.  A node from another file answers for its own
  // file here and reports to its parent only an edit of its directive.
  WriteBackResult<bool> walk(const YamlNode& node) {
    return stack_guarded([&]() -> WriteBackResult<bool> {
      const IncludeSource* source = node.source();
      std::optional<std::size_t> record;
      if (source != nullptr && source->target_file_id) {
        record = records_.size();
        records_.push_back(IncludeRecord{&node, *source->target_file_id, false});
      }
      if (source != nullptr)
        kept_files_.insert(kept_files_.end(), source->content_files.begin(), source->content_files.end());
      // A node that replaced a directive answers for its content here; its
      // own flag marks the directive, in the file that names it.
      bool modified = content_modified(node);
      const auto items = node.items();
      for (std::size_t i = 0; i < items.size(); ++i) {
        KESTRINE_ASSIGN_OR_RETURN(const bool below, child(items[i], PathStep{nullptr, i}));
        modified = modified || below;
      }
      for (const NodePair& pair : node.pairs()) {
        KESTRINE_ASSIGN_OR_RETURN(const bool key, child(pair.key, PathStep{&pair.key, 0}));
        KESTRINE_ASSIGN_OR_RETURN(const bool value, child(pair.value, PathStep{&pair.key, 0}));
        modified = modified || key || value;
      }
      if (source == nullptr) return modified;
      if (const char* reason = content_without_file(node); modified && reason != nullptr) {
        return refuse(WriteBackError::Kind::EditWithoutFile,
                      "cannot write back the edit at " + format_path(root_, roots_, path_) + ": it lies under '" +
                          source->tag + " " + source->target + "', " + reason);
      }
      if (record) records_[*record].edited = modified;
      // Its own flag marks the directive, written in the parent's file.
      return node.comments.modified;
    });
  }

  // Leaves without anchor, tag or source, most of every tree, need no call.
  WriteBackResult<bool> child(const YamlNode& node, PathStep step) {
    if (!node.is_collection() && node.extra() == nullptr) return node.comments.modified;
    path_.push_back(step);
    auto result = walk(node);
    path_.pop_back();
    return result;
  }

  std::size_t roots_;
  std::size_t root_ = 0;
  std::vector<PathStep> path_;
  std::vector<IncludeRecord> records_;
  std::vector<std::uint32_t> kept_files_;
};

std::unexpected<WriteBackError> later_documents_refused(std::string_view path) {
  return refuse(WriteBackError::Kind::LaterDocuments,
                "cannot write back " + std::string(path) +
                    ": its edited first document cannot be written before the documents that follow it without "
                    "changing them",
                std::string(path));
}

bool ends_with_line_break(std::string_view text) noexcept {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

// Whether `text`, composed again, has its first document end by `end`,
// where the text kept as read begins, and the next one begin in that text
// (so that the kept text reads as it did: it is read from the same state,
// between two documents).  A first document that runs into the kept text (a
// block scalar keeping its blank lines) or a second one that begins before
// it fails.
bool first_document_ends_by(std::string_view text, std::uint32_t file_id, std::size_t end) {
  auto composed = compose_text(text, file_id, /*empty_document_as_null=*/false);
  if (!composed || composed->roots.empty()) return false;
  std::optional<std::size_t> second;
  if (composed->document_starts.size() > 1) second = composed->document_starts[1];
  if (second && *second < end) return false;
  const std::optional<std::size_t> first_end = later_text_of(text, file_id, composed->roots, second);
  return first_end && *first_end <= end;
}

// The new text of an edited included file read as `text` (see the header).
WriteBackResult<std::string> render_included_file(const YamlNode& node, std::uint32_t file_id, std::string_view text,
                                                  std::string_view path) {
  const std::optional<std::size_t> later = node.source()->later_text;
  if (node.span.file_id != file_id) {
    // The file holds no document: the content is new, after its lines.
    std::string content = emit_include_subtree(node, text);
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return content;
    std::string out(text);
    if (!ends_with_line_break(out)) out += line_break_bytes(first_line_break(text));
    return out + content;
  }
  if (!later) return emit_include_subtree(node, text);
  // Where the first document ends is not known (kUnknownOffset).
  if (*later > text.size()) return later_documents_refused(path);
  std::string out = emit_include_subtree(node, text.substr(0, *later), text.substr(*later));
  if (!ends_with_line_break(out)) return later_documents_refused(path);
  const std::size_t end = out.size();
  out += text.substr(*later);
  if (!first_document_ends_by(out, file_id, end)) return later_documents_refused(path);
  return out;
}

std::unexpected<WriteBackError> conflicting_edits(const std::string& path) {
  return refuse(WriteBackError::Kind::ConflictingEdits,
                "'" + path +
                    "' is included more than once with conflicting edits; write-back cannot store two different "
                    "versions of one file",
                path);
}

std::unexpected<WriteBackError> edited_at_some_places(const std::string& path) {
  return refuse(WriteBackError::Kind::ConflictingEdits,
                "'" + path +
                    "' is included more than once and edited at only some of those places; write-back cannot "
                    "store two different versions of one file",
                path);
}

// Merges the includes of one file into one planned file (see the header).
// Each include reads the file again after the write: the includes added
// must agree, and a file kept (read as read) must not change.
class PlanMerger {
 public:
  explicit PlanMerger(const DocumentRecord& doc) : doc_(doc) {}

  WriteBackResult<void> add(const IncludeRecord& record) {
    if (record.file_id >= doc_.source_names.size()) return {};
    KESTRINE_ASSIGN_OR_RETURN(PlannedFile file, planned(record));
    std::string path = normalize_path(file.path);
    if (file.edited) edited_names_.insert(file_name_of(path));
    auto [slot, inserted] = index_.try_emplace(std::move(path), plan_.files.size());
    if (inserted) {
      plan_.files.push_back(std::move(file));
      read_as_.push_back(text_as_read(record.file_id));
      return {};
    }
    PlannedFile& earlier = plan_.files[slot->second];
    if (earlier.text() == file.text()) {
      earlier.edited = earlier.edited || file.edited;
    } else if (earlier.edited && file.edited) {
      return conflicting_edits(earlier.path);
    } else if (earlier.edited || file.edited) {
      return edited_at_some_places(earlier.path);
    }
    // Two readings of an unedited file that differ (it changed while the
    // load read it): the first stays.
    return {};
  }

  // A file read as read (an unedited include that was not added, a file a
  // directive read whole) is read again after the write: an edit of it
  // elsewhere must leave it as it was.
  WriteBackResult<void> keep(std::uint32_t file_id) const {
    const std::string* as_read = text_as_read(file_id);
    if (as_read == nullptr || !may_be_edited(doc_.source_names[file_id])) return {};
    const std::optional<std::size_t> at = planned_at(doc_.source_names[file_id]);
    if (at && plan_.files[*at].edited && plan_.files[*at].text() != *as_read)
      return edited_at_some_places(plan_.files[*at].path);
    return {};
  }

  // A secrets file that an include changes would change the secrets read
  // from it, or found in it instead of further up.
  WriteBackResult<void> check_secrets_files() const {
    for (std::size_t id = 0; id < doc_.source_names.size() && id < doc_.source_texts.size(); ++id) {
      // Secrets files are named without their text.
      if (doc_.source_texts[id] || !may_be_edited(doc_.source_names[id])) continue;
      const std::optional<std::size_t> at = planned_at(doc_.source_names[id]);
      if (!at || !changed(*at)) continue;
      const std::string& path = plan_.files[*at].path;
      return refuse(WriteBackError::Kind::ConflictingEdits,
                    "'" + path +
                        "' is included and also read for !secret values; write-back cannot change it without "
                        "changing those values",
                    path);
    }
    return {};
  }

  WriteBackPlan take() { return std::move(plan_); }

 private:
  const std::string* text_as_read(std::uint32_t file_id) const noexcept {
    if (file_id >= doc_.source_names.size() || file_id >= doc_.source_texts.size()) return nullptr;
    const std::optional<std::string>& text = doc_.source_texts[file_id];
    return text ? &*text : nullptr;
  }

  // Whether `path` may be that of an edited file.  Equal paths end in the
  // same file name, so most includes are told apart by their name alone,
  // without normalising their paths: a save of one edited file among
  // thousands of includes stays cheap.
  bool may_be_edited(std::string_view path) const {
    const std::string_view name = file_name_of(path);
    if (name.empty() || name == "." || name == "..") return !edited_names_.empty();
    return edited_names_.contains(name);
  }

  std::optional<std::size_t> planned_at(const std::string& path) const {
    const auto slot = index_.find(normalize_path(path));
    if (slot == index_.end()) return std::nullopt;
    return slot->second;
  }

  // Edited, to a text other than the one read.
  bool changed(std::size_t at) const {
    const PlannedFile& file = plan_.files[at];
    return file.edited && (read_as_[at] == nullptr || *read_as_[at] != file.text());
  }

  WriteBackResult<PlannedFile> planned(const IncludeRecord& record) const {
    PlannedFile file;
    file.path = doc_.source_names[record.file_id];
    file.edited = record.edited;
    if (const std::string* as_read = text_as_read(record.file_id)) {
      if (!record.edited) {
        file.as_read = as_read;
      } else {
        KESTRINE_ASSIGN_OR_RETURN(file.rendered,
                                  render_included_file(*record.node, record.file_id, *as_read, file.path));
      }
    } else if (record.node->source()->later_text) {
      return later_documents_refused(file.path);
    } else {
      file.rendered = emit_include_subtree(*record.node);
    }
    return file;
  }

  const DocumentRecord& doc_;
  WriteBackPlan plan_;
  std::vector<const std::string*> read_as_;  // per planned file: its text as read, if known
  SeededHashMap<std::string, std::size_t> index_;
  SeededHashSet<std::string> edited_names_;  // the file names of the edited files
};

// ---- confined writes ------------------------------------------------------------

WriteBackError write_failure(std::string_view path, std::string_view reason) {
  return WriteBackError{WriteBackError::Kind::Write, "cannot write " + std::string(path) + ": " + std::string(reason),
                        std::string(path)};
}

// The canonical form of `path` (which must exist); errors name `shown`.
WriteBackResult<std::string> existing_canonical_path(std::string_view path, std::string_view shown) {
  auto canonical = canonical_path(path);
  if (!canonical) return std::unexpected(write_failure(shown, os_error_text(canonical.error())));
  return std::move(*canonical);
}

// Where a write to a planned path lands: a directory beneath the root, in
// canonical form, and a name in it.
struct ConfinedTarget {
  std::string directory;
  std::string name;
};

// The path itself, or the file a symbolic link there leads to; links on the
// way to its directory are resolved.  Everything must stay beneath the root.
WriteBackResult<ConfinedTarget> confined_target(const IncludeRoot& root, const std::string& path) {
  const auto outside = [&] {
    return std::unexpected(write_failure(path, OpenFailure{OpenFailure::Reason::Escapes, 0}.text()));
  };
  if (holds_nul(path)) return std::unexpected(write_failure(path, kNulInPathMessage));
  std::string target = normalize_path(path);
  if (!root.usable() || target.empty() || target.front() != '/' || !path_within(target, root.canonical()))
    return outside();
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    KESTRINE_ASSIGN_OR_RETURN(target, existing_canonical_path(target, path));
    if (!path_within(target, root.canonical())) return outside();
  }
  const std::optional<std::string_view> parent = parent_path(target);
  if (!parent) return std::unexpected(write_failure(path, kUnwritablePathMessage));
  ConfinedTarget confined;
  KESTRINE_ASSIGN_OR_RETURN(confined.directory, existing_canonical_path(*parent, path));
  if (!path_within(confined.directory, root.canonical())) return outside();
  confined.name = std::string(file_name_of(target));
  return confined;
}

WriteBackResult<StagedFile> stage_confined(const IncludeRoot& root, const PlannedFile& file) {
  KESTRINE_ASSIGN_OR_RETURN(const ConfinedTarget target, confined_target(root, file.path));
  // Opened beneath the root without following any link, so the temporary
  // file and the rename stay in a directory below it even if the tree
  // changed since the check.
  auto opened = open_beneath(root, target.directory, OpenAs::Directory);
  if (!opened) return std::unexpected(write_failure(file.path, opened.error().text()));
  auto staged = stage_file_in(std::move(*opened), target.name, file.path, file.text());
  if (!staged) return std::unexpected(write_back_failure(staged.error()));
  return std::move(*staged);
}

// Commits every staged file; gives their targets.
std::expected<std::vector<std::string>, WriteBackError> commit_all(std::span<StagedFile> staged) {
  if (auto committed = commit_staged(staged); !committed)
    return std::unexpected(write_back_failure(committed.error()));
  std::vector<std::string> written;
  written.reserve(staged.size());
  for (const StagedFile& file : staged) written.push_back(file.target());
  return written;
}

}  // namespace

WriteBackError write_back_failure(const WriteError& error) { return write_failure(error.path, error.reason); }

std::expected<WriteBackPlan, WriteBackError> plan_write_back(const DocumentRecord& doc, WriteBackScope scope) {
  if (doc.source_names.empty()) {
    return refuse(WriteBackError::Kind::NotLoadedWithIncludes,
                  "document was not loaded with OPT_INCLUDES; nothing to write back");
  }
  IncludeWalk walk(doc.roots.size());
  for (std::size_t i = 0; i < doc.roots.size(); ++i) KESTRINE_TRY(walk.walk_root(doc.roots[i], i));
  // Every include is added when every file is written; for a save, only
  // the edited ones, and the others are kept.
  PlanMerger merger(doc);
  const bool every_file = scope == WriteBackScope::AllIncludedFiles;
  for (const IncludeRecord& record : walk.records())
    if (every_file || record.edited) KESTRINE_TRY(merger.add(record));
  for (const IncludeRecord& record : walk.records())
    if (!every_file && !record.edited) KESTRINE_TRY(merger.keep(record.file_id));
  for (const std::uint32_t file_id : walk.kept_files()) KESTRINE_TRY(merger.keep(file_id));
  KESTRINE_TRY(merger.check_secrets_files());
  return merger.take();
}

std::expected<std::vector<StagedFile>, WriteBackError> stage_write_back(const WriteBackPlan& plan,
                                                                        std::string_view include_root) {
  std::vector<StagedFile> staged;
  if (plan.files.empty()) return staged;
  const IncludeRoot root = IncludeRoot::open(include_root);
  staged.reserve(plan.files.size());
  for (const PlannedFile& file : plan.files) {
    KESTRINE_ASSIGN_OR_RETURN(StagedFile one, stage_confined(root, file));
    staged.push_back(std::move(one));
  }
  return staged;
}

std::expected<std::vector<std::string>, WriteBackError> write_back(const WriteBackPlan& plan,
                                                                   std::string_view include_root) {
  KESTRINE_ASSIGN_OR_RETURN(std::vector<StagedFile> staged, stage_write_back(plan, include_root));
  return commit_all(staged);
}

std::expected<std::vector<std::string>, WriteBackError> save_document_files(const DocumentRecord& doc,
                                                                            const std::optional<RootFile>& root) {
  WriteBackPlan plan;
  if (!doc.source_names.empty()) {
    KESTRINE_ASSIGN_OR_RETURN(plan, plan_write_back(doc, WriteBackScope::EditedFiles));
  }
  KESTRINE_ASSIGN_OR_RETURN(std::vector<StagedFile> staged, stage_write_back(plan, doc.include_root));
  if (root) {
    auto root_file = stage_file(root->path, root->text);
    if (!root_file) return std::unexpected(write_back_failure(root_file.error()));
    staged.push_back(std::move(*root_file));
  }
  return commit_all(staged);
}

}  // namespace kestrine
