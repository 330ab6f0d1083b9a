// libFuzzer target: the round-trip road over arbitrary bytes.  Whenever the
// composer accepts the text:
//   * the unedited document renders as the text, byte for byte;
//   * with every node marked edited, and with every other node edited, the
//     rendered text reads back through the plain decoder as the same values
//     as the input, when the input decodes (the null style and which half is
//     edited depend on the input length);
//   * when the first byte's low bit is set, all of that is done instead as a
//     load with OPT_UPGRADE_1_1 does it (YAML 1.1, or the PyYAML reading when
//     the next bit is set too): the trees upgraded, rendered with "%YAML 1.2"
//     declared, unedited as well; each text must compose again and read
//     back, as `loads` reads it, as the values the input has under 1.1;
//   * reading it as a document: every node a path reaches resolves to itself
//     (with and without key indexes), and every alias followed within its
//     own document stands for the node the loader binds it to, within the
//     read limits.
// A failed check prints what failed with the rendered text and traps, so
// libFuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decoder.hpp"
#include "decode/load_settings.hpp"
#include "decode/value.hpp"
#include "decode/yaml_version.hpp"
#include "roundtrip/compose/composer.hpp"
#include "roundtrip/document/document.hpp"
#include "roundtrip/document/document_checks.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "same_documents.hpp"
#include "util/stack_guard.hpp"

namespace {

using kestrine::NodePair;
using kestrine::YamlNode;

[[noreturn]] void fail(const char* what, std::string_view rendered) {
  std::fprintf(stderr, "roundtrip_fuzz: %s\n---- rendered (%zu bytes) ----\n%.*s\n---- end ----\n", what,
               rendered.size(), static_cast<int>(rendered.size()), rendered.data());
  __builtin_trap();
}

void mark_modified(YamlNode& n) {
  n.comments.modified = true;
  kestrine::stack_guarded([&] {
    for (YamlNode& item : n.items()) mark_modified(item);
    for (NodePair& p : n.pairs()) {
      mark_modified(p.key);
      mark_modified(p.value);
    }
  });
}

// Every other node in pre-order: edited nodes next to unedited ones, whose
// kept block texts are copied where they still fit.
void mark_alternate(YamlNode& n, bool& flip) {
  flip = !flip;
  if (flip) n.comments.modified = true;
  kestrine::stack_guarded([&] {
    for (YamlNode& item : n.items()) mark_alternate(item, flip);
    for (NodePair& p : n.pairs()) {
      mark_alternate(p.key, flip);
      mark_alternate(p.value, flip);
    }
  });
}

// How the rendering is made and read again: plain, or as a document
// loaded with OPT_UPGRADE_1_1 is (the header declares YAML 1.2, and
// `loads` reads the text by that).
struct Road {
  bool upgrade = false;
  bool timestamps = false;  // the load's reading keeps, and so the re-read
};

void check_reads_back(const kestrine::DecodedStream& original, const std::vector<YamlNode>& roots,
                      std::string_view text, kestrine::NullStyle null_style, Road road, const char* what) {
  const std::string rendered = kestrine::render_document(roots, text, road.upgrade, null_style);
  kestrine::DecodeOptions options;
  if (road.upgrade) {
    if (!kestrine::parse_roundtrip_multi(rendered)) fail("the upgraded rendering does not compose", rendered);
    options = kestrine::plain_decode_options(kestrine::derive_load_settings(0, kestrine::sniff_yaml_version(rendered)));
    options.timestamps = road.timestamps;
  }
  auto reread = kestrine::decode_stream(rendered, options);
  if (!reread) {
    std::fprintf(stderr, "roundtrip_fuzz: re-read fails: %s at line %u\n", reread.error().message.c_str(),
                 reread.error().span.line + 1);
    fail(what, rendered);
  }
  if (!kestrine::fuzz::same_documents(original, *reread)) {
    for (const kestrine::YamlValue& v : original.documents)
      std::fprintf(stderr, "input:    %s\n", kestrine::debug_render_value(v).c_str());
    for (const kestrine::YamlValue& v : reread->documents)
      std::fprintf(stderr, "rendered: %s\n", kestrine::debug_render_value(v).c_str());
    fail(what, rendered);
  }
}

// Checks the reading side of the document API over one root: paths to the
// first nodes in pre-order (each search walks the tree, so only a few), key
// lookups through the index against the scan, and alias following.
void check_document_reads(const kestrine::DocumentRecord& doc, std::size_t root_index) {
  const YamlNode& root = doc.roots[root_index];
  kestrine::KeyIndexCache lookups;
  kestrine::AliasFollower aliases(root);
  auto bound = kestrine::bind_anchors(root, UINT64_MAX);
  if (!bound) fail("binding without a budget failed", {});
  std::size_t searched = 0;
  auto visit = [&](auto& self, const YamlNode& n) -> void {
    if (searched++ < 64) {
      if (auto path = kestrine::path_to_node(root, n)) {
        if (kestrine::resolve_path(doc, root_index, *path, &lookups) != &n) fail("a node's path leads elsewhere", {});
      }
    }
    for (const NodePair& p : n.pairs()) {
      if (p.key.is_scalar() &&
          lookups.last_pair_with_key(n, p.key.text()) != kestrine::last_pair_with_key(n, p.key.text(), nullptr))
        fail("the key index and the scan disagree", {});
    }
    if (n.is_alias()) {
      auto target = aliases.expand(n);
      if (target && *target != bound->target(n)) fail("a followed alias stands for another node", {});
    }
    kestrine::stack_guarded([&] {
      for (const YamlNode& item : n.items()) self(self, item);
      for (const NodePair& p : n.pairs()) {
        self(self, p.key);
        self(self, p.value);
      }
    });
  };
  visit(visit, root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto composed = kestrine::parse_roundtrip_multi(text);
  if (!composed) {
    if (composed.error().message.empty()) fail("compose error without a message", {});
    return 0;
  }
  std::vector<YamlNode>& roots = composed->roots;
  for (std::size_t start : composed->document_starts)
    if (start > size) fail("document start past the end of the text", {});

  {
    kestrine::DocumentRecord doc;
    doc.roots = roots;
    for (std::size_t i = 0; i < doc.roots.size(); ++i) check_document_reads(doc, i);
  }

  // Unedited: the text as read.
  const std::string unedited = kestrine::render_document(roots, text, false, kestrine::NullStyle::Default);
  if (unedited != text) fail("unedited render differs from the input", unedited);

  // Keyword, Default or Tilde spelling of nulls.
  const auto null_style = static_cast<kestrine::NullStyle>((size / 2) % 3);
  Road road;
  kestrine::DecodeOptions read_as;
  if (size > 0 && (data[0] & 1) != 0) {
    // As loads(..., option=OPT_ROUND_TRIP | OPT_YAML_1_1 | OPT_UPGRADE_1_1)
    // makes the document: the 1.1 forms rewritten (and marked edited).
    const kestrine::Options option = kestrine::OPT_ROUND_TRIP | kestrine::OPT_YAML_1_1 | kestrine::OPT_UPGRADE_1_1 |
                                     ((data[0] & 2) != 0 ? kestrine::OPT_PYYAML_COMPAT : 0);
    const kestrine::LoadSettings settings = kestrine::derive_load_settings(option, kestrine::sniff_yaml_version(text));
    read_as = kestrine::plain_decode_options(settings);
    road = Road{true, read_as.timestamps};
    kestrine::run_document_checks(roots, kestrine::round_trip_checks(settings));
  }
  auto original = kestrine::decode_stream(text, read_as);
  if (!original) return 0;
  if (road.upgrade)
    check_reads_back(*original, roots, text, null_style, road, "upgraded: the rendering reads back differently");

  {
    std::vector<YamlNode> half = roots;
    bool flip = size % 2 == 1;
    for (YamlNode& r : half) mark_alternate(r, flip);
    check_reads_back(*original, half, text, null_style, road,
                     "every other node edited: the rendering reads back differently");
  }
  for (YamlNode& r : roots) mark_modified(r);
  check_reads_back(*original, roots, text, null_style, road, "every node edited: the rendering reads back differently");
  return 0;
}
