// Composes every case of the YAML test suite (when the data is present).
// Cases without an `error` marker must compose, and the composed trees must
// show the same structure as the suite's event listing (tags aside).  Cases
// with one must fail as they fail in the plain decoder: same message, same
// place.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "roundtrip/compose/composer.hpp"
#include "yaml_suite.hpp"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::suite_cases;
using testing::SuiteCase;

std::string escape_event_text(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\b': out += "\\b"; break;
      case '\0': out += "\\0"; break;
      default: out += c;
    }
  }
  return out;
}

void node_events(const YamlNode& n, std::vector<std::string>& out) {
  std::string props = n.anchor() ? " &" + *n.anchor() : "";
  switch (n.kind()) {
    case NodeKind::Scalar: {
      static const char kStyle[] = {':', '\'', '"', '|', '>'};
      out.push_back("=VAL" + props + " " + kStyle[static_cast<int>(n.scalar_style())] +
                    escape_event_text(n.text()));
      break;
    }
    case NodeKind::Null:
      out.push_back("=VAL" + props + " :");
      break;
    case NodeKind::Alias:
      out.push_back("=ALI *" + n.text());
      break;
    case NodeKind::Sequence:
      out.push_back("+SEQ" + props);
      for (const YamlNode& i : n.items()) node_events(i, out);
      out.push_back("-SEQ");
      break;
    case NodeKind::Mapping:
      out.push_back("+MAP" + props);
      for (const NodePair& p : n.pairs()) {
        node_events(p.key, out);
        node_events(p.value, out);
      }
      out.push_back("-MAP");
      break;
  }
}

// The suite's event lines without tags, flow markers and document markers.
std::vector<std::string> expected_events(const std::string& listing) {
  std::vector<std::string> out;
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("+STR") || line.starts_with("-STR")) continue;
    if (line.starts_with("+DOC")) line = "+DOC";
    if (line.starts_with("-DOC")) line = "-DOC";
    if (line == "+MAP {}") line = "+MAP";
    if (line == "+SEQ []") line = "+SEQ";
    if (line.starts_with("+MAP {} ")) line = "+MAP " + line.substr(8);
    if (line.starts_with("+SEQ [] ")) line = "+SEQ " + line.substr(8);
    // Drop a tag "<...>" (it may stand after an anchor).
    auto lt = line.find(" <");
    if (lt != std::string::npos && !line.starts_with("=VAL :") ) {
      auto gt = line.find("> ", lt);
      auto gt_end = line.find('>', lt);
      if (gt != std::string::npos) line.erase(lt, gt - lt + 1);
      else if (gt_end == line.size() - 1) line.erase(lt);
    }
    out.push_back(line);
  }
  return out;
}

TEST(RoundtripSuite, ValidCasesComposeWithTheSuiteStructure) {
  auto cases = suite_cases();
  if (cases.empty()) GTEST_SKIP() << "yaml-test-suite data not present";

  int valid = 0, composed = 0, matched = 0, error_cases = 0, rejected = 0;
  std::vector<std::string> failures;
  for (const SuiteCase& c : cases) {
    std::string text = read_file(c.in_yaml());
    auto result = parse_roundtrip_multi(text);
    if (c.is_error()) {
      ++error_cases;
      if (!result) {
        ++rejected;
        const auto decoded = decode_stream(text, {});
        if (decoded) {
          failures.push_back(c.id + ": the decoder accepts it, the composer says " + result.error().message);
        } else if (decoded.error().message != result.error().message ||
                   !(decoded.error().span == result.error().span)) {
          failures.push_back(c.id + ": composer '" + result.error().message + "' at line " +
                             std::to_string(result.error().span.line + 1) + ", decoder '" +
                             decoded.error().message + "' at line " +
                             std::to_string(decoded.error().span.line + 1));
        }
      } else {
        failures.push_back(c.id + ": error case composed");
      }
      continue;
    }
    ++valid;
    if (!result) {
      failures.push_back(c.id + ": " + result.error().message + " at line " +
                           std::to_string(result.error().span.line + 1));
      continue;
    }
    ++composed;
    if (!fs::exists(c.dir / "test.event")) continue;
    std::vector<std::string> got;
    for (const YamlNode& root : result->roots) {
      got.push_back("+DOC");
      node_events(root, got);
      got.push_back("-DOC");
    }
    std::vector<std::string> want = expected_events(read_file(c.dir / "test.event"));
    if (got == want) {
      ++matched;
    } else {
      std::string diff;
      for (std::size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
        std::string g = i < got.size() ? got[i] : "<none>";
        std::string w = i < want.size() ? want[i] : "<none>";
        if (g != w) {
          diff = "event " + std::to_string(i) + ": got '" + g + "', want '" + w + "'";
          break;
        }
      }
      failures.push_back(c.id + ": structure differs: " + diff);
    }
  }
  std::cout << "[suite] valid " << valid << ", composed " << composed << ", structure matched "
            << matched << "; error cases " << error_cases << ", rejected " << rejected << "\n";
  for (const std::string& f : failures) ADD_FAILURE() << f;
}

}  // namespace
}  // namespace kestrine
