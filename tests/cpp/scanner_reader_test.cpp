// Positions, line breaks, the byte-order mark, the control-character check
// and the reader's own operations.
#include <gtest/gtest.h>

#include <string>

#include "scanner/reader.hpp"
#include "scanner/scanner.hpp"
#include "scanner_test_util.hpp"

namespace kestrine {
namespace {

using scantest::scan_error;

// The result owns the storage of unescaped texts: keep it alive with the
// events (the input literals outlive the tests).
struct Scanned {
  ScanResult result;
  const SpannedEvent& operator[](std::size_t i) const { return result.events[i]; }
  std::size_t size() const { return result.events.size(); }
  auto begin() const { return result.events.begin(); }
  auto end() const { return result.events.end(); }
  const SpannedEvent& back() const { return result.events.back(); }
};

Scanned scan_ok(std::string_view text) {
  Scanner sc = new_scanner(text);
  auto r = scan_events(sc);
  EXPECT_TRUE(r.has_value()) << (r ? "" : r.error().message);
  if (!r) return {};
  return Scanned{std::move(*r)};
}

const SpannedEvent* find(const Scanned& evs, EventKind kind, int nth = 0) {
  for (const auto& e : evs) {
    if (e.kind == kind && nth-- == 0) return &e;
  }
  return nullptr;
}

void expect_span(const Span& s, std::uint32_t line, std::uint32_t column, std::size_t offset) {
  EXPECT_EQ(s.line, line);
  EXPECT_EQ(s.column, column);
  EXPECT_EQ(s.offset, offset);
}

TEST(ScannerStream, EmptyTextGivesStreamMarkersAtOrigin) {
  auto evs = scan_ok("");
  ASSERT_EQ(evs.size(), 2u);
  EXPECT_EQ(evs[0].kind, EventKind::StreamStart);
  EXPECT_EQ(evs[1].kind, EventKind::StreamEnd);
  expect_span(evs[0].start(0), 0, 0, 0);
  expect_span(evs[1].start(0), 0, 0, 0);
}

TEST(ScannerStream, ByteOrderMark) {
  Scanner sc = new_scanner("\xEF\xBB\xBF");
  auto r = scan_events(sc);
  ASSERT_TRUE(r);
  EXPECT_TRUE(sc.leading_bom);
  expect_span(r->events.front().start(0), 0, 0, 3);

  // Two bytes of a mark are not a mark: they are scanned as text.
  Scanner two = new_scanner("\xEF\xBB");
  EXPECT_FALSE(two.leading_bom);
  EXPECT_EQ(two.start_offset, 0u);

  // After a mark the first character is offset 3, line 0, column 0, and a
  // comment may start right there.
  Scanner sc2 = new_scanner("\xEF\xBB\xBF#c\na");
  sc2.keep_comments = true;
  auto r2 = scan_events(sc2);
  ASSERT_TRUE(r2);
  ASSERT_EQ(sc2.comments.size(), 1u);
  expect_span(sc2.comments[0].span, 0, 0, 3);
  expect_span(r2->events[1].start(0), 1, 0, 6);
  EXPECT_EQ(r2->events[1].text(), "a");
}

TEST(ScannerStream, FileIdIsCopiedIntoEverySpan) {
  Scanner sc = new_scanner("a: [b]\n");
  sc.file_id = 7;
  auto r = scan_events(sc);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->file_id, 7u);
  for (const auto& e : r->events) EXPECT_EQ(r->start(e).file_id, 7u);

  Scanner bad = new_scanner("a: ]");
  bad.file_id = 4;
  auto err = scan_events(bad);
  ASSERT_FALSE(err);
  EXPECT_EQ(err.error().span.file_id, 4u);
}

TEST(ScannerStream, RefusesTextsOfFourGibibytes) {
  // Positions are 32-bit: the size is checked before any byte is read, so a
  // view that only claims the size is enough here.
  const char bytes[] = "a: b";
  Scanner sc = new_scanner(std::string_view(bytes, std::size_t{1} << 32));
  sc.file_id = 2;
  auto r = scan_events(sc);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "input too large: 4 GiB or more");
  EXPECT_EQ(r.error().span, (Span{2, 0, 0, 0}));
}

TEST(ScannerStream, EventsAreCompact) { EXPECT_LE(sizeof(SpannedEvent), 32u); }

TEST(ScannerPositions, ColumnsCountCharacters) {
  // A two-byte letter then a colon: the colon is column 1, offset 2.
  auto evs = scan_ok("\xC3\xA9: x");
  const SpannedEvent* value = find(evs, EventKind::Value);
  ASSERT_NE(value, nullptr);
  expect_span(value->start(0), 0, 1, 2);
  // A four-byte character advances the offset by 4 and the column by 1.
  evs = scan_ok("\xF0\x9F\x98\x80: x");
  value = find(evs, EventKind::Value);
  expect_span(value->start(0), 0, 1, 4);
  // Long runs (scanned in blocks) count characters too, in block and flow.
  evs = scan_ok("abcdefghijklmnop\xC3\xA9qrstuvwxyz0123456789\xE2\x82\xAC: x");
  expect_span(find(evs, EventKind::Value)->start(0), 0, 38, 41);
  evs = scan_ok("[abcdefghijklmnopqrstuvwxyz\xC3\xA9, abcdefghijklmnopqrstuvwxyz]");
  expect_span(find(evs, EventKind::FlowEntry)->start(0), 0, 28, 29);
  expect_span(find(evs, EventKind::SequenceEnd)->start(0), 0, 56, 57);
  evs = scan_ok("'abcdefghijklmnop\xC3\xA9qrstuvwxyz0123456789\xE2\x82\xAC': x");
  expect_span(find(evs, EventKind::Value)->start(0), 0, 40, 43);
  evs = scan_ok("\"abcdefghijklmnopqrstuvwxyz\xC3\xA9\" : x");
  expect_span(find(evs, EventKind::Value)->start(0), 0, 30, 31);
  // A tab counts as one column.
  evs = scan_ok("a:\tb");
  expect_span(find(evs, EventKind::Scalar, 1)->start(0), 0, 3, 3);
}

TEST(ScannerPositions, LineBreaks) {
  // CR LF is one break, CR CR two, a lone CR at the end one.
  auto evs = scan_ok("a: 1\r\n\r\rb: c\r");
  const SpannedEvent* key = find(evs, EventKind::Scalar, 2);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->text(), "b");
  expect_span(key->start(0), 3, 0, 8);
  const SpannedEvent& end = evs.back();
  EXPECT_EQ(end.kind, EventKind::StreamEnd);
  expect_span(end.start(0), 4, 0, 13);
  // U+2028 and U+0085 are ordinary characters, not breaks.
  evs = scan_ok("a\xE2\x80\xA8" "b\xC2\x85" "c: d");
  EXPECT_EQ(find(evs, EventKind::Scalar)->text(), "a\xE2\x80\xA8" "b\xC2\x85" "c");
  expect_span(find(evs, EventKind::Value)->start(0), 0, 5, 8);
}

TEST(ScannerPositions, EndOffsets) {
  // A plain scalar's end lies past its last non-blank character.
  auto evs = scan_ok("abc  \n");
  const SpannedEvent* s = find(evs, EventKind::Scalar);
  EXPECT_EQ(s->end(), s->offset + 3);
  // Indicators end where they start.
  evs = scan_ok("- [a, b: c]");
  for (const auto& e : evs) {
    if (e.kind != EventKind::Scalar) EXPECT_EQ(e.end(), e.offset) << event_kind_name(e.kind);
  }
  // Quoted scalars end past the closing quote.
  evs = scan_ok("x: 'a''b'  # c");
  s = find(evs, EventKind::Scalar, 1);
  EXPECT_EQ(s->offset, 3u);
  EXPECT_EQ(s->end(), 9u);
  // A multi-line plain scalar ends on its last line.
  evs = scan_ok("- a\n  b  \n- c");
  s = find(evs, EventKind::Scalar);
  EXPECT_EQ(s->text(), "a b");
  EXPECT_EQ(s->end(), 7u);
  // Block scalars end where scanning stopped: past the trailing empty lines
  // and the next line's indentation up to the content indentation.
  evs = scan_ok("k: |\n  a\n\n  \nz: 1");
  s = find(evs, EventKind::Scalar, 1);
  EXPECT_EQ(s->style, ScalarStyle::Literal);
  EXPECT_EQ(s->offset, 3u);
  EXPECT_EQ(s->end(), 13u);
  evs = scan_ok("- |\n  a\n  b");
  s = find(evs, EventKind::Scalar);
  EXPECT_EQ(s->end(), 11u);
}

TEST(ScannerComments, CollectedOnlyWhenAsked) {
  const std::string text = "# head\na: 1 #  tail  \t\n  #\n#\xC2\xA0x\xE3\x80\x80\nb: 'x#y' # last";
  Scanner plain = new_scanner(text);
  ASSERT_TRUE(scan_events(plain));
  EXPECT_TRUE(plain.comments.empty());

  Scanner sc = new_scanner(text);
  sc.keep_comments = true;
  ASSERT_TRUE(scan_events(sc));
  ASSERT_EQ(sc.comments.size(), 5u);
  EXPECT_EQ(sc.comments[0].text, "head");
  expect_span(sc.comments[0].span, 0, 0, 0);
  EXPECT_EQ(sc.comments[1].text, " tail");  // one space removed, trailing white space trimmed
  expect_span(sc.comments[1].span, 1, 5, 12);
  EXPECT_EQ(sc.comments[2].text, "");
  expect_span(sc.comments[2].span, 2, 2, 25);
  EXPECT_EQ(sc.comments[3].text, "\xC2\xA0x");  // leading no-break space kept, ideographic space trimmed
  EXPECT_EQ(sc.comments[4].text, "last");
}

TEST(ScannerComments, BlockScalarHeaderCommentIsCollected) {
  Scanner sc = new_scanner("a: | # note\n  x\n");
  sc.keep_comments = true;
  auto r = scan_events(sc);
  ASSERT_TRUE(r);
  ASSERT_EQ(sc.comments.size(), 1u);
  EXPECT_EQ(sc.comments[0].text, "note");
  EXPECT_EQ(r->events[5].text(), "x\n");
}

TEST(ScannerControlCharacters, RejectedWithPosition) {
  Scanner sc = new_scanner("a: 1\r\nb: 'x\x01'\n");
  auto r = scan_events(sc);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "disallowed control character U+0001");
  expect_span(r.error().span, 1, 5, 11);

  // The check runs before tokenizing: it wins over an earlier syntax error.
  EXPECT_EQ(scan_error("]\n# c\x01"), "disallowed control character U+0001");
  EXPECT_EQ(scan_error("a\x7F"), "disallowed control character U+007F");
  EXPECT_EQ(scan_error("a\xC2\x84"), "disallowed control character U+0084");
  EXPECT_EQ(scan_error("a\xC2\x85"), "");  // NEL is allowed
  EXPECT_EQ(scan_error("a\xEF\xBF\xBE"), "disallowed control character U+FFFE");
  EXPECT_EQ(scan_error("a\xEF\xBF\xBF"), "disallowed control character U+FFFF");
  EXPECT_EQ(scan_error(std::string("a\0b", 3)), "disallowed control character U+0000");
  EXPECT_EQ(scan_error("a\x0B"), "disallowed control character U+000B");
  EXPECT_EQ(scan_error("a\tb\r\nc"), "");
  // Found beyond the vectorised blocks and after multi-byte characters.
  std::string long_text(100, 'x');
  long_text += "\xC3\xA9\x1F";
  Scanner sc2 = new_scanner(long_text);
  auto r2 = scan_events(sc2);
  ASSERT_FALSE(r2);
  EXPECT_EQ(r2.error().message, "disallowed control character U+001F");
  expect_span(r2.error().span, 0, 101, 102);
}

// Every kind of fault, and of near miss, at every offset across the
// sixteen-byte blocks the check reads at once (a multi-byte sequence may
// straddle two blocks, or end with the text).
TEST(ScannerReader, ControlCharacterAtEveryOffset) {
  struct Case {
    std::string_view bytes;
    const char* message;  // empty: allowed
  };
  const Case cases[] = {
      {"\x01", "disallowed control character U+0001"}, {"\x1F", "disallowed control character U+001F"},
      {"\x7F", "disallowed control character U+007F"}, {"\xC2\x80", "disallowed control character U+0080"},
      {"\xC2\x9F", "disallowed control character U+009F"}, {"\xEF\xBF\xBE", "disallowed control character U+FFFE"},
      {"\xEF\xBF\xBF", "disallowed control character U+FFFF"}, {"\t\r\n", ""}, {"\xC2\x85", ""},
      {"\xC2\xA0", ""}, {"\xEF\xBF\xBD", ""}, {"\xEF\xBB\xBF", ""}, {"\xC3\xA9", ""},
  };
  for (const Case& c : cases) {
    for (std::size_t at = 0; at < 40; ++at) {
      const std::string text = std::string(at, 'x') + std::string(c.bytes) + std::string(at % 3 * 9, 'y');
      ScanError error;
      const bool ok = scan::check_control_characters(text, 0, 0, error);
      EXPECT_EQ(ok ? "" : error.message, c.message) << "offset " << at;
      if (!ok) EXPECT_EQ(error.span.offset, at) << "offset " << at;
    }
  }
}

TEST(ScannerReader, FindLineBreakAtEveryOffset) {
  for (std::size_t at = 0; at < 40; ++at) {
    for (const char* tail : {"\n", "\r", "\r\n", ""}) {
      const std::string text = std::string(at, '\xC3') + tail + "zz\n";
      const auto* p = reinterpret_cast<const unsigned char*>(text.data());
      const std::size_t expected = *tail ? at : at + 2;
      EXPECT_EQ(scan::find_line_break(p, p + text.size()), expected) << "offset " << at;
      EXPECT_EQ(scan::find_line_break(p, p + at), at) << "offset " << at;  // none: the length
    }
  }
}

// ---- the reader on its own --------------------------------------------------

scan::Reader reader_over(std::string_view text) {
  scan::Reader r;
  r.text = reinterpret_cast<const unsigned char*>(text.data());
  r.length = text.size();
  return r;
}

TEST(ScannerReader, DocumentMarkers) {
  EXPECT_TRUE(reader_over("---").at_document_marker());
  EXPECT_TRUE(reader_over("... x").at_document_marker());
  EXPECT_TRUE(reader_over("---\n").at_document_marker());
  EXPECT_FALSE(reader_over("---a").at_document_marker());
  EXPECT_FALSE(reader_over("--").at_document_marker());
  scan::Reader r = reader_over(" ---");
  r.skip_spaces();
  EXPECT_FALSE(r.at_document_marker());  // not at column 0
}

TEST(ScannerReader, SkipToIndent) {
  scan::Reader r = reader_over("\n \n    x");
  EXPECT_EQ(r.skip_to_indent(2), 2u);
  EXPECT_EQ(r.line, 2u);
  EXPECT_EQ(r.column, 2u);
  EXPECT_EQ(r.at(), ' ');
}

TEST(ScannerReader, LookAheadStaysInBounds) {
  scan::Reader r = reader_over("\xE2\x82");  // truncated sequence at the end
  EXPECT_EQ(r.char_length(), 2u);
  r.advance_char();
  EXPECT_TRUE(r.at_end());
  EXPECT_EQ(r.at(5), 0);
  EXPECT_EQ(r.peek_char(), U'\0');
  r.advance_three();
  EXPECT_EQ(r.offset, 2u);
  r.consume_line_break();  // nothing to consume at the end
  EXPECT_EQ(r.line, 0u);
}

}  // namespace
}  // namespace kestrine
