"""The compiled module as Python sees it after import: names, order,
constants, signatures and class objects."""

import collections
import inspect
import pickle
import re
import sys

import pytest

import kestrine
from kestrine import _kestrine

FUNCTIONS = [
    "loads",
    "loads_all",
    "dumps",
    "to_json",
    "schema_ref",
    "yaml_version",
    "dump_includes",
    "dump_includes_map",
]

OPTIONS = [
    "OPT_YAML_1_1",
    "OPT_PYYAML_COMPAT",
    "OPT_UPGRADE_1_1",
    "OPT_YAML_1_1_WARN",
    "OPT_ROUND_TRIP",
    "OPT_ANNOTATED",
    "OPT_ANNOTATE_NUMBERS",
    "OPT_INCLUDES",
    "OPT_INCLUDE_DIR_RECURSIVE",
    "OPT_SECRETS",
    "OPT_ENV_VAR",
    "OPT_SECRET_NOT_FOUND_WARN",
    "OPT_ENV_VAR_NOT_FOUND_WARN",
    "OPT_PASSTHROUGH_TAG",
    "OPT_DUPLICATE_KEYS_ERROR",
    "OPT_DUPLICATE_KEYS_WARN",
    "OPT_REJECT_COMPLEX_KEYS",
    "OPT_INDENT_2",
    "OPT_INDENT_4",
    "OPT_INDENTLESS_SEQUENCES",
    "OPT_FLOW_STYLE",
    "OPT_SORT_KEYS",
    "OPT_EXPLICIT_START",
    "OPT_EXPLICIT_END",
    "OPT_SINGLE_QUOTES",
    "OPT_NULL_AS_KEYWORD",
    "OPT_NULL_AS_TILDE",
    "OPT_SERIALIZE_NUMPY",
    "OPT_PASSTHROUGH_DATETIME",
    "OPT_PASSTHROUGH_DATACLASS",
    "OPT_OMIT_MICROSECONDS",
    "OPT_NAIVE_UTC",
    "OPT_UTC_Z",
    "OPT_TIMESTAMPS",
]

# name, type name, __module__, start of the docstring
CLASSES = [
    ("KestrineDocument", "KestrineDocument", "builtins",
     "A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`."),
    ("KestrineTreeNode", "kestrine.KestrineTreeNode", "kestrine", "An owned node snapshot."),
    ("KestrineDocumentView", "KestrineDocumentView", "builtins",
     "A live proxy onto a nested node of a [`KestrineDocument`], addressed by path."),
    ("KestrineNode", "KestrineNode", "builtins",
     "A metadata-bearing handle onto a single node of a [`KestrineDocument`]."),
    ("KestrineTag", "kestrine.KestrineTag", "kestrine", "A custom-tagged YAML value"),
    ("KestrineAnnotatedDict", "kestrine.KestrineAnnotatedDict", "kestrine", "A `dict` subclass"),
    ("KestrineAnnotatedList", "kestrine.KestrineAnnotatedList", "kestrine", "A `list` subclass"),
    ("KestrineScalar", "kestrine.KestrineScalar", "kestrine", "A scalar node descriptor"),
    ("KestrineSequence", "kestrine.KestrineSequence", "kestrine", "A sequence node descriptor"),
    ("KestrineMapping", "kestrine.KestrineMapping", "kestrine", "A mapping node descriptor"),
]

SIGNATURES = {
    "loads": "(data, /, *, option=None, include_dir=None, schema=None, schema_resolver=None, "
             "tag_handler=None, tags=None, root_path=None, on_missing_secret=None, on_missing_env_var=None)",
    "loads_all": "(data, /, *, option=None, tag_handler=None, tags=None)",
    "dumps": "(obj, /, *, default=None, option=None, serializers=None, width=None, represent=None)",
    "to_json": "(obj, /, *, default=None, option=None)",
    "schema_ref": "(data, /)",
    "yaml_version": "(data, /)",
    "dump_includes": "(doc, /, *, include_dir=None)",
    "dump_includes_map": "(doc, /)",
}

CLASS_SIGNATURES = {
    "KestrineTag": "(tag, value)",
    "KestrineAnnotatedDict": "(*_args, **_kwargs)",
    "KestrineAnnotatedList": "(*_args, **_kwargs)",
    "KestrineScalar": "(value, *, tag=None, style='auto', comment=None, comment_before=None, "
                      "comment_after=None)",
    "KestrineSequence": "(items, *, tag=None, flow=None, comment=None, comment_before=None, "
                        "comment_after=None)",
    "KestrineMapping": "(pairs, *, tag=None, flow=None, comment=None, comment_before=None, "
                       "comment_after=None)",
}


def test_all_lists_the_52_names_in_registration_order():
    expected = FUNCTIONS + OPTIONS + [c[0] for c in CLASSES]
    assert _kestrine.__all__ == expected
    assert kestrine.__all__ == expected
    for name in expected:
        assert getattr(kestrine, name) is getattr(_kestrine, name)


def test_module_adds_nothing_beyond_its_interface():
    public = {n for n in vars(_kestrine) if not n.startswith("_")}
    assert public == set(_kestrine.__all__)


def test_module_docstring_is_empty():
    assert _kestrine.__doc__ == ""


def test_option_constants_are_single_positive_bits():
    for bit, name in enumerate(OPTIONS):
        value = getattr(_kestrine, name)
        assert type(value) is int
        assert value == 1 << bit, name
    assert _kestrine.OPT_TIMESTAMPS == 8589934592
    assert _kestrine.OPT_NAIVE_UTC == 2147483648
    assert _kestrine.OPT_EXPLICIT_END == 8388608


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_signatures_and_docstrings(name):
    fn = getattr(_kestrine, name)
    assert str(inspect.signature(fn)) == SIGNATURES[name]
    # help() shows a description after the signature that covers every
    # keyword argument and says what is raised.
    doc = fn.__doc__
    assert doc and doc.splitlines()[0].endswith(".")
    for param in inspect.signature(fn).parameters.values():
        if param.kind is param.KEYWORD_ONLY:
            assert param.name in doc, param.name
    assert "Raises " in doc
    assert fn.__self__ is _kestrine
    assert fn.__module__ == _kestrine.__name__
    assert fn.__name__ == name


def test_loads_parameter_kinds():
    params = list(inspect.signature(kestrine.loads).parameters.values())
    assert params[0].name == "data"
    assert params[0].kind is inspect.Parameter.POSITIONAL_ONLY
    assert params[0].default is inspect.Parameter.empty
    for p in params[1:]:
        assert p.kind is inspect.Parameter.KEYWORD_ONLY
        assert p.default is None


@pytest.mark.parametrize("name, type_name, module, doc", CLASSES)
def test_class_names_modules_and_docstrings(name, type_name, module, doc):
    cls = getattr(_kestrine, name)
    assert isinstance(cls, type)
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__module__ == module
    assert repr(cls) == f"<class '{type_name}'>"
    assert cls.__doc__.startswith(doc)
    if name in CLASS_SIGNATURES:
        assert str(inspect.signature(cls)) == CLASS_SIGNATURES[name]
        assert cls.__text_signature__ is not None
    else:
        assert cls.__text_signature__ is None


def test_annotated_containers_derive_from_their_builtins():
    assert issubclass(kestrine.KestrineAnnotatedDict, dict)
    assert issubclass(kestrine.KestrineAnnotatedList, list)

    class MyDict(kestrine.KestrineAnnotatedDict):
        pass

    assert issubclass(MyDict, dict)


def test_classes_are_shared_and_immutable():
    assert kestrine.KestrineTag is _kestrine.KestrineTag
    with pytest.raises(TypeError):
        kestrine.KestrineTag.extra = 1
    with pytest.raises(TypeError):
        class Sub(kestrine.KestrineDocument):  # noqa: F841
            pass


@pytest.mark.parametrize("name", ["KestrineDocument", "KestrineTreeNode", "KestrineDocumentView",
                                  "KestrineNode"])
def test_classes_without_a_python_constructor(name):
    with pytest.raises(TypeError, match="cannot create"):
        getattr(_kestrine, name)()


def test_classes_are_found_by_pickle_under_their_module():
    # Pickling by reference resolves "kestrine.<name>".
    for name in ("KestrineTreeNode", "KestrineAnnotatedDict", "KestrineScalar"):
        cls = getattr(kestrine, name)
        assert pickle.loads(pickle.dumps(cls)) is cls


def test_help_renders_the_module():
    import pydoc
    text = pydoc.render_doc(_kestrine, renderer=pydoc.plaintext)
    # Each function with its signature (which newer versions wrap over
    # several lines) and the first line of its description.
    flat = re.sub(r"\s+", "", text)
    for name in FUNCTIONS:
        fn = getattr(_kestrine, name)
        assert name + str(inspect.signature(fn)).replace(" ", "") in flat, name
        assert fn.__doc__.splitlines()[0] in text, name


def _type_error(call):
    with pytest.raises(TypeError) as info:
        call()
    return str(info.value)


def test_argument_errors_use_the_interpreter_messages():
    # pickle.loads has the shape of the four data functions (one positional-
    # only parameter, the rest keyword-only): the running interpreter's
    # parser words its errors, whatever its version.
    def interpreter(name, *args, **kwargs):
        return _type_error(lambda: pickle.loads(*args, **kwargs)).replace("loads()", name + "()")

    assert _type_error(lambda: kestrine.loads()) == interpreter("loads")
    assert _type_error(lambda: kestrine.loads("a", bogus=1)) == interpreter("loads", b"", bogus=1)
    assert _type_error(lambda: kestrine.dumps(1, 2)) == interpreter("dumps", b"", 2)
    assert _type_error(lambda: kestrine.to_json(1, default=None, **{"x": 1})) == interpreter(
        "to_json", b"", fix_imports=True, **{"x": 1})
    # A near miss is named from 3.13 on, as the interpreter names it.
    message = _type_error(lambda: kestrine.loads("a", opton=1))
    if sys.version_info >= (3, 13):
        assert message == "loads() got an unexpected keyword argument 'opton'. Did you mean 'option'?"
    else:
        assert message == "'opton' is an invalid keyword argument for loads()"


@pytest.mark.parametrize("name", ["dumps", "to_json"])
@pytest.mark.parametrize("kwargs", [{"option": "1"}, {"option": 1.5}, {"option": -1}, {"option": 1 << 64},
                                    {"opton": 1}, {"bogus": 1}])
def test_dump_argument_errors_are_worded_as_those_of_loads(name, kwargs):
    def error(fn, data):
        with pytest.raises((TypeError, OverflowError)) as info:
            fn(data, **kwargs)
        return type(info.value), str(info.value).replace(fn.__name__ + "()", "f()"), \
            getattr(info.value, "__notes__", None)

    assert error(getattr(kestrine, name), {}) == error(kestrine.loads, "a")


@pytest.mark.parametrize("kwargs, message", [
    ({"width": "1"}, "dumps() argument 'width' must be int, not str"),
    ({"width": -1}, "dumps() argument 'width': can't convert negative int to unsigned"),
    ({"serializers": []}, "dumps() argument 'serializers' must be dict, not list"),
    # The type as the interpreter names it: the module of a built-in type too.
    ({"serializers": collections.deque()}, "dumps() argument 'serializers' must be dict, not collections.deque"),
    ({"option": collections.deque()}, "dumps() argument 'option' must be int, not collections.deque"),
])
def test_dumps_argument_errors_name_the_function_and_argument(kwargs, message):
    with pytest.raises((TypeError, OverflowError)) as info:
        kestrine.dumps(1, **kwargs)
    assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{next(iter(kwargs))}'"]
