// Helpers shared by the bridge tests: composed trees converted to annotated
// objects, and a one-line rendering of every annotated value in a result.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ffi/convert/annotate.hpp"
#include "ffi_support.hpp"
#include "ffi/convert/node_bridge.hpp"
#include "roundtrip_test_util.hpp"

namespace kestrine::testing {

// Makes the package's annotated scalar classes reachable as
// kestrine.KestrineAnnotated* without the compiled module, and defines
// `_m(x)` (one line describing an annotated value) and `_walk(x, out)`
// (`_m` of every annotated value in document order).
inline void setup_annotated_package() {
  install_bare_package();
  run("import kestrine, kestrine._annotated as _ka\n"
      "for _n in _ka.__all__: setattr(kestrine, _n, getattr(_ka, _n))\n"
      "def _m(x):\n"
      "    s = getattr(x, '__style__', None)\n"
      "    shown = len(x) if isinstance(x, (dict, list)) else x\n"
      "    return '%s %r %d:%d-%d:%d @%d-%d%s%s%s' % (type(x).__name__, shown,\n"
      "        x.__line__, x.__column__, x.__end_line__, x.__end_column__, x.__offset__, x.__end_offset__,\n"
      "        ' ' + s if s else '', ' file=' + x.__file__ if x.__file__ else '',\n"
      "        ' src=%s:%s' % (x.__source_tag__, x.__source_target__) if x.__source_tag__ else '')\n"
      "def _walk(x, out):\n"
      "    if hasattr(x, '__line__'): out.append(_m(x))\n"
      "    if isinstance(x, dict):\n"
      "        for k, v in x.items(): _walk(k, out); _walk(v, out)\n"
      "    elif isinstance(x, list):\n"
      "        for v in x: _walk(v, out)\n"
      "    return out\n");
}

// `text`'s first document as annotated objects, also bound as `_r`.
inline OwnedRef annotated(std::string_view text, VersionMode mode = VersionMode::Yaml12, bool numbers = false,
                          std::vector<std::string> files = {}, const TagHandlers& handlers = {}) {
  setup_annotated_package();
  auto roots = compose_ok(text);
  if (roots.empty()) return {};
  auto bindings = bind_anchors(roots);
  EXPECT_TRUE(bindings);
  if (!bindings) return {};
  auto obj = tree_to_annotated(roots.front(), files, mode, handlers, *bindings, numbers);
  if (!obj) {
    ADD_FAILURE() << obj.error().message();
    return {};
  }
  bind("_r", obj->get());
  return std::move(*obj);
}

// `text`'s first document as plain objects, also bound as `_r`.
inline OwnedRef plain(std::string_view text, VersionMode mode = VersionMode::Yaml12, const TagHandlers& handlers = {}) {
  auto roots = compose_ok(text);
  if (roots.empty()) return {};
  auto bindings = bind_anchors(roots);
  EXPECT_TRUE(bindings);
  if (!bindings) return {};
  auto obj = tree_to_py(roots.front(), mode, handlers, *bindings);
  if (!obj) {
    ADD_FAILURE() << obj.error().message();
    return {};
  }
  bind("_r", obj->get());
  return std::move(*obj);
}

inline std::string annotated_lines(PyObject* obj) {
  bind("_x", obj);
  return to_std(eval("'\\n'.join(_walk(_x, []))").get());
}

}  // namespace kestrine::testing
