#include "schema/pattern_set.hpp"

#include <cstddef>
#include <utility>

namespace kestrine {

namespace {

// One intersection: literals, each taken as it is or as its complement.
using Minterm = std::vector<std::pair<const ClassLiteral*, bool>>;  // (literal, complemented)
constexpr std::size_t kMaxMinterms = 256;

// The union of intersections equal to `e` (or to its complement with
// `negate`); false when it grows past kMaxMinterms.
bool minterms(const SetExpr& e, bool negate, std::vector<Minterm>& out) {
  using Op = SetExpr::Op;
  const auto cross = [](const std::vector<Minterm>& a, const std::vector<Minterm>& b, std::vector<Minterm>& into) {
    if (a.size() * b.size() > kMaxMinterms) return false;
    for (const Minterm& x : a)
      for (const Minterm& y : b) {
        Minterm m = x;
        m.insert(m.end(), y.begin(), y.end());
        into.push_back(std::move(m));
      }
    return true;
  };
  switch (e.op) {
    case Op::Literal:
      out.push_back(Minterm{{&e.literal, negate}});
      return true;
    case Op::Not:
      return minterms(e.parts[0], !negate, out);
    case Op::Union:
    case Op::Inter: {
      // A union, or a complemented intersection: the parts' terms side by
      // side; an intersection, or a complemented union: their product.
      const bool side_by_side = (e.op == Op::Union) != negate;
      std::vector<Minterm> acc;
      if (!side_by_side) acc.push_back({});
      for (const SetExpr& part : e.parts) {
        std::vector<Minterm> terms;
        if (!minterms(part, negate, terms)) return false;
        if (side_by_side) {
          acc.insert(acc.end(), terms.begin(), terms.end());
        } else {
          std::vector<Minterm> next;
          if (!cross(acc, terms, next)) return false;
          acc = std::move(next);
        }
        if (acc.size() > kMaxMinterms) return false;
      }
      out.insert(out.end(), acc.begin(), acc.end());
      return out.size() <= kMaxMinterms;
    }
    case Op::Diff:
    case Op::SymDiff: {
      // The terms point into `e`: no temporary expression is made.
      const auto terms_of = [&](const SetExpr& part, bool complemented, std::vector<Minterm>& into) {
        return minterms(part, complemented, into);
      };
      const auto product = [&](bool ca, bool cb) {
        std::vector<Minterm> a, b;
        if (!terms_of(e.parts[0], ca, a) || !terms_of(e.parts[1], cb, b)) return false;
        return cross(a, b, out) && out.size() <= kMaxMinterms;
      };
      if (e.op == Op::Diff) {
        if (!negate) return product(false, true);  // a ∧ ¬b
        return terms_of(e.parts[0], true, out) && terms_of(e.parts[1], false, out) && out.size() <= kMaxMinterms;
      }
      if (!negate) return product(false, true) && product(true, false);  // (a ∧ ¬b) ∨ (¬a ∧ b)
      return product(false, false) && product(true, true);               // (a ∧ b) ∨ (¬a ∧ ¬b)
    }
  }
  return false;
}

}  // namespace

std::optional<std::string> spell_set(const SetExpr& e) {
  std::vector<Minterm> terms;
  if (!minterms(e, false, terms)) return std::nullopt;
  if (terms.empty()) return "[^\\x{0}-\\x{10FFFF}]";  // matches nothing
  // Terms of one literal taken as it is go together in one class.
  std::string singles;
  std::vector<std::string> classes;
  for (const Minterm& m : terms) {
    if (m.size() == 1 && !m[0].second) {
      singles += m[0].first->positive;
      continue;
    }
    std::string items;
    for (const auto& [lit, complemented] : m) items += complemented ? lit->positive : lit->negated;
    classes.push_back(items.empty() ? "[\\x{0}-\\x{10FFFF}]" : "[^" + items + "]");
  }
  if (!singles.empty()) classes.insert(classes.begin(), "[" + singles + "]");
  if (classes.size() == 1) return classes.front();
  std::string out = "(?:";
  for (std::size_t i = 0; i < classes.size(); ++i) out += (i > 0 ? "|" : "") + classes[i];
  return out + ")";
}

SetExpr literal_expr(ClassLiteral lit) { return SetExpr{SetExpr::Op::Literal, std::move(lit), {}}; }

SetExpr property_expr(PropertySet set) {
  SetExpr u{SetExpr::Op::Union, {}, {}};
  for (ClassLiteral& lit : set.literals) u.parts.push_back(literal_expr(std::move(lit)));
  if (!set.complement) return u;
  return SetExpr{SetExpr::Op::Not, {}, {std::move(u)}};
}

}  // namespace kestrine
