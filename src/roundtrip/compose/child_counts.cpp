#include "roundtrip/compose/child_counts.hpp"

namespace kestrine {

ChildCounts count_children(std::span<const SpannedEvent> ev) {
  enum class Frame : std::uint8_t { BlockMapping, BlockSequence, Indentless, Flow };
  struct Open {
    Frame frame;
    bool content;         // Flow: an item since the last ","
    std::uint32_t slot;   // its entry in `out`
  };
  ChildCounts out;
  std::vector<Open> stack;
  auto close = [&] {
    Open& top = stack.back();
    if (top.frame == Frame::Flow && top.content) ++out[top.slot].count;
    stack.pop_back();
  };
  auto open = [&](Frame frame, std::size_t i, std::uint32_t count) {
    stack.push_back(Open{frame, false, static_cast<std::uint32_t>(out.size())});
    out.push_back(ChildCount{static_cast<std::uint32_t>(i), count});
  };
  // Marks an item of the innermost flow collection.
  auto content = [&] {
    if (!stack.empty() && stack.back().frame == Frame::Flow) stack.back().content = true;
  };
  for (std::size_t i = 0; i < ev.size(); ++i) {
    const SpannedEvent& e = ev[i];
    switch (e.kind) {
      case EventKind::MappingStart:
      case EventKind::SequenceStart:
        content();
        open(e.flow ? Frame::Flow
                    : (e.kind == EventKind::MappingStart ? Frame::BlockMapping : Frame::BlockSequence),
             i, 0);
        break;
      case EventKind::MappingEnd:
      case EventKind::SequenceEnd:
      case EventKind::BlockEnd:
        if (!stack.empty() && stack.back().frame == Frame::Indentless) close();
        if (!stack.empty()) close();
        break;
      case EventKind::Key:
        if (!stack.empty() && stack.back().frame == Frame::Indentless) close();
        if (!stack.empty() && stack.back().frame == Frame::BlockMapping) ++out[stack.back().slot].count;
        content();
        break;
      case EventKind::SequenceEntry:
        if (stack.empty()) break;
        if (stack.back().frame == Frame::BlockMapping)
          open(Frame::Indentless, i, 1);
        else if (stack.back().frame != Frame::Flow)
          ++out[stack.back().slot].count;
        break;
      case EventKind::FlowEntry:
        if (!stack.empty() && stack.back().frame == Frame::Flow && stack.back().content) {
          ++out[stack.back().slot].count;
          stack.back().content = false;
        }
        break;
      case EventKind::StreamStart:
      case EventKind::StreamEnd:
      case EventKind::DocumentStart:
      case EventKind::DocumentEnd:
      case EventKind::Directive:
        while (!stack.empty()) close();
        break;
      default:  // Value, scalars, aliases, properties
        content();
        break;
    }
  }
  while (!stack.empty()) close();
  return out;
}

}  // namespace kestrine
