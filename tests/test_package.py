"""The pure-Python side of the package: re-exports, exceptions, annotated scalars."""

import copy
import json
import pickle

import pytest

import kestrine
from kestrine import _kestrine, exceptions
from kestrine import KestrineAnnotatedFloat, KestrineAnnotatedInt, KestrineAnnotatedStr

PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


# --- package namespace -------------------------------------------------------

def test_all_mirrors_native_module():
    assert kestrine.__all__ == list(_kestrine.__all__)
    assert len(kestrine.__all__) == 52
    assert len(set(kestrine.__all__)) == 52
    for name in kestrine.__all__:
        assert getattr(kestrine, name) is getattr(_kestrine, name), name


def test_extras_are_reachable_but_not_exported():
    extras = ["KestrineAnnotatedStr", "KestrineAnnotatedInt", "KestrineAnnotatedFloat",
              "KestrineError", "KestrineParseError", "exceptions"]
    for name in extras:
        assert hasattr(kestrine, name)
        assert name not in kestrine.__all__
    assert kestrine.KestrineParseError is exceptions.KestrineParseError
    # Pickle resolves the annotated scalars by this path.
    for cls in (KestrineAnnotatedStr, KestrineAnnotatedInt, KestrineAnnotatedFloat):
        assert cls.__module__ == "kestrine"
        assert getattr(kestrine, cls.__qualname__) is cls


# Classes registered under the package (so pickle finds them by reference);
# the document classes carry no module.
PACKAGE_CLASSES = ["KestrineTreeNode", "KestrineTag", "KestrineAnnotatedDict", "KestrineAnnotatedList",
                   "KestrineScalar", "KestrineSequence", "KestrineMapping"]
MODULELESS_CLASSES = ["KestrineDocument", "KestrineDocumentView", "KestrineNode"]


def test_exported_classes_resolve_by_module_path():
    for name in PACKAGE_CLASSES:
        obj = getattr(kestrine, name)
        assert obj.__module__ == "kestrine", name
        assert getattr(kestrine, obj.__qualname__) is obj, name
    for name in MODULELESS_CLASSES:
        assert getattr(kestrine, name).__module__ == "builtins", name


# --- exceptions ----------------------------------------------------------------

RAISED = [
    "KestrineParseError", "KestrineDuplicateKeyError", "KestrineComplexKeyError",
    "KestrineDecodeError", "KestrineEncodeError", "KestrineUnserializableError",
    "KestrineIncludeNotFoundError", "KestrineCircularIncludeError",
    "KestrineIncludeDepthError", "KestrineIncludeConfinementError",
    "KestrineIncludeError", "KestrineSecretNotFoundError", "KestrineEnvVarError",
    "KestrineSchemaError",
]
ATTRIBUTES = ("file", "line", "column", "include_stack", "schema_path")

E = exceptions
HIERARCHY = [
    (E.KestrineParseError, (ValueError,)),
    (E.KestrineDuplicateKeyError, (E.KestrineParseError, ValueError)),
    (E.KestrineComplexKeyError, (E.KestrineParseError, ValueError)),
    (E.KestrineDecodeError, (ValueError,)),
    (E.KestrineEncodeError, (ValueError,)),
    (E.KestrineUnserializableError, (E.KestrineEncodeError, TypeError, ValueError)),
    (E.KestrineIncludeError, ()),
    (E.KestrineIncludeNotFoundError, (E.KestrineIncludeError, FileNotFoundError, OSError)),
    (E.KestrineCircularIncludeError, (E.KestrineIncludeError,)),
    (E.KestrineIncludeDepthError, (E.KestrineIncludeError,)),
    (E.KestrineIncludeConfinementError, (E.KestrineIncludeError,)),
    (E.KestrineSecretNotFoundError, (LookupError,)),
    (E.KestrineEnvVarError, (LookupError,)),
    (E.KestrineSchemaError, (ValueError,)),
]


def test_every_raised_class_exists_once_under_the_common_base():
    assert sorted(c.__name__ for c, _ in HIERARCHY) == sorted(RAISED)
    for name in RAISED:
        cls = getattr(exceptions, name)
        assert issubclass(cls, exceptions.KestrineError)
        assert cls.__module__ == "kestrine.exceptions"
    assert issubclass(exceptions.KestrineError, Exception)


@pytest.mark.parametrize("cls,bases", HIERARCHY, ids=lambda v: getattr(v, "__name__", ""))
def test_hierarchy(cls, bases):
    for base in bases:
        assert issubclass(cls, base)
    # Families stay apart: a parse error is no include error and vice versa.
    if not issubclass(cls, E.KestrineIncludeError):
        assert not issubclass(cls, OSError)
    if issubclass(cls, E.KestrineIncludeError):
        assert not issubclass(cls, ValueError)


@pytest.mark.parametrize("name", RAISED)
def test_raised_the_native_way(name):
    # The native side creates each exception from its message alone and
    # then assigns the attributes that apply.
    cls = getattr(exceptions, name)
    msg = "unexpected end of stream at line 3, column 1"
    exc = cls(msg)
    assert str(exc) == msg
    assert exc.args == (msg,)
    for attr in ATTRIBUTES:
        assert getattr(exc, attr) is None
    exc.file = "conf.yaml"
    exc.line, exc.column = 3, 1
    exc.include_stack = [("root.yaml", 4), ("mid.yaml", 2)]
    with pytest.raises(cls) as info:
        raise exc
    assert info.value.line == 3
    assert cls.line is None  # the class default is untouched


@pytest.mark.parametrize("name", RAISED)
def test_exception_pickles_with_attributes(name):
    cls = getattr(exceptions, name)
    exc = cls("bad value at line 2, column 5")
    exc.file, exc.line, exc.column = "a.yaml", 2, 5
    exc.include_stack = [("root.yaml", 7)]
    for proto in PROTOCOLS:
        back = pickle.loads(pickle.dumps(exc, proto))
        assert type(back) is cls
        assert str(back) == str(exc)
        assert (back.file, back.line, back.column) == ("a.yaml", 2, 5)
        assert back.include_stack == [("root.yaml", 7)]
        assert back.schema_path is None
    bare = pickle.loads(pickle.dumps(cls("plain")))
    assert str(bare) == "plain" and bare.line is None


def test_exception_keyword_attributes():
    exc = E.KestrineSchemaError("schema validation failed", schema_path="$.a[1]",
                                line=4, column=3)
    assert (exc.schema_path, exc.line, exc.column, exc.file) == ("$.a[1]", 4, 3, None)
    back = pickle.loads(pickle.dumps(exc))
    assert (back.schema_path, back.line, back.column) == ("$.a[1]", 4, 3)
    nf = E.KestrineIncludeNotFoundError("missing.yaml not found", file="root.yaml",
                                        include_stack=[])
    assert nf.file == "root.yaml" and nf.include_stack == []
    assert str(nf) == "missing.yaml not found"


def test_include_not_found_behaves_as_file_not_found():
    exc = E.KestrineIncludeNotFoundError("include file not found: x.yaml in root.yaml")
    assert str(exc) == "include file not found: x.yaml in root.yaml"
    assert exc.errno is None and exc.filename is None
    try:
        raise exc
    except FileNotFoundError as caught:
        assert caught is exc
    unserializable = E.KestrineUnserializableError("type Foo is not YAML serializable")
    for builtin in (TypeError, ValueError, E.KestrineEncodeError):
        with pytest.raises(builtin):
            raise unserializable


# --- annotated scalars ---------------------------------------------------------

# value, line, column, file, end_line, end_column, style, source_tag,
# source_target, offset, end_offset
META = (1, 4, "conf.yaml", 1, 9, "plain", None, None, 3, 8)
FIELDS = ("__line__", "__column__", "__file__", "__end_line__", "__end_column__",
          "__style__", "__source_tag__", "__source_target__", "__offset__", "__end_offset__")
SCALARS = [
    (KestrineAnnotatedStr, str, "hello"),
    (KestrineAnnotatedInt, int, 5),
    (KestrineAnnotatedInt, int, 2**80),
    (KestrineAnnotatedFloat, float, 2.5),
]
SCALAR_IDS = ["str", "int", "bigint", "float"]


def meta_of(obj):
    return tuple(getattr(obj, f) for f in FIELDS)


@pytest.mark.parametrize("cls,base,value", SCALARS, ids=SCALAR_IDS)
def test_scalar_fields_and_base_behaviour(cls, base, value):
    obj = cls(value, *META)
    assert isinstance(obj, base)
    assert meta_of(obj) == META
    assert obj == value and value == obj
    assert hash(obj) == hash(value)
    assert repr(obj) == repr(value)
    assert {value: "x"}[obj] == "x" and {obj: "x"}[value] == "x"
    assert json.dumps([obj]) == json.dumps([value])
    assert (obj.is_secret, obj.is_env_var, obj.is_include) == (False, False, False)
    for field in FIELDS + ("is_secret",):
        with pytest.raises(AttributeError):
            setattr(obj, field, 0)
    assert meta_of(obj) == META


def test_scalar_operations_give_plain_values():
    s = KestrineAnnotatedStr("Hello", *META)
    for result in (s.upper(), s + "!", s[1:], s.strip(), f"{s}", str(s), s * 2):
        assert type(result) is str
    i = KestrineAnnotatedInt(7, *META)
    for result in (i + 1, i * 2, -i, i // 2, abs(i), int(i), i << 1):
        assert type(result) is int
    assert i + 1 == 8 and i.bit_length() == 3
    f = KestrineAnnotatedFloat(1.5, *META)
    for result in (f + 1, f * 2, -f, float(f), round(f, 1)):
        assert type(result) is float
    assert f + 1 == 2.5


def test_scalar_constructor_takes_eleven_arguments():
    with pytest.raises(TypeError):
        KestrineAnnotatedStr("a", *META[:-1])
    with pytest.raises(TypeError):
        KestrineAnnotatedStr("a", *META, 0)
    with pytest.raises(TypeError):
        KestrineAnnotatedStr()
    with pytest.raises(ValueError):
        KestrineAnnotatedInt("abc", *META)
    assert KestrineAnnotatedFloat(3, *META) == 3.0
    assert type(KestrineAnnotatedFloat(3, *META)._plain()) is float


@pytest.mark.parametrize("tag,secret,env,include", [
    ("!secret", True, False, False),
    ("!env_var", False, True, False),
    ("!include", False, False, True),
    ("!include_dir_list", False, False, True),
    ("!include_dir_named", False, False, True),
    ("!include_dir_merge_list", False, False, True),
    ("!include_dir_merge_named", False, False, True),
    ("!Include", False, False, False),
    ("!secrets", False, False, False),
    ("!custom", False, False, False),
    (None, False, False, False),
])
def test_scalar_directive_predicates(tag, secret, env, include):
    for cls, value in ((KestrineAnnotatedStr, "v"), (KestrineAnnotatedInt, 1),
                       (KestrineAnnotatedFloat, 1.0)):
        obj = cls(value, 2, 3, "a.yaml", 2, 9, "single", tag, "target", 10, 16)
        assert (obj.is_secret, obj.is_env_var, obj.is_include) == (secret, env, include)


@pytest.mark.parametrize("cls,base,value", SCALARS, ids=SCALAR_IDS)
def test_scalar_pickle_and_copy_keep_metadata(cls, base, value):
    obj = cls(value, 5, 2, None, 6, 1, "literal", "!include", "part.yaml", 40, 57)
    copies = [pickle.loads(pickle.dumps(obj, proto)) for proto in PROTOCOLS]
    copies += [copy.copy(obj), copy.deepcopy(obj)]
    for other in copies:
        assert type(other) is cls
        assert other == value
        assert meta_of(other) == meta_of(obj)
        assert other.is_include


def test_scalars_inside_containers_survive_deepcopy_and_pickle():
    key = KestrineAnnotatedStr("port", 2, 3, "a.yaml", 2, 7, "plain", None, None, 20, 24)
    val = KestrineAnnotatedInt(8080, 2, 9, "a.yaml", 2, 13, "plain", None, None, 26, 30)
    data = {key: [val, val]}
    for other in (copy.deepcopy(data), pickle.loads(pickle.dumps(data))):
        (k, items), = other.items()
        assert type(k) is KestrineAnnotatedStr and k.__offset__ == 20
        assert other["port"] == [8080, 8080]
        assert all(type(v) is KestrineAnnotatedInt and v.__end_offset__ == 30 for v in items)


class TrackedStr(KestrineAnnotatedStr):
    pass


class TrackedInt(KestrineAnnotatedInt):
    pass


@pytest.mark.parametrize("cls,value", [(TrackedStr, "x"), (TrackedInt, 3)])
def test_scalar_subclass_pickles_as_itself_with_its_attributes(cls, value):
    obj = cls(value, *META)
    obj.note = ["seen"]
    for other in (pickle.loads(pickle.dumps(obj)), copy.copy(obj), copy.deepcopy(obj)):
        assert type(other) is cls
        assert other == value and meta_of(other) == META
        assert other.note == ["seen"]
    assert copy.deepcopy(obj).note is not obj.note
    assert copy.copy(obj).note is obj.note
