// `!secret NAME`: the value stored under NAME in the nearest secrets.yaml,
// searched from the directory of the file holding the tag up to the include
// root (the top-level text starts at the root), never above it.
//
// Each candidate secrets.yaml is resolved, read (beneath the root, as every
// include is) and composed at most once per load; its table of key -> value
// stays in the context's cache, so a repeated tag costs one cache probe per
// directory level and one table probe.  A candidate that is absent,
// unreadable, not UTF-8, a link leading out of the root, empty, or whose
// first document is null is an empty table.  Failures (kind Include, naming
// the secrets file): "invalid secrets.yaml: {composer message}", "secrets.yaml
// does not contain a dictionary", "secrets not supported in a secrets.yaml
// file".  The key "logger" is never a secret: a value other than "debug"
// (any case) adds the warning "secrets.yaml: 'logger: debug' expected, but a
// different value was found".
//
// A secret's value leaves its file on its own: the stored value is copied
// with its aliases replaced by copies of what they stand for and without
// anchors or comments, so it never refers to (or defines) a name of another
// file, and no comment of the secrets file travels with it.  The returned
// node sits at the tag (start and end) and has the directive as its
// `source` ("!secret", NAME, with the secrets file as its content file), so
// writing the including file back writes the directive, never the value.  A miss gives, when
// misses are not fatal, a MissingSecret record and a null with the same
// provenance (so the directive survives a write-back); otherwise
// SecretNotFound "secret '{NAME}' is not defined in any secrets.yaml".
//
// Secrets files are registered in the source-file table under their path
// without their text: nothing needs it after the load, and a document must
// not carry it.  Composer messages are cut before any quoted input.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "include/context.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

LoadResult<YamlNode> resolve_secret(IncludeContext& ctx, const YamlNode& tagged, std::span<const IncludeFrame> chain);

// The folder a lookup for a tag in the file named `file_name` starts from:
// that of the file's canonical path, else (the top-level text, whose name
// need not be a file) the include root, `canonical_root`.
std::string secrets_search_start(std::string_view file_name, std::string_view canonical_root);

// The node or any node below it (keys, values, items; aliases not followed)
// is tagged exactly "!secret".
bool tree_has_secret_tag(const YamlNode& node);

// `text` is "debug" in any ASCII case.
bool is_debug_logger_value(std::string_view text) noexcept;

}  // namespace kestrine
