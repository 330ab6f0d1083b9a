// Where entries and documents lie in the text they were read from, and the
// edit marks that tell rendering where to look: the geometry the emitter
// copies unedited entries by.  (What edits do to the tree, and that every
// edited rendering loads again, is tested through the Python surface.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "roundtrip/document/edit.hpp"
#include "roundtrip/emit/source_copy.hpp"
#include "roundtrip_test_util.hpp"

namespace kestrine {
namespace {

using testing::compose_ok;

struct EntryCase {
  const char* text;
  const char* key;       // a key of the root mapping
  const char* expected;  // the entry's lines, as copied
};

TEST(RoundtripSourceCopy, EntriesTakeTheirLinesAndLeaveTrailingCommentsToWhatFollows) {
  const EntryCase cases[] = {
      {"a: 1\nb:\n  c: |\n    x\n    # not a comment\n  d: 2\ne: 3\n", "b",
       "b:\n  c: |\n    x\n    # not a comment\n  d: 2\n"},
      {"a: [1,\n  2\n  ]   # closed\nb: 1\n", "a", "a: [1,\n  2\n  ]   # closed\n"},
      {"a:\n  x: 1\n  # about b\n\nb: 2\n", "a", "a:\n  x: 1\n"},
      {"a:\n- 1\n-   2\nb: 3\n", "a", "a:\n- 1\n-   2\n"},
      {"a: 'two\n  # lines'\nb: 1\n", "a", "a: 'two\n  # lines'\n"},
      {"a: |+\n  kept\n\n\nb: 1\n", "a", "a: |+\n  kept\n\n\n"},
      {"a: 1\nlast: x", "last", "last: x"},
      // A byte-order mark opens a line: passed over before the document,
      // content (here a key's first character) inside it.
      {"# x\n\xEF\xBB\xBF" "a: 1\nb: 2\n", "a", "\xEF\xBB\xBF" "a: 1\n"},
      {"a:\n  b: 1\n\xEF\xBB\xBF  c: 2\nd: 3\n", "a", "a:\n  b: 1\n"},
  };
  for (const EntryCase& c : cases) {
    const std::string text = c.text;
    std::vector<YamlNode> roots = compose_ok(text);
    const SourceLines lines(text, 0, 0);
    const auto pairs = roots.front().pairs();
    const auto at = std::find_if(pairs.begin(), pairs.end(), [&](const NodePair& p) { return p.key.text() == c.key; });
    ASSERT_NE(at, pairs.end()) << text;
    const std::optional<std::size_t> first = lines.pair_first(*at, 0, false);
    ASSERT_TRUE(first) << text;
    const std::size_t content = std::max(*lines.content_end(at->key), *lines.content_end(at->value));
    const std::optional<std::size_t> end = lines.entry_end(*first, 0, false, content);
    ASSERT_TRUE(end) << text;
    EXPECT_EQ(lines.slice(*first, *end), c.expected) << text;
  }
}

// Where the reader passes over a byte-order mark that opens a line: in a
// document's prefix.  The text copied to a place that is none loses such
// marks up to its first content line.
TEST(RoundtripSourceCopy, ByteOrderMarksStayWhereTheyReadAsMarks) {
  const std::pair<const char*, bool> written[] = {
      {"", true},           {"# c\n", true},      {"\xEF\xBB\xBF# c\r\n\r\n", true}, {"a: 1\n...\n# c\r", true},
      {"# c\n&a\n", false}, {"---\n", false},     {"a: 1\n", false},                   {"# c\n- ", false},
      {"a: 1\n...x\n", false},
  };
  for (const auto& [out, prefix] : written) EXPECT_EQ(ends_in_document_prefix(out), prefix) << out;
  const std::string text = "# c\n\xEF\xBB\xBF# d\n\xEF\xBB\xBF" "a: 1\n\xEF\xBB\xBF" "b: 2\n";
  const SourceLines lines(text, 0, 0);
  EXPECT_EQ(lines.without_prefix_boms(4, text.size()), "# d\na: 1\n\xEF\xBB\xBF" "b: 2\n");
  EXPECT_FALSE(lines.without_prefix_boms(text.find("b:") - 3, text.size()));
  EXPECT_TRUE(lines.content_bom_at(text.find("b:") - 3));
  EXPECT_FALSE(lines.content_bom_at(text.find("a:") - 3));
}

TEST(RoundtripSourceCopy, CarriageReturnsAndInnerMarksAreFoundAnywhereInTheText) {
  // (Sizes around 64 bytes: a scan may go in steps of a vector width.)
  for (const std::size_t size : {0u, 1u, 63u, 64u, 65u, 200u}) {
    const std::string plain(size, 'a');
    const SourceLines none(plain, 0, 0);
    EXPECT_FALSE(none.has_cr() || none.has_inner_bom()) << size;
    for (std::size_t at = 0; at < size; at += 1 + at / 7) {
      std::string cr = plain;
      cr[at] = '\r';
      const SourceLines with_cr(cr, 0, 0);
      EXPECT_TRUE(with_cr.has_cr() && !with_cr.has_inner_bom()) << size << " " << at;
      if (at + 3 > size) continue;
      std::string bom = plain;
      bom.replace(at, 3, "\xEF\xBB\xBF");
      const SourceLines with_bom(bom, 0, 0);
      // One at the very start is the text's own mark, not an inner one.
      EXPECT_EQ(with_bom.has_inner_bom(), at > 0) << size << " " << at;
      EXPECT_FALSE(with_bom.has_cr()) << size << " " << at;
      bom[at + 1] = 'a';  // the first byte alone is no mark
      EXPECT_FALSE(SourceLines(bom, 0, 0).has_inner_bom()) << size << " " << at;
    }
  }
}

TEST(RoundtripSourceCopy, LeadingLinesAreAnEntrysOwnOnlyWhenItsNodeHoldsThem) {
  const std::string text = "a: 1\n\n# one\n\n# two\nb: 2\n# three\nc: 3\n";
  std::vector<YamlNode> roots = compose_ok(text);
  const SourceLines lines(text, 0, 0);
  const auto pairs = roots.front().pairs();
  const std::size_t b = *lines.pair_first(pairs[1], 0, false);
  EXPECT_EQ(lines.slice(lines.own_lead(b, 2, true, 0), b), "\n# one\n\n# two\n");
  // A head the text does not hold there (after an edit): none of them.
  EXPECT_EQ(lines.own_lead(b, 3, true, 0), b);
  const std::size_t c = *lines.pair_first(pairs[2], 0, false);
  EXPECT_EQ(lines.slice(lines.own_lead(c, 1, false, 0), c), "# three\n");
  // A key not where its node says is not placed at all.
  NodePair moved = pairs[2];
  moved.key.span.offset = 0;
  EXPECT_FALSE(lines.pair_first(moved, 0, false));
}

TEST(RoundtripSourceCopy, DocumentsEndBeforeTheLinesBetweenThem) {
  const std::string text =
      "%YAML 1.2\n---\na: 1   # c\n\n# before two\n---\n&x !!map\nb: 2\n...\n---\n{ c\n% : 2 }\n...\n# end\n";
  auto composed = parse_roundtrip_multi(text);
  ASSERT_TRUE(composed);
  const auto& roots = composed->roots;
  const SourceLines lines(text, 0, 0);
  const std::size_t second = lines.previous_document_marker(lines.line_start(roots[1].span.offset));
  EXPECT_EQ(lines.slice(second, text.size()).substr(0, 4), "---\n");
  EXPECT_EQ(lines.slice(0, *lines.document_end(roots[0], second)), "%YAML 1.2\n---\na: 1   # c\n");
  // A line of a flow collection may start with "%": it is no directive.
  const std::size_t third = lines.previous_document_marker(lines.line_start(roots[2].span.offset));
  EXPECT_EQ(lines.slice(*lines.document_end(roots[1], third), third), "...\n");
  const std::size_t end = *lines.document_end(roots[2], lines.end());
  EXPECT_EQ(lines.slice(end, lines.end()), "...\n# end\n");
  EXPECT_EQ(*lines.comment_texts(end, lines.end()), std::vector<std::string_view>{"end"});
}

// Edit marks answer as a walk of the whole tree does, for any set of
// modified nodes.
TEST(RoundtripSourceCopy, EditMarksAgreeWithAWalk) {
  const std::string text = "a: {x: [1, 2], y: 3}\nb:\n  - c: 1\n  - [d, {e: f}]\ng: 5\n";
  for (std::size_t pick = 0; pick < 16; ++pick) {
    DocumentRecord rec = testing::document_of(text);
    std::size_t count = 0;
    auto mark = [&](auto& self, YamlNode& n) -> void {
      if (count++ == pick) n.comments.modified = true;
      for (YamlNode& item : n.items()) self(self, item);
      for (NodePair& p : n.pairs()) {
        self(self, p.key);
        self(self, p.value);
      }
    };
    mark(mark, rec.roots.front());
    mark_edits(rec);
    EditedNodes walked(false), marked(true);
    EXPECT_EQ(walked.add(rec.roots.front()), marked.add(rec.roots.front()));
    auto compare = [&](auto& self, const YamlNode& n) -> void {
      EXPECT_EQ(walked.contains(n), marked.contains(n)) << pick;
      for (const YamlNode& item : n.items()) self(self, item);
      for (const NodePair& p : n.pairs()) {
        self(self, p.key);
        self(self, p.value);
      }
    };
    compare(compare, rec.roots.front());
  }
}

}  // namespace
}  // namespace kestrine
