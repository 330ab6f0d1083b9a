#include "resolver/kind.hpp"

namespace kestrine {

std::string_view core_tag_name(std::string_view tag) noexcept {
  if (tag.size() > 2 && tag[0] == '!' && tag[1] == '!') return tag.substr(2);
  if (tag.size() > kCoreTagPrefix.size() && tag.starts_with(kCoreTagPrefix))
    return tag.substr(kCoreTagPrefix.size());
  return {};
}

}  // namespace kestrine
