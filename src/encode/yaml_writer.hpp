// YAML text writer for value trees: the plain road of `dumps`.
//
// Writes one `YamlValue` tree as one YAML document, block style by default,
// with the layout options of `dumps`.  Every string is checked with
// `needs_quotes` for the chosen version, so the text reads back as the same
// value.  The writer touches no Python object (it runs with the interpreter
// lock released), never fails, appends to one output buffer and allocates
// nothing per node: sorting and key checks reuse scratch buffers owned by the
// writer.  The buffer is a LargeText: a large text's storage comes from the
// store of large blocks (util/large_block.hpp), not from the C library's
// heap of the thread that writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/value.hpp"
#include "emit_util/null_style.hpp"
#include "resolver/resolve.hpp"
#include "util/large_block.hpp"

namespace kestrine {

struct WriterOptions {
  std::uint64_t indent = 2;  // indentation step (0 is taken as 1)
  std::uint64_t width = 0;   // line width in bytes; 0: never wrap or fold
  NullStyle null_style = NullStyle::Default;
  VersionMode version_mode = VersionMode::Yaml12;
  bool sort_keys = false;
  bool flow = false;            // every collection in flow form
  bool explicit_start = false;  // "---\n" first
  bool explicit_end = false;    // "...\n" last
  bool prefer_double = true;    // quote with '"'; else "'" where possible
  bool indentless = false;      // a block sequence under a key starts at the key's column

  // The options of `dumps` for an option bit set and `width` argument (0 when
  // absent).  OPT_NULL_AS_KEYWORD together with OPT_NULL_AS_TILDE is refused
  // by the caller before this point; here the keyword wins.
  static WriterOptions from_option_bits(std::uint64_t option, std::uint64_t width) noexcept;
};

class YamlWriter {
 public:
  YamlWriter(LargeText& out, const WriterOptions& options) noexcept
      : out_(out), opt_(options), step_(options.indent == 0 ? 1 : options.indent) {}

  // The whole document: "---" when asked, the root by its kind, "..." when
  // asked.  Appends to the output buffer.
  void write_document(const YamlValue& root);

  // What follows a mapping key's ":" (or a tag) in block context, through the
  // end of its last line.
  void write_block_value(const YamlValue& value, std::size_t indent);
  // A value inline, without a line end.
  void write_value(const YamlValue& value, bool in_flow);
  void write_block_mapping(std::span<const ValuePair> pairs, std::size_t indent);
  void write_block_sequence(std::span<const YamlValue> items, std::size_t indent);
  void write_entry(const YamlValue& key, const YamlValue& value, std::size_t indent,
                   bool not_first);
  void write_flow_separator(std::size_t wrap_indent);
  void write_plain_string(std::string_view text, bool in_flow);
  void write_quoted_string(std::string_view text);

 private:
  void write_flow_sequence(std::span<const YamlValue> items);
  void write_flow_mapping(std::span<const ValuePair> pairs);
  void write_key(const YamlValue& key, bool in_flow);
  void write_literal(std::string_view text, std::size_t indent);
  // Pushes the entries in writing order onto `order_` from `mark` on.
  void push_sorted_entries(std::span<const ValuePair> pairs);
  std::size_t flow_wrap_indent() noexcept;
  // Bytes of the current output line; scans only what was appended since the
  // last call.
  std::size_t column() noexcept;

  LargeText& out_;
  const WriterOptions& opt_;
  std::size_t step_;
  bool no_wrap_ = false;
  std::size_t line_start_ = 0;  // start of the current line, as of `scanned_`
  std::size_t scanned_ = 0;     // output length when `line_start_` was found
  std::vector<const ValuePair*> order_;  // sorted entries of the open mappings
  std::string scratch_;                  // escaped bodies of folded strings
  std::string ts_text_;                  // the text of a timestamp being written
};

// Keys longer than this are written in the explicit "? " form: YAML readers
// refuse implicit keys longer than 1024 characters.
inline constexpr std::size_t kMaxImplicitKeyBytes = 1024;

// Appends one document for `root` to `out`.
void write_yaml(LargeText& out, const YamlValue& root, const WriterOptions& options);
// The document as a fresh text; `size_hint` (for example the input's size)
// pre-sizes the buffer, which starts at 1024 bytes at least.
std::string dump_yaml(const YamlValue& root, const WriterOptions& options,
                      std::size_t size_hint = 0);

// Can a string go in a literal block?  `fits_literal_block`, and some line
// holds content: a block of empty lines only leaves its meaning to the
// reader's indentation detection, and some readers make it empty, so such a
// text ("\n", "\n\n") is double-quoted instead.
bool literal_block_suits(std::string_view text) noexcept;

// Key order of OPT_SORT_KEYS: null, booleans, numbers, texts, then
// collections and tagged values, which compare equal (the sort is stable).
bool compare_sort_keys(const YamlValue& a, const YamlValue& b) noexcept;
// A number key as a double (Int exact where it can be, BigInt parsed without
// its "_" separators); NaN for anything else.
double numeric_value_f64(const YamlValue& value) noexcept;

}  // namespace kestrine
