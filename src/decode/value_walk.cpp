// Whole-tree operations on value trees (declared in decode/value.hpp):
// counting, releasing, copying and comparing, all iterative.
#include "decode/value.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "resolver/resolve.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

// ---- whole-tree operations ----------------------------------------------------

std::uint64_t count_value_nodes(const YamlValue& value) {
  std::uint64_t count = 0;
  std::vector<const YamlValue*> stack;
  stack.reserve(32);
  stack.push_back(&value);
  while (!stack.empty()) {
    const YamlValue* v = stack.back();
    stack.pop_back();
    ++count;
    switch (v->kind) {
      case ValueKind::Sequence:
        for (const YamlValue& item : v->items()) stack.push_back(&item);
        break;
      case ValueKind::Mapping:
        for (const ValuePair& pair : v->pairs()) {
          stack.push_back(&pair.key);
          stack.push_back(&pair.value);
        }
        break;
      case ValueKind::Tagged:
        stack.push_back(&v->tagged().inner);
        break;
      default:
        break;
    }
  }
  return count;
}

void drop_value_tree(ValueArena&& arena) noexcept { arena.release(); }

void drop_value_tree(ValueTree&& tree) noexcept {
  tree.root = YamlValue::null();
  tree.arena.release();
}

bool values_equal(const YamlValue& a, const YamlValue& b) {
  std::vector<std::pair<const YamlValue*, const YamlValue*>> stack;
  stack.emplace_back(&a, &b);
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (x->kind != y->kind) return false;
    switch (x->kind) {
      case ValueKind::Null:
        break;
      case ValueKind::Bool:
        if (x->boolean != y->boolean) return false;
        break;
      case ValueKind::Int:
        if (x->integer != y->integer) return false;
        break;
      case ValueKind::Float:
        if (!(x->real == y->real)) return false;
        break;
      case ValueKind::BigInt:
        // "1_000..." under YAML 1.1 and "1000..." are one integer.
        if (x->text() != y->text() && canonical_bigint_text(x->text()) != canonical_bigint_text(y->text()))
          return false;
        break;
      case ValueKind::String:
        if (x->text() != y->text()) return false;
        break;
      case ValueKind::Timestamp:
        if (!(x->timestamp() == y->timestamp())) return false;
        break;
      case ValueKind::Sequence: {
        auto xi = x->items();
        auto yi = y->items();
        if (xi.size() != yi.size()) return false;
        for (std::size_t i = 0; i < xi.size(); ++i) stack.emplace_back(&xi[i], &yi[i]);
        break;
      }
      case ValueKind::Mapping: {
        auto xp = x->pairs();
        auto yp = y->pairs();
        if (xp.size() != yp.size()) return false;
        for (std::size_t i = 0; i < xp.size(); ++i) {
          stack.emplace_back(&xp[i].key, &yp[i].key);
          stack.emplace_back(&xp[i].value, &yp[i].value);
        }
        break;
      }
      case ValueKind::Tagged:
        if (x->tagged().tag != y->tagged().tag) return false;
        stack.emplace_back(&x->tagged().inner, &y->tagged().inner);
        break;
    }
  }
  return true;
}

}  // namespace kestrine
