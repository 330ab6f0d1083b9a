// Helpers shared by the schema validation tests: schemas and documents
// written as YAML text.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "decode/decoder.hpp"
#include "roundtrip_test_util.hpp"
#include "schema/validate.hpp"

namespace kestrine::test {

// A value tree decoded from YAML text (the text kept alive with it).
inline DecodedStream decode_ok(std::string_view text, VersionMode mode = VersionMode::Yaml12) {
  DecodeOptions options;
  options.version_mode = mode;
  auto decoded = decode_stream_owned(std::string(text), options);
  if (!decoded || decoded->documents.empty()) {
    ADD_FAILURE() << "does not decode to a document: " << text;
    return DecodedStream{};
  }
  return std::move(*decoded);
}

// A schema written as YAML, compiled.
class TestSchema {
 public:
  explicit TestSchema(std::string_view text) : stream_(decode_ok(text)) {
    if (!stream_.documents.empty()) set_ = std::make_unique<SchemaSet>(stream_.documents.front());
  }
  const SchemaSet& set() const { return *set_; }
  const YamlValue& value() const { return stream_.documents.front(); }

 private:
  DecodedStream stream_;
  std::unique_ptr<SchemaSet> set_;
};

// The first failure of the document `doc` against `schema`, as
// "message at path (line:column)" with a 1-based position; "" when valid.
inline std::string first_failure(const YamlNode& root, const TestSchema& schema, bool yaml11 = false) {
  const auto error = validate_root(root, schema.set(), KeyReading(yaml11 ? VersionMode::Yaml11 : VersionMode::Yaml12));
  if (!error) return "";
  return error->message + " at " + error->schema_path + " (" + std::to_string(error->span.line + 1) + ":" +
         std::to_string(error->span.column + 1) + ")";
}

inline std::string first_failure(std::string_view doc, std::string_view schema, bool yaml11 = false) {
  return first_failure(testing::root_of(doc), TestSchema(schema), yaml11);
}

}  // namespace kestrine::test
