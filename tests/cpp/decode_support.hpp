// Helpers shared by the decoder tests: decoding with options and a compact
// rendering of value trees for assertions.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <variant>

#include "decode/decoder.hpp"
#include "resolver/timestamp.hpp"

namespace kestrine::test {

// Flow-like text of a value: null, true, 12, 1.5, "s", big:123, ts:2001-..,
// [a, b], {k: v}, !tag v.
inline void render(std::string& out, const YamlValue& v) {
  switch (v.kind) {
    case ValueKind::Null: out += "null"; return;
    case ValueKind::Bool: out += v.boolean ? "true" : "false"; return;
    case ValueKind::Int: out += std::to_string(v.integer); return;
    case ValueKind::BigInt: out += "big:"; out += v.text(); return;
    case ValueKind::Float: {
      std::string s = std::to_string(v.real);
      while (s.size() > 1 && s.back() == '0') s.pop_back();
      if (!s.empty() && s.back() == '.') s += '0';
      out += s;
      return;
    }
    case ValueKind::String: out += '"'; out += v.text(); out += '"'; return;
    case ValueKind::Timestamp: out += "ts:"; out += format_timestamp(v.timestamp()); return;
    case ValueKind::Sequence: {
      out += '[';
      bool first = true;
      for (const YamlValue& item : v.items()) {
        if (!first) out += ", ";
        first = false;
        render(out, item);
      }
      out += ']';
      return;
    }
    case ValueKind::Mapping: {
      out += '{';
      bool first = true;
      for (const ValuePair& p : v.pairs()) {
        if (!first) out += ", ";
        first = false;
        render(out, p.key);
        out += ": ";
        render(out, p.value);
      }
      out += '}';
      return;
    }
    case ValueKind::Tagged:
      out += v.tagged().tag;
      out += ' ';
      render(out, v.tagged().inner);
      return;
  }
}

inline std::string show(const YamlValue& v) {
  std::string s;
  render(s, v);
  return s;
}

inline DecodeOptions opts_with(DuplicateKeyPolicy dup = DuplicateKeyPolicy::Silent,
                               VersionMode mode = VersionMode::Yaml12) {
  DecodeOptions o;
  o.duplicate_keys = dup;
  o.version_mode = mode;
  return o;
}

// All documents, joined by " | ", or "ERROR(kind): message @line:col" (1-based).
inline std::string decode_all(std::string_view text, const DecodeOptions& o = {}) {
  auto r = decode_stream(text, o);
  if (!r) {
    return "ERROR(" + std::to_string(static_cast<int>(r.error().kind)) + "): " +
           r.error().message + " @" + std::to_string(r.error().span.line + 1) + ":" +
           std::to_string(r.error().span.column + 1);
  }
  std::string s;
  for (std::size_t i = 0; i < r->documents.size(); ++i) {
    if (i) s += " | ";
    render(s, r->documents[i]);
  }
  return s;
}

inline std::string error_message(std::string_view text, const DecodeOptions& o = {}) {
  auto r = decode_stream(text, o);
  return r ? std::string("<no error>") : r.error().message;
}

}  // namespace kestrine::test
