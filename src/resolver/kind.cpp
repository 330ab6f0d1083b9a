#include "resolver/kind.hpp"

namespace kestrine {

std::string_view unwrap_verbatim_tag(std::string_view tag) noexcept {
  if (tag.size() > 3 && tag.starts_with("!<") && tag.ends_with('>')) return tag.substr(2, tag.size() - 3);
  return tag;
}

std::string_view core_tag_name(std::string_view tag) noexcept {
  if (tag.size() > 2 && tag[0] == '!' && tag[1] == '!') return tag.substr(2);
  tag = unwrap_verbatim_tag(tag);
  if (tag.size() > kCoreTagPrefix.size() && tag.starts_with(kCoreTagPrefix))
    return tag.substr(kCoreTagPrefix.size());
  return {};
}

bool is_core_tag(std::string_view tag) noexcept {
  return tag.starts_with("!!") || unwrap_verbatim_tag(tag).starts_with(kCoreTagPrefix);
}

}  // namespace kestrine
