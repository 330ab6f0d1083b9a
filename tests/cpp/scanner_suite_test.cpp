// The scanner against the YAML test suite (skipped when the data is absent):
// every valid case scans, with the scalar values the suite's event files
// give; every invalid case fails in the scanner, or is listed below with the
// later stage or the deliberate leniency that decides it.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scanner/scanner.hpp"
#include "scanner_test_util.hpp"
#include "yaml_suite.hpp"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::suite_cases;
using testing::SuiteCase;

// Invalid streams whose events are well formed: the decoder (and the
// composer) reject them from the event structure.
const std::map<std::string, const char*> kDecoderRejects = {
    {"4HVU", "a block collection cannot be a mapping key"},
    {"4JVG", "a node cannot have two anchors"},
    {"6S55", "expected ':' after mapping key"},
    {"8XDJ", "expected ':' after mapping key"},
    {"9MMA", "directive must be followed by a document start (---)"},
    {"B63P", "directive must be followed by a document start (---)"},
    {"BD7L", "trailing content after document"},
    {"BF9H", "expected ':' after mapping key"},
    {"BS4K", "trailing content after document"},
    {"DK95/06", "a block collection cannot be a mapping key"},
    {"DMG6", "a block collection cannot be a mapping key"},
    {"EW3V", "a block collection cannot be a mapping key"},
    {"GT5M", "trailing content after document"},
    {"H7TQ", "invalid %YAML directive"},
    {"KS4U", "trailing content after document"},
    {"MUS6/00", "invalid %YAML directive"},
    {"N4JP", "a block collection cannot be a mapping key"},
    {"QLJ7", "undefined tag handle: !prefix!"},
    {"SF5V", "duplicate %YAML directive"},
    {"SR86", "an alias node cannot have an anchor or tag"},
    {"SU74", "an alias node cannot have an anchor or tag"},
    {"TD5N", "trailing content after document"},
    {"U44R", "a block collection cannot be a mapping key"},
};

// Invalid streams accepted on purpose: none.
const std::map<std::string, const char*> kLenientAccepts = {};

// Valid streams the scanner rejects on purpose: none.
const std::map<std::string, const char*> kDeliberateRejects = {};

// Undoes the suite's escaping of values in test.event.
std::string unescape_event_text(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    switch (char c = s[++i]) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'b': out += '\b'; break;
      case '\\': out += '\\'; break;
      default: out += '\\'; out += c;
    }
  }
  return out;
}

// Style character and value of every non-empty scalar in test.event (empty
// plain values are the null nodes that consumers supply).
std::vector<std::string> expected_scalars(const fs::path& event_file) {
  std::vector<std::string> out;
  std::istringstream in(read_file(event_file));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("=VAL ", 0) != 0) continue;
    std::string rest = line.substr(5);
    while (!rest.empty() && (rest[0] == '&' || rest[0] == '<')) {
      std::size_t cut = rest[0] == '<' ? rest.find("> ") + 1 : rest.find(' ');
      if (cut == std::string::npos) break;
      rest = rest.substr(cut + 1);
    }
    if (rest == ":") continue;
    out.push_back(rest.substr(0, 1) + unescape_event_text(std::string_view(rest).substr(1)));
  }
  return out;
}

TEST(ScannerSuite, YamlTestSuite) {
  const std::vector<SuiteCase> cases = suite_cases();
  if (cases.empty()) GTEST_SKIP() << "yaml-test-suite not found at " << testing::suite_dir();

  int valid_ok = 0, valid_rejected = 0, invalid_scanner = 0, invalid_decoder = 0, invalid_lenient = 0;
  std::set<std::string> seen;
  for (const SuiteCase& c : cases) {
    const fs::path& dir = c.dir;
    const std::string& name = c.id;
    const std::string text = read_file(c.in_yaml());
    const bool invalid = c.is_error();
    Scanner sc = new_scanner(text);
    auto r = scan_events(sc);
    seen.insert(name);

    if (invalid) {
      if (!r) {
        ++invalid_scanner;
        EXPECT_FALSE(kDecoderRejects.contains(name) || kLenientAccepts.contains(name))
            << name << " now fails in the scanner (" << r.error().message << "): update the lists";
      } else if (kDecoderRejects.contains(name)) {
        ++invalid_decoder;
      } else if (kLenientAccepts.contains(name)) {
        ++invalid_lenient;
      } else {
        ADD_FAILURE() << name << " (invalid) scans without error";
      }
      continue;
    }
    if (!r) {
      ++valid_rejected;
      EXPECT_TRUE(kDeliberateRejects.contains(name))
          << name << " (valid) fails: " << r.error().message << " at " << r.error().span.line + 1 << ":"
          << r.error().span.column + 1;
      continue;
    }
    ++valid_ok;
    static constexpr char kStyle[] = {':', '\'', '"', '|', '>'};
    std::vector<std::string> got;
    for (const SpannedEvent& e : r->events) {
      if (e.kind == EventKind::Scalar)
        got.push_back(kStyle[static_cast<int>(e.style)] + std::string(e.text()));
    }
    if (fs::exists(dir / "test.event")) {
      std::vector<std::string> want = expected_scalars(dir / "test.event");
      ASSERT_EQ(want.size(), got.size()) << name;
      for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(scantest::escape_text(want[i]), scantest::escape_text(got[i])) << name << " scalar " << i;
      }
    }
  }
  for (const auto& [name, why] : kDecoderRejects) EXPECT_TRUE(seen.contains(name)) << name;
  for (const auto& [name, why] : kLenientAccepts) EXPECT_TRUE(seen.contains(name)) << name;

  std::cout << "[ suite    ] valid: " << valid_ok << " scanned, " << valid_rejected
            << " rejected; invalid: " << invalid_scanner << " rejected by the scanner, " << invalid_decoder
            << " left to the decoder, " << invalid_lenient << " accepted leniently\n";
}

}  // namespace
}  // namespace kestrine
