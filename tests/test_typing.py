"""The package's type information: its stubs agree with the compiled module,
typed code that uses them passes mypy --strict, and misuse is caught."""

import os
import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("mypy", reason="mypy is a test dependency (make test installs it)")

HERE = pathlib.Path(__file__).resolve().parent
PACKAGE_ROOT = HERE.parent / "python"

# Misuse that the stubs must refuse: (line, the error mypy reports for it).
MISUSE = [
    ('kestrine.loads(b"", opton=1)', 'Unexpected keyword argument "opton" for "loads"'),
    ('kestrine.dumps(1).decode() + 1', 'Unsupported operand types for + ("str" and "int")'),
    ('kestrine.OPT_SORT_KEYS = 3', 'Cannot assign to final name "OPT_SORT_KEYS"'),
    ('kestrine.loads(b"", option="1")', 'Argument "option" to "loads" has incompatible type "str"'),
    ('kestrine.schema_ref(1)', 'Argument 1 to "schema_ref" has incompatible type "int"'),
    ('n: kestrine.KestrineNode = kestrine.loads("", option=16).node; n.line = 4',
     'Property "line" defined in "KestrineNode" is read-only'),
    ('kestrine.KestrineScalar("x", style="fancy")', 'Argument "style" to "KestrineScalar" has incompatible type'),
    ('e = kestrine.KestrineError("m"); e.line + 1', 'Unsupported operand types for + ("None" and "int")'),
    ('kestrine.KestrineAnnotatedStr("v", 1, 1)', 'Missing positional arguments'),
]


def run(*args, cwd):
    env = dict(os.environ, MYPYPATH=str(PACKAGE_ROOT), PYTHONPATH=str(PACKAGE_ROOT))
    return subprocess.run([sys.executable, "-m", *args], env=env, cwd=cwd, capture_output=True, text=True)


def test_the_typed_example_passes_and_misuse_fails_under_mypy_strict(tmp_path):
    bad = tmp_path / "misuse.py"
    bad.write_text("import kestrine\n" + "".join(line + "\n" for line, _ in MISUSE))
    result = run("mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), str(HERE / "typed_example.py"),
                 str(bad), cwd=tmp_path)
    errors = [line for line in result.stdout.splitlines() if ": error: " in line]
    assert not [e for e in errors if "typed_example" in e], result.stdout
    for number, (code, message) in enumerate(MISUSE, start=2):
        assert any(e.startswith(f"{bad.name}:{number}: error: {message}") for e in errors), (code, result.stdout)


def test_the_typed_example_runs():
    # What the example asserts about results holds at run time too.
    result = run("typed_example", cwd=HERE)
    assert result.returncode == 0, result.stderr


def test_the_stubs_match_the_compiled_module(tmp_path):
    # Every public name, signature, property and class of the package, as
    # the interpreter sees them, against the stubs (and the other way).
    result = run("mypy.stubtest", "kestrine", "--mypy-config-file", os.devnull, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
