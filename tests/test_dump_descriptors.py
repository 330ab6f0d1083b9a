"""The node descriptor classes KestrineScalar, KestrineSequence and
KestrineMapping: construction, validation, attributes and repr."""

import gc
import weakref

import pytest

from kestrine import KestrineMapping, KestrineScalar, KestrineSequence, KestrineTag


def test_scalar_defaults_and_attributes():
    s = KestrineScalar("x")
    assert (s.value, s.tag, s.style, s.comment, s.comment_before, s.comment_after) == \
        ("x", None, "auto", None, None, None)
    assert KestrineScalar("x", style=None).style == "auto"
    s = KestrineScalar("v", tag="!t", style="literal", comment="c", comment_before="a\r\nb\rc",
                       comment_after="z")
    assert (s.value, s.tag, s.style, s.comment, s.comment_before, s.comment_after) == \
        ("v", "!t", "literal", "c", "a\nb\nc", "z")
    for style in ("plain", "single", "double", "literal", "folded", "auto"):
        assert KestrineScalar("x", style=style).style == style


def test_scalar_is_immutable():
    s = KestrineScalar("x")
    with pytest.raises(AttributeError):
        s.value = "y"
    with pytest.raises((AttributeError, TypeError)):
        s.other = 1


def test_scalar_repr():
    assert repr(KestrineScalar("x")) == 'KestrineScalar("x", style="auto")'
    assert repr(KestrineScalar('a"b\\\n', tag="!t", style="double")) == \
        'KestrineScalar("a\\"b\\\\\\n", tag="!t", style="double")'


@pytest.mark.parametrize("kwargs, exc, message", [
    ({"style": "Plain"}, ValueError, 'invalid scalar style "Plain": expected one of \'auto\', \'plain\', '
                                     "'single', 'double', 'literal', 'folded'"),
    ({"style": 1}, TypeError, "style"),
    ({"tag": 1}, TypeError, "tag"),
    ({"comment": "a\nb"}, ValueError, "an inline comment cannot contain a line break; use comment_before or "
                                      "comment_after for a multi-line comment"),
    ({"comment": "a\u2028b"}, ValueError, "an inline comment cannot contain a line break"),
    ({"comment_before": "a\x85b"}, ValueError, "a comment cannot contain NEL, LS, or PS line breaks; use \\n "
                                               "to separate comment lines"),
    ({"comment_after": "a\u2029"}, ValueError, "a comment cannot contain NEL, LS, or PS line breaks"),
])
def test_scalar_validation(kwargs, exc, message):
    with pytest.raises(exc) as info:
        KestrineScalar("x", **kwargs)
    assert message in str(info.value)


def test_scalar_argument_errors():
    with pytest.raises(TypeError, match="value"):
        KestrineScalar(1)
    with pytest.raises(TypeError):
        KestrineScalar("x", "!t")  # tag is keyword-only
    with pytest.raises(TypeError):
        KestrineScalar()
    with pytest.raises(TypeError):
        KestrineScalar("x", bogus=1)
    assert KestrineScalar(value="kw").value == "kw"
    # Type errors come before value errors, in parameter order.
    with pytest.raises(TypeError, match="comment"):
        KestrineScalar("x", style="nope", comment=5)


@pytest.mark.parametrize("cls, field", [(KestrineMapping, "pairs"), (KestrineSequence, "items")])
def test_collections(cls, field):
    items = [("a", 1)]
    obj = cls(items, tag="!m", flow=False, comment="c", comment_before="x\r\ny")
    assert getattr(obj, field) is items
    assert (obj.tag, obj.flow, obj.comment, obj.comment_before, obj.comment_after) == \
        ("!m", False, "c", "x\ny", None)
    tup = (1, 2)
    assert getattr(cls(tup), field) is tup
    assert cls(tup).flow is None
    assert cls([], flow=True).flow is True
    assert getattr(cls({"a": 1}), field) == ["a"]
    assert getattr(cls(iter([3, 4])), field) == [3, 4]
    assert getattr(cls(**{field: [5]}), field) == [5]


@pytest.mark.parametrize("cls", [KestrineMapping, KestrineSequence])
def test_collection_validation(cls):
    with pytest.raises(TypeError, match="not iterable"):
        cls(5)
    with pytest.raises(TypeError, match="flow"):
        cls([], flow=1)
    with pytest.raises(TypeError, match="tag"):
        cls([], tag=b"!t")
    with pytest.raises(ValueError, match="inline comment"):
        cls([], comment="a\rb")
    with pytest.raises(TypeError):
        cls([], "!t")


def test_flow_accepts_numpy_booleans():
    np = pytest.importorskip("numpy")
    assert KestrineSequence([], flow=np.bool_(True)).flow is True


@pytest.mark.parametrize("cls", [KestrineMapping, KestrineSequence])
def test_collections_take_part_in_garbage_collection(cls):
    class Items(list):
        pass

    items = Items()
    obj = cls(items)
    items.append(obj)  # a cycle through the descriptor
    ref = weakref.ref(items)
    del obj, items
    gc.collect()
    assert ref() is None


def test_kestrine_tag_repr_hides_the_value():
    assert repr(KestrineTag("!t", 5)) == "KestrineTag('!t', ...)"
