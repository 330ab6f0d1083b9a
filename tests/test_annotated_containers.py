"""KestrineAnnotatedDict and KestrineAnnotatedList: construction, metadata,
predicates, pickling and copying, and the state protocol."""

import copy
import inspect
import json
import pickle

import pytest

from kestrine import KestrineAnnotatedDict, KestrineAnnotatedList

CLASSES = [KestrineAnnotatedDict, KestrineAnnotatedList]
FIELDS = ("__line__", "__column__", "__file__", "__end_line__", "__end_column__",
          "__source_tag__", "__source_target__", "__offset__", "__end_offset__")
STATE = (1, 2, "conf.yaml", 3, 4, "!include", "sub/x.yaml", 5, 6)


class SubDict(KestrineAnnotatedDict):
    pass


class SubList(KestrineAnnotatedList):
    pass


def make(cls, state=STATE):
    obj = cls({"a": [1, {"b": 2}], "c": "d"}) if issubclass(cls, dict) else cls([1, [2, 3], {"x": 4}])
    obj.__setstate__(state)
    return obj


def meta(obj):
    return tuple(getattr(obj, name) for name in FIELDS)


def test_construction_like_the_base():
    empty = KestrineAnnotatedDict()
    assert empty == {} and meta(empty) == (0, 0, None, 0, 0, None, None, 0, 0)
    assert KestrineAnnotatedDict({"a": 1}, b=2) == {"a": 1, "b": 2}
    assert KestrineAnnotatedDict([("k", "v")]) == {"k": "v"}
    assert KestrineAnnotatedList("abc") == ["a", "b", "c"]
    assert meta(KestrineAnnotatedList()) == (0, 0, None, 0, 0, None, None, 0, 0)
    assert isinstance(KestrineAnnotatedDict(), dict) and isinstance(KestrineAnnotatedList(), list)
    assert type(SubDict(a=1)) is SubDict and SubDict(a=1) == {"a": 1}
    with pytest.raises(TypeError):
        KestrineAnnotatedList(1, 2)  # list's own initialiser refuses
    assert json.dumps([KestrineAnnotatedDict(a=KestrineAnnotatedList([1]))]) == '[{"a": [1]}]'


def test_metadata_is_read_only():
    obj = make(KestrineAnnotatedDict)
    for name in FIELDS + ("is_secret", "is_env_var", "is_include"):
        with pytest.raises(AttributeError):
            setattr(obj, name, 1)
    assert meta(obj) == STATE


@pytest.mark.parametrize("tag, secret, env, include", [
    ("!secret", True, False, False),
    ("!env_var", False, True, False),
    ("!include", False, False, True),
    ("!include_dir_named", False, False, True),
    ("!include_dir_merge_list", False, False, True),
    ("!custom", False, False, False),
    ("!Secret", False, False, False),
    ("!include_dir", False, False, False),
    (None, False, False, False),
])
def test_predicates(tag, secret, env, include):
    for cls in CLASSES:
        obj = make(cls, (1, 1, None, 1, 1, tag, None, 0, 0))
        assert (obj.is_secret, obj.is_env_var, obj.is_include) == (secret, env, include)


@pytest.mark.parametrize("cls", CLASSES + [SubDict, SubList])
def test_reduce_pickle_and_copies_keep_metadata(cls):
    obj = make(cls)
    reduced = obj.__reduce__()
    assert reduced[0] is cls and reduced[1] == () and reduced[2] == STATE
    if issubclass(cls, dict):
        assert reduced[3] is None and list(reduced[4]) == list(obj.items())
    else:
        assert list(reduced[3]) == list(obj) and reduced[4] is None

    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        back = pickle.loads(pickle.dumps(obj, protocol))
        assert type(back) is cls and back == obj and meta(back) == STATE

    shallow = copy.copy(obj)
    assert type(shallow) is cls and shallow == obj and meta(shallow) == STATE
    first = next(iter(obj.values() if isinstance(obj, dict) else obj[1:2]))
    assert next(iter(shallow.values() if isinstance(obj, dict) else shallow[1:2])) is first

    deep = copy.deepcopy(obj)
    assert type(deep) is cls and deep == obj and meta(deep) == STATE
    assert next(iter(deep.values() if isinstance(obj, dict) else deep[1:2])) is not first


def test_nested_annotated_values_survive_deepcopy_and_pickle():
    inner = make(KestrineAnnotatedList, (9, 8, None, 7, 6, "!secret", "pw", 5, 4))
    outer = KestrineAnnotatedDict(a=inner, b=inner)
    outer.__setstate__(STATE)
    for clone in (copy.deepcopy(outer), pickle.loads(pickle.dumps(outer))):
        assert clone["a"] is clone["b"]  # shared values stay shared
        assert meta(clone["a"]) == meta(inner) and clone["a"].is_secret
        assert meta(clone) == STATE


def test_subclass_pickles_as_itself_with_its_items():
    obj = SubList([SubDict(k=1)])
    obj.__setstate__(STATE)
    back = pickle.loads(pickle.dumps(obj))
    assert type(back) is SubList and type(back[0]) is SubDict
    assert back == [{"k": 1}] and meta(back) == STATE and meta(back[0]) == meta(SubDict())


@pytest.mark.parametrize("cls", [SubDict, SubList])
def test_subclass_attributes_survive_pickle_and_copies(cls):
    obj = make(cls)
    obj.label = "mine"
    obj.shared = [1, 2]
    state = obj.__reduce__()[2]
    assert state == (STATE, {"label": "mine", "shared": [1, 2]})
    clones = [pickle.loads(pickle.dumps(obj, p)) for p in range(pickle.HIGHEST_PROTOCOL + 1)]
    clones += [copy.copy(obj), copy.deepcopy(obj)]
    for clone in clones:
        assert type(clone) is cls and clone == obj and meta(clone) == STATE
        assert (clone.label, clone.shared) == ("mine", [1, 2])
    assert clones[-2].shared is obj.shared and clones[-1].shared is not obj.shared
    # The pair form needs an instance that can hold attributes.
    with pytest.raises(TypeError, match="have no attributes"):
        make(cls.__mro__[1]).__setstate__(state)


def test_setstate_replaces_metadata_and_leaves_items():
    for cls in CLASSES:
        obj = make(cls)
        before = copy.copy(obj)
        assert obj.__setstate__((1, 2, None, 3, 4, None, None, 5, 6)) is None
        assert obj.__line__ == 1 and obj.__end_offset__ == 6 and obj.__file__ is None
        assert obj == before
        obj.__setstate__(state=STATE)
        assert meta(obj) == STATE


@pytest.mark.parametrize("state, error, message", [
    ((1, 2, None, 3, 4, None, None, 5), ValueError, "expected tuple of length 9, but got tuple of length 8"),
    ((), ValueError, "expected tuple of length 9, but got tuple of length 0"),
    ([1, 2, None, 3, 4, None, None, 5, 6], TypeError, "state"),
    ((-1, 2, None, 3, 4, None, None, 5, 6), OverflowError, None),
    ((2**32, 2, None, 3, 4, None, None, 5, 6), OverflowError, None),
    ((1, 2, None, 3, 2**32, None, None, 5, 6), OverflowError, None),
    ((1, 2, None, 3, 4, None, None, 5, 2**64), OverflowError, None),
    ((1.0, 2, None, 3, 4, None, None, 5, 6), TypeError, None),
    ((1, 2, b"file", 3, 4, None, None, 5, 6), TypeError, None),
    ((1, 2, None, 3, 4, 7, None, 5, 6), TypeError, None),
    ((1, 2, "\ud800", 3, 4, None, None, 5, 6), UnicodeEncodeError, None),
])
def test_setstate_rejects_bad_state_and_changes_nothing(state, error, message):
    for cls in CLASSES:
        obj = make(cls)
        with pytest.raises(error) as info:
            obj.__setstate__(state)
        if message:
            assert message in str(info.value)
        assert meta(obj) == STATE


def test_setstate_accepts_full_ranges_and_index_objects():
    class Index:
        def __index__(self):
            return 41

    obj = KestrineAnnotatedList()
    obj.__setstate__((2**32 - 1, Index(), "", True, 0, "", "", 2**64 - 1, 0))
    assert meta(obj) == (2**32 - 1, 41, "", 1, 0, "", "", 2**64 - 1, 0)
    with pytest.raises(TypeError):
        obj.__setstate__()
    with pytest.raises(TypeError):
        obj.__setstate__(STATE, STATE)


def test_reentrant_setstate_from_index_is_safe():
    # The state is converted before the metadata is locked, so code run by
    # __index__ may read or even replace the metadata; the outer call wins.
    obj = make(KestrineAnnotatedDict)
    seen = []

    class Sneaky:
        def __index__(self):
            seen.append(obj.__line__)
            obj.__setstate__((100, 100, "inner", 100, 100, None, None, 100, 100))
            seen.append(obj.__file__)
            return 7

    obj.__setstate__((Sneaky(), 2, None, 3, 4, None, None, 5, 6))
    assert seen == [1, "inner"]
    assert meta(obj) == (7, 2, None, 3, 4, None, None, 5, 6)


def test_signatures_and_docstrings():
    assert str(inspect.signature(KestrineAnnotatedDict)) == "(*_args, **_kwargs)"
    assert str(inspect.signature(KestrineAnnotatedList.__setstate__)) == "(self, /, state)"
    assert str(inspect.signature(KestrineAnnotatedDict.__reduce__)) == "(self, /)"
    assert "dict" in KestrineAnnotatedDict.__doc__ and "pickle" in KestrineAnnotatedDict.__doc__
    assert KestrineAnnotatedList.is_secret.__doc__ == \
        "Whether this node's value was produced by a `!secret` directive."
    assert KestrineAnnotatedDict.is_include.__doc__ == \
        "Whether this node's value was produced by any `!include` directive."
    assert KestrineAnnotatedDict.__line__.__doc__ is None
    assert "byte offset" in KestrineAnnotatedDict.__end_offset__.__doc__


@pytest.mark.parametrize("cls", CLASSES + [SubList])
def test_deeply_nested_instances_are_freed_without_recursion(cls):
    node = cls()
    for _ in range(300_000):
        node = cls(x=node) if issubclass(cls, dict) else cls([node])
    del node  # would overflow the C stack if every level recursed
