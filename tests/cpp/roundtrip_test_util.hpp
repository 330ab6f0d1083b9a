// Helpers shared by the round-trip tree tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/compose/composer.hpp"
#include "roundtrip/document/document.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine::testing {

// Composes `text` and fails the test on an error.
inline std::vector<YamlNode> compose_ok(std::string_view text) {
  auto r = parse_roundtrip(text);
  if (!r) {
    ADD_FAILURE() << "compose failed: " << r.error().message << " at " << r.error().span.line
                  << ":" << r.error().span.column << "\n" << text;
    return {};
  }
  return std::move(*r);
}

// A document record holding `text`'s trees and the text itself.
inline DocumentRecord document_of(std::string_view text) {
  DocumentRecord rec;
  rec.roots = compose_ok(text);
  rec.source_text = std::string(text);
  return rec;
}

// The error message of composing `text` ("" when it composes).
inline std::string compose_error(std::string_view text) {
  auto r = parse_roundtrip(text);
  return r ? std::string() : r.error().message;
}

// The single root of `text`.
inline YamlNode root_of(std::string_view text) {
  auto roots = compose_ok(text);
  if (roots.size() != 1) {
    ADD_FAILURE() << "expected one root, got " << roots.size();
    return {};
  }
  return std::move(roots.front());
}

// The value under the scalar key `key` of a mapping (fails when absent).
inline const YamlNode& value_of(const YamlNode& map, std::string_view key) {
  for (const NodePair& p : map.pairs())
    if (p.key.is_scalar() && p.key.text() == key) return p.value;
  ADD_FAILURE() << "no key " << key;
  static const YamlNode none;
  return none;
}

// A compact structural rendering: kinds, texts, anchors, tags and styles.
inline void render(std::string& out, const YamlNode& n) {
  if (n.anchor()) out += "&" + *n.anchor() + " ";
  if (n.tag()) out += *n.tag() + " ";
  switch (n.kind()) {
    case NodeKind::Scalar:
      out += "'" + n.text() + "'";
      break;
    case NodeKind::Alias:
      out += "*" + n.text();
      break;
    case NodeKind::Null:
      out += "~";
      break;
    case NodeKind::Sequence: {
      out += n.style == CollectionStyle::Flow ? "f[" : "[";
      bool first = true;
      for (const YamlNode& i : n.items()) {
        if (!first) out += ", ";
        first = false;
        render(out, i);
      }
      out += "]";
      break;
    }
    case NodeKind::Mapping: {
      out += n.style == CollectionStyle::Flow ? "f{" : "{";
      bool first = true;
      for (const NodePair& p : n.pairs()) {
        if (!first) out += ", ";
        first = false;
        render(out, p.key);
        out += ": ";
        render(out, p.value);
      }
      out += "}";
      break;
    }
  }
}

inline std::string render(const YamlNode& n) {
  std::string out;
  render(out, n);
  return out;
}

}  // namespace kestrine::testing
