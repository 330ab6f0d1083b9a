// Writing a round-trip document loaded with includes back to the files its
// parts came from.
//
//   // dump_includes_map / dump_includes: every included file
//   KESTRINE_ASSIGN_OR_RETURN(WriteBackPlan plan, plan_write_back(doc, WriteBackScope::AllIncludedFiles));
//   for (const PlannedFile& file : plan.files) ... file.path, file.text() ...
//   KESTRINE_ASSIGN_OR_RETURN(std::vector<std::string> written, write_back(plan, doc.include_root));
//
//   // save(): the edited included files and, when it is to be written, the
//   // root file, replaced together
//   std::optional<RootFile> root;
//   if (root_changed || explicit_path) root = RootFile{target, render_document(doc)};
//   auto written = save_document_files(doc, root);   // paths, included files first
//
// The plan.  Each node that replaced an `!include` (a `source` with a file
// number) stands for one file: its text as read while nothing in it was
// edited, else a fresh rendering of the subtree (the directive's own source
// and anchor left out; nested includes written as their directive lines),
// in the file's line breaks.  What the file holds besides the content that
// replaced the directive is kept as read: the documents after its first
// (written after the new content, which must then read back to end where
// it did: otherwise the file is refused, LaterDocuments), and the comments
// of a file that holds no document (written before it).
// A file reached through several includes is planned once, and only when
// every include of it gives the same text: each of them reads the file
// again after the write, so an edit at one place alone, or two different
// edits, would change what the others hold, and are refused
// (ConflictingEdits).  A file a directive read whole (a directory form's
// listing, a file that is itself a directive: IncludeSource::content_files)
// counts as an unedited include of it, and a file the load also read for
// `!secret` values may not change (ConflictingEdits).  (A detached copy of
// an included file's content is no include of it: it is written inline.  A
// directive such a copy keeps is read again from its files, which the copy
// keeps as the includes below it: they count like those of the original.)
// An edit that no single file could hold is refused before anything is
// rendered (EditWithoutFile): a modified node under a directory include, or
// under a `!secret` or `!env_var` value, whose directive is all that is
// written back.  So a write-back is complete or refused, never silently
// partial.  The top-level text is never part of the plan.  Plans borrow the
// document's texts: the document must not change while a plan is in use.
//
// The writes.  Every target is checked again when it is written: it must
// lie beneath the include root the document was loaded with, and so must
// its directory with links resolved and, when the file itself is now a
// symbolic link, the file it leads to (which is then replaced).  The
// directory is opened beneath the root without following any link before
// the temporary file is made in it, so a change of the tree after the
// check cannot lead the write out.  All
// files are staged (temporary file written and flushed) before the first
// is renamed over its target, so a failure while staging leaves every
// target untouched.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/document/document.hpp"
#include "util/atomic_write.hpp"

namespace kestrine {

enum class WriteBackScope : std::uint8_t {
  AllIncludedFiles,  // dump_includes, dump_includes_map
  EditedFiles,       // save
};

struct PlannedFile {
  std::string path;                     // the source-file table's name
  std::string rendered;                 // the new text, when rendered
  const std::string* as_read = nullptr;  // the document's text, when unedited
  bool edited = false;

  std::string_view text() const noexcept { return as_read != nullptr ? std::string_view(*as_read) : rendered; }
};

struct WriteBackPlan {
  std::vector<PlannedFile> files;  // in document order of their first include
};

struct WriteBackError {
  enum class Kind : std::uint8_t {
    NotLoadedWithIncludes,  // "document was not loaded with OPT_INCLUDES; nothing to write back"
    EditWithoutFile,        // "cannot write back the edit at {path}: it lies under '{tag} {target}', ..."
    ConflictingEdits,       // "'{file}' is included more than once with conflicting edits; ...",
                            // "... and edited at only some of those places; ...", "... read for !secret values; ..."
    LaterDocuments,         // "cannot write back {file}: ... the documents that follow it ..."
    Write,                  // "cannot write {file}: {reason}"
  };
  Kind kind = Kind::Write;
  std::string message;
  std::string file;  // the file concerned (ConflictingEdits, Write)
};

std::expected<WriteBackPlan, WriteBackError> plan_write_back(const DocumentRecord& doc, WriteBackScope scope);

// Stages every file of the plan beneath `include_root` (see above); the
// first failure drops what was staged.
std::expected<std::vector<StagedFile>, WriteBackError> stage_write_back(const WriteBackPlan& plan,
                                                                        std::string_view include_root);

// Stages, then commits, every file of the plan; gives the paths written.
std::expected<std::vector<std::string>, WriteBackError> write_back(const WriteBackPlan& plan,
                                                                   std::string_view include_root);

// What save() writes besides the included files: the document's own file.
struct RootFile {
  std::string path;  // the origin or the path given to save(); not confined
  std::string text;  // the rendered document
};

// save(): plans the edited included files (none for a document loaded
// without includes), stages them beneath the include root and `root` (when
// given) at its path, following a link there, then commits them all.  Gives
// the paths written: the included files in plan order, then `root`'s.  Every
// refusal of the plan comes before anything is written.
std::expected<std::vector<std::string>, WriteBackError> save_document_files(const DocumentRecord& doc,
                                                                            const std::optional<RootFile>& root);

// The Write error for a failed staging or commit.
WriteBackError write_back_failure(const WriteError& error);

}  // namespace kestrine
