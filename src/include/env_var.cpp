#include "include/env_var.hpp"

#include <cstdlib>
#include <utility>
#include <vector>

#include "decode/decoder.hpp"
#include "util/try.hpp"
#include "util/utf8.hpp"

namespace kestrine {
namespace {

// The value at the tag (zero length), with the directive as its
// provenance, so that writing the file back writes the directive again.
YamlNode at_directive(YamlNode value, std::string_view argument) {
  value.set_end_to_start();
  value.set_source(IncludeSource{"!env_var", std::string(argument), std::nullopt});
  return value;
}

}  // namespace

std::optional<std::string> read_env_var(std::string_view name) {
  if (name.empty() || name.find_first_of(std::string_view("\0=", 2)) != std::string_view::npos) return std::nullopt;
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  std::string text(value);
  if (!is_valid_utf8(text)) return std::nullopt;
  return text;
}

LoadResult<YamlNode> resolve_env_var(IncludeContext& ctx, const YamlNode& tagged, std::span<const IncludeFrame> chain) {
  const std::string_view argument = tagged.is_scalar() ? std::string_view(tagged.text()) : std::string_view();
  const std::vector<std::string_view> words = split_directive_words(argument);
  std::string value;
  if (!words.empty()) {
    if (auto found = read_env_var(words.front())) {
      value = std::move(*found);
    } else if (words.size() > 1) {
      value = words[1];
      for (std::size_t i = 2; i < words.size(); ++i) {
        value += ' ';
        value += words[i];
      }
    } else if (ctx.env_var_miss_nonfatal) {
      ctx.missing_env_vars.push_back(MissingEnvVar{std::string(words.front()), source_name(ctx, tagged.span.file_id),
                                                   tagged.span.line, tagged.span.column});
      return at_directive(YamlNode::null_at(tagged.span), argument);
    } else {
      return std::unexpected(make_load_error(IncludeErrorKind::EnvVar,
                                             "environment variable " + std::string(words.front()) + " is not defined",
                                             source_name(ctx, tagged.span.file_id), chain, tagged.span));
    }
  }
  // A large variable named by many tags is as much a fan-out as a large
  // file included many times.
  KESTRINE_TRY(charge_expansion(ctx, Placement{value.size(), 1}, source_name(ctx, tagged.span.file_id), chain));
  return at_directive(YamlNode::scalar(std::move(value), ScalarStyle::SingleQuoted, tagged.span), argument);
}

}  // namespace kestrine
