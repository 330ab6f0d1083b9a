// Sweep over the YAML test suite: every valid case decodes, every invalid case
// fails in the scanner or the decoder, except the cases listed below.  Values
// are compared with in.json on the Python side.
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "yaml_suite.hpp"

namespace kestrine {
namespace {

using testing::read_file;
using testing::suite_cases;
using testing::SuiteCase;

// Valid cases that the decoder refuses on purpose (the scanner's layout rules
// are stricter than the YAML grammar in these corners).
const std::set<std::string> kValidRefused = {
};

// Invalid cases that decode anyway: the error they test is one this library
// does not report.
const std::set<std::string> kInvalidAccepted = {
};

TEST(DecodeSuite, ValidCasesDecodeAndInvalidCasesFail) {
  const std::vector<SuiteCase> cases = suite_cases();
  if (cases.empty()) GTEST_SKIP() << "yaml-test-suite not present";
  int valid = 0, valid_ok = 0, invalid = 0, invalid_failed = 0;
  std::vector<std::string> unexpected;
  std::vector<std::string> stale;  // listed exceptions that no longer apply
  for (const SuiteCase& c : cases) {
    const std::string text = read_file(c.in_yaml());
    const auto r = decode_stream(text, {});
    if (!c.is_error()) {
      ++valid;
      if (r) {
        ++valid_ok;
        if (kValidRefused.contains(c.id)) stale.push_back(c.id);
      } else if (!kValidRefused.contains(c.id)) {
        unexpected.push_back(c.id + ": " + r.error().message + " at line " +
                             std::to_string(r.error().span.line + 1) + ", column " +
                             std::to_string(r.error().span.column + 1));
      }
    } else {
      ++invalid;
      if (!r) {
        ++invalid_failed;
        if (kInvalidAccepted.contains(c.id)) stale.push_back(c.id);
      } else if (!kInvalidAccepted.contains(c.id)) {
        unexpected.push_back(c.id + ": invalid case decoded without error");
      }
    }
  }
  std::cout << "[suite] valid " << valid_ok << "/" << valid << " decode, invalid " << invalid_failed
            << "/" << invalid << " fail\n";
  for (const std::string& id : stale)
    std::cout << "[suite] " << id << " behaves as its expectation now; drop it from the list\n";
  std::string all;
  for (const std::string& u : unexpected) all += "  " + u + "\n";
  EXPECT_TRUE(unexpected.empty()) << unexpected.size() << " unexpected results:\n" << all;
}

}  // namespace
}  // namespace kestrine
