// Helpers for the scanner tests: run a scan and render events compactly.
#pragma once

#include <string>
#include <string_view>

#include "scanner/scanner.hpp"

namespace kestrine::scantest {

// Escapes line breaks, tabs and backslashes so a value fits on one line.
inline std::string escape_text(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

// One event as a short token: "+MAP", "+MAP{}", "-MAP", "+SEQ", "+SEQ[]",
// "-SEQ", "-BLK", "KEY", "?KEY", "VAL", "ENT", ",", "=p:text" (style letter
// p ' " | >), "&name", "*name", "!tag", "%directive", "+DOC", "-DOC".
inline std::string render_event(const SpannedEvent& e) {
  switch (e.kind) {
    case EventKind::StreamStart: return "+STR";
    case EventKind::StreamEnd: return "-STR";
    case EventKind::DocumentStart: return "+DOC";
    case EventKind::DocumentEnd: return "-DOC";
    case EventKind::MappingStart: return e.flow ? "+MAP{}" : "+MAP";
    case EventKind::MappingEnd: return "-MAP";
    case EventKind::SequenceStart: return e.flow ? "+SEQ[]" : "+SEQ";
    case EventKind::SequenceEnd: return "-SEQ";
    case EventKind::BlockEnd: return "-BLK";
    case EventKind::Key: return e.explicit_key ? "?KEY" : "KEY";
    case EventKind::Value: return "VAL";
    case EventKind::SequenceEntry: return "ENT";
    case EventKind::FlowEntry: return ",";
    case EventKind::Scalar: {
      static constexpr char kStyle[] = {'p', '\'', '"', '|', '>'};
      return std::string("=") + kStyle[static_cast<int>(e.style)] + ":" + escape_text(e.text());
    }
    case EventKind::Anchor: return "&" + std::string(e.text());
    case EventKind::Alias: return "*" + std::string(e.text());
    case EventKind::Tag: return std::string(e.text());
    case EventKind::Directive: return "%" + std::string(e.text());
  }
  return "?";
}

// The events between the stream markers, space-separated, or
// "ERROR <message> @<line>:<column>" (1-based) on failure.
inline std::string scan_render(std::string_view text, bool with_stream = false) {
  Scanner sc = new_scanner(text);
  auto r = scan_events(sc);
  if (!r) {
    return "ERROR " + r.error().message + " @" + std::to_string(r.error().span.line + 1) + ":" +
           std::to_string(r.error().span.column + 1);
  }
  std::string out;
  for (const SpannedEvent& e : r->events) {
    if (!with_stream && (e.kind == EventKind::StreamStart || e.kind == EventKind::StreamEnd)) continue;
    if (!out.empty()) out += ' ';
    out += render_event(e);
  }
  return out;
}

// The error message only ("" when the scan succeeds).
inline std::string scan_error(std::string_view text) {
  Scanner sc = new_scanner(text);
  auto r = scan_events(sc);
  return r ? std::string() : r.error().message;
}

}  // namespace kestrine::scantest
