"""Aliases of a round-trip document read back as their anchor's value after
any sequence of structural edits.

Random documents with anchors and aliases at any depth take random edits
(new and replaced keys and items, deletions that shift later items, edits
through an alias, node values, new anchors, make_alias, detach) while a
small model of the tree takes the same edits.  After every edit each read
of the document (to_dict, item access, node values at every alias) and the
rendered text loaded again must give the model's data, and an edit that
would leave an alias without its anchor must be refused unchanged."""

import itertools

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kestrine

RT = kestrine.OPT_ROUND_TRIP


class Node:
    """One node of the model: kind "scalar", "map" (a list of [key, Node]),
    "seq" (a list of Node) or "alias" (the anchor name)."""

    def __init__(self, kind, value, anchor=None):
        self.kind, self.value, self.anchor = kind, value, anchor

    def children(self):
        if self.kind == "map":
            return [v for _, v in self.value]
        return list(self.value) if self.kind == "seq" else []

    def walk(self, path=()):
        """(path, node) of this node and every node below it, in document order."""
        yield path, self
        steps = self.value if self.kind == "map" else enumerate(self.value) if self.kind == "seq" else ()
        for step, child in steps:
            yield from child.walk(path + (step,))

    def text(self):
        mark = f"&{self.anchor} " if self.anchor else ""
        if self.kind == "alias":
            return f"*{self.value}"
        if self.kind == "map":
            return mark + "{" + ", ".join(f"{k}: {v.text()}" for k, v in self.value) + "}"
        if self.kind == "seq":
            return mark + "[" + ", ".join(v.text() for v in self.value) + "]"
        return mark + str(self.value)

    def data(self, anchors):
        if self.kind == "alias":
            return anchors[self.value].data(anchors)
        if self.kind == "map":
            return {k: v.data(anchors) for k, v in self.value}
        if self.kind == "seq":
            return [v.data(anchors) for v in self.value]
        return self.value


def from_data(value):
    if isinstance(value, dict):
        return Node("map", [[k, from_data(v)] for k, v in value.items()])
    if isinstance(value, list):
        return Node("seq", [from_data(v) for v in value])
    return Node("scalar", value)


class Model:
    """The root mapping: [key, Node] pairs written one per line."""

    def __init__(self, pairs):
        self.root = Node("map", pairs)

    def text(self):
        return "".join(f"{k}: {v.text()}\n" for k, v in self.root.value)

    def anchors(self):
        return {n.anchor: n for _, n in self.root.walk() if n.anchor}

    def dangling(self):
        used = {n.value for _, n in self.root.walk() if n.kind == "alias"}
        return used - set(self.anchors())

    def data(self):
        return self.root.data(self.anchors())

    def at(self, path):
        node = self.root
        for step in path:
            node = dict(node.value)[step] if node.kind == "map" else node.value[step]
        return node

    def resolve(self, node):
        return self.anchors()[node.value] if node.kind == "alias" else node


names = itertools.count()
words = st.integers(0, 99).map(lambda i: f"v{i}") | st.integers(-5, 500)
plain = st.recursive(words, lambda inner: st.lists(inner, max_size=3)
                     | st.dictionaries(st.sampled_from(["x", "y", "z", "w"]), inner, max_size=3), max_leaves=5)


@st.composite
def documents(draw):
    """A model whose aliases name anchors of earlier top-level entries."""
    pairs, defined = [], []

    def node(depth):
        if defined and draw(st.integers(0, 3)) == 0:
            return Node("alias", draw(st.sampled_from(defined)))
        kind = draw(st.sampled_from(["scalar", "map", "seq"] if depth < 2 else ["scalar"]))
        if kind == "scalar":
            n = Node("scalar", draw(words))
        elif kind == "map":
            keys = draw(st.lists(st.sampled_from(["x", "y", "z", "w"]), unique=True, max_size=3))
            n = Node("map", [[k, node(depth + 1)] for k in keys])
        else:
            n = Node("seq", [node(depth + 1) for _ in range(draw(st.integers(0, 3)))])
        if draw(st.booleans()):
            n.anchor = f"a{next(names)}"
        return n

    for i in range(draw(st.integers(2, 6))):
        value = node(0)
        pairs.append([f"k{i}", value])
        defined += [n.anchor for _, n in value.walk() if n.anchor]
    return Model(pairs)


def read(doc, key):
    value = doc[key]
    return value.to_dict() if isinstance(value, kestrine.KestrineDocumentView) else value


def check(doc, model):
    """Every read of the document gives the model's data."""
    expected = model.data()
    assert doc.to_dict() == expected
    for key, value in expected.items():
        assert read(doc, key) == value, key
    for path, node in model.root.walk():
        if node.kind == "alias":
            assert doc.locate(list(path)).value == model.resolve(node).data(model.anchors()), path
    text = doc.to_yaml()
    assert kestrine.loads(text) == expected, text


def edit(doc, model, data):
    """One random edit of both; returns nothing, checks a refusal itself."""
    top = [k for k, _ in model.root.value]
    kind = data.draw(st.sampled_from(["add", "set", "delete", "nested", "value", "anchor", "make_alias", "detach"]))
    if kind == "add" or not top:
        value, new_key = data.draw(plain), f"n{next(names)}"
        doc[new_key] = value
        model.root.value.append([new_key, from_data(value)])
        return
    key = data.draw(st.sampled_from(top))
    EDITS[kind](doc, model, data, key, top.index(key), model.at([key]))


def _replace(new, target):
    # Replaced nodes keep their own anchor; anchors below them go.
    keep = target.anchor if target.kind != "alias" else None
    return Node(new.kind, new.value, keep)


def _set(doc, model, data, key, index, node, through_node=False):
    value = data.draw(plain)
    new = _replace(from_data(value), node)
    old, model.root.value[index][1] = node, new
    if model.dangling():
        model.root.value[index][1] = old
        return
    if through_node:
        doc.node[key].value = value
    else:
        doc[key] = value


def _delete(doc, model, data, key, index, node):
    before = doc.to_yaml()
    del model.root.value[index]
    if model.dangling():
        model.root.value.insert(index, [key, node])
        try:
            del doc[key]
        except ValueError as exc:
            assert "still referenced" in str(exc)
            assert doc.to_yaml() == before
            return
        raise AssertionError("a deletion that leaves an alias without its anchor was accepted")
    del doc[key]


def _nested(doc, model, data, key, index, node):
    target = model.resolve(node)
    if target.kind not in ("map", "seq"):
        return
    view = doc[key]  # through an alias: the anchored node itself
    if target.kind == "map":
        child = data.draw(st.sampled_from([k for k, _ in target.value] + ["fresh"]))
    else:
        if not target.value:
            return
        child = data.draw(st.integers(0, len(target.value) - 1))
    saved = [list(p) if target.kind == "map" else p for p in target.value]
    if data.draw(st.booleans()) or child == "fresh":
        _nested_set(model, data, view, target, child, saved)
    else:
        _nested_delete(doc, model, view, target, child, saved)


def _nested_set(model, data, view, target, child, saved):
    value = data.draw(plain)
    if child == "fresh":
        child = f"f{next(names)}"
        target.value.append([child, from_data(value)])
    elif target.kind == "map":
        pair = next(p for p in target.value if p[0] == child)
        pair[1] = _replace(from_data(value), pair[1])
    else:
        target.value[child] = _replace(from_data(value), target.value[child])
    if model.dangling():
        target.value[:] = saved
        return
    view[child] = value


def _nested_delete(doc, model, view, target, child, saved):
    before = doc.to_yaml()
    if target.kind == "map":
        target.value[:] = [p for p in target.value if p[0] != child]
    else:
        del target.value[child]
    refused = bool(model.dangling())
    try:
        del view[child]
    except ValueError as exc:
        assert refused and "still referenced" in str(exc), exc
        target.value[:] = saved
        assert doc.to_yaml() == before
        return
    assert not refused, "a deletion that leaves an alias without its anchor was accepted"


def _anchor(doc, model, data, key, index, node):
    if node.kind == "alias" or node.anchor:
        return
    node.anchor = f"a{next(names)}"
    doc.node[key].anchor = node.anchor


def _make_alias(doc, model, data, key, index, node):
    earlier = [n.anchor for _, v in model.root.value[:index] for _, n in v.walk() if n.anchor]
    if not earlier:
        return
    name = data.draw(st.sampled_from(earlier))
    model.root.value[index][1] = Node("alias", name)
    if model.dangling():
        model.root.value[index][1] = node
        return
    doc.node[key].make_alias(name)


def _detach(doc, model, data, key, index, node):
    if node.kind != "alias":
        return
    target = model.resolve(node)
    if any(n.anchor for _, n in target.walk() if n is not target):
        return  # a copy would define those anchors a second time
    model.root.value[index][1] = from_data(target.data(model.anchors()))
    doc.node[key].detach()


EDITS = {
    "set": _set,
    "value": lambda *args: _set(*args, through_node=True),
    "delete": _delete,
    "nested": _nested,
    "anchor": _anchor,
    "make_alias": _make_alias,
    "detach": _detach,
}


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(documents(), st.data())
def test_aliases_read_as_their_anchors_after_random_edits(model, data):
    text = model.text()
    doc = kestrine.loads(text, option=RT)
    assert doc.to_yaml().decode() == text
    check(doc, model)
    for _ in range(data.draw(st.integers(1, 8))):
        edit(doc, model, data)
        check(doc, model)
