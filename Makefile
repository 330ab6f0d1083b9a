# kestrine developer commands.
#   make demo   install what is missing, build the module alone, run examples/demo.py
#   make test   install what is missing, build, run the C++ and Python tests
#               (and mypy --strict over the typed example)
#   make asan   C++ and Python tests under AddressSanitizer and UBSan
#   make bench  build and run the C++ benchmarks
#   make fuzz   build and run the fuzz targets (scanner, decoder, round trip, JSON writer),
#               FUZZ_SECONDS each (600 by default: 40 minutes for the four)
# PYTHON picks the interpreter (default python3), BUILD the build folder,
# JOBS the parallel compile jobs.

PYTHON      ?= python3
BUILD       ?= build
JOBS        ?= $(shell nproc)
VENV        ?= .venv
APT_PACKAGES = g++ cmake pkg-config libre2-dev libabsl-dev libboost-context-dev libgtest-dev
BENCH_APT    = libbenchmark-dev
FUZZ_APT     = clang libclang-rt-dev
PY_TEST_DEPS = pytest hypothesis PyYAML ruamel.yaml numpy "mypy>=2.4,<2.5" jsonschema
FUZZ_SECONDS ?= 600

# An interpreter that forbids installing packages into it (PEP 668: the
# system Python of Debian 12 and 13, Ubuntu 24.04, Fedora) gets a project
# virtual environment in $(VENV), made once and reused; everything is built
# and tested against that.  Any other interpreter (a pyenv build, an active
# virtual environment) is used as it is.
# A machine without the interpreter yet gets Debian's, as a package, and the
# same environment.
EXTERNALLY_MANAGED := $(shell $(PYTHON) -c 'import os, sys, sysconfig; \
  print(sys.prefix == sys.base_prefix and \
        os.path.exists(os.path.join(sysconfig.get_path("stdlib"), "EXTERNALLY-MANAGED")))' 2>/dev/null)
ifeq ($(shell command -v $(PYTHON)),)
EXTERNALLY_MANAGED := True
PY_MISSING := python3
endif
ifeq ($(EXTERNALLY_MANAGED),True)
PY      := $(abspath $(VENV))/bin/python
PY_ENV  := $(PY)
# Debian's own interpreter needs its headers and its venv module as packages.
PY_APT  := $(PY_MISSING) python3-dev python3-venv
else
PY      := $(shell command -v $(PYTHON))
PY_ENV  :=
PY_APT  :=
endif

.PHONY: all deps pydeps build module module-only test cpptest pytest demo asan bench fuzz clean

all: module

# Install the system packages that are not present yet (Debian).
deps:
	@missing=""; for p in $(APT_PACKAGES) $(PY_APT) $(EXTRA_APT); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

# The project virtual environment (only for an externally managed
# interpreter).  A half-made one is removed, so the next run starts over.
$(abspath $(VENV))/bin/python: | deps
	rm -rf $(VENV)
	$(PYTHON) -m venv $(VENV) || { rm -rf $(VENV); exit 1; }

pydeps: $(PY_ENV)
	@$(PY) -c "import pytest, hypothesis, yaml, ruamel.yaml, numpy, mypy, jsonschema" 2>/dev/null || \
	  $(PY) -m pip install -q --disable-pip-version-check $(PY_TEST_DEPS)

CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$(PY)

build: deps $(PY_ENV)
	$(CONFIGURE) -DKESTRINE_BUILD_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)

# The freshly built module is copied next to the package sources, so that
# PYTHONPATH=python imports it without an install step.
module: build
	cp -f $(BUILD)/_kestrine*.so python/kestrine/

# The module without the C++ tests: a new build folder is configured without
# them (one that has them keeps them), and only the module's target is built.
module-only: deps $(PY_ENV)
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target _kestrine
	cp -f $(BUILD)/_kestrine*.so python/kestrine/

cpptest: module
	$(BUILD)/kestrine_tests --gtest_brief=1

# The property tests draw from a fixed seed, so that a run repeats the
# last one's draws; HYPOTHESIS_SEED= (empty) draws anew.
HYPOTHESIS_SEED ?= 0
PYTEST_SEED = $(if $(HYPOTHESIS_SEED),--hypothesis-seed=$(HYPOTHESIS_SEED))

pytest: module pydeps
	PYTHONPATH=$(CURDIR)/python $(PY) -m pytest -q $(PYTEST_SEED) tests

test: cpptest pytest

demo: module-only
	PYTHONPATH=$(CURDIR)/python $(PY) examples/demo.py

# The Python suite runs against the sanitizer build of the module, copied
# into a package of its own.  The interpreter is not built with the
# sanitizers, so their runtimes are preloaded; leaks are not reported (the
# interpreter keeps much of its memory until exit, on purpose).  Reports go
# to files, so that those of subprocesses are seen too: any report fails.
ASAN_REPORT  = $(CURDIR)/build-asan/sanitizer-report
ASAN_ENV     = ASAN_OPTIONS=detect_leaks=0:log_path=$(ASAN_REPORT) \
               UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$(ASAN_REPORT)
ASAN_PRELOAD = $$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)
ASAN_CHECK   = status=$$?; if ls $(ASAN_REPORT).* >/dev/null 2>&1; then cat $(ASAN_REPORT).*; exit 1; fi; exit $$status

asan: deps pydeps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRINE_BUILD_TESTS=ON -DKESTRINE_SANITIZE=ON -DPython_EXECUTABLE=$(PY)
	cmake --build build-asan -j $(JOBS) --target kestrine_tests _kestrine
	rm -f $(ASAN_REPORT).*
	$(ASAN_ENV) build-asan/kestrine_tests --gtest_brief=1; $(ASAN_CHECK)
	rm -rf build-asan/python && mkdir -p build-asan/python
	cp -r python/kestrine build-asan/python/ && rm -f build-asan/python/kestrine/_kestrine*.so
	cp build-asan/_kestrine*.so build-asan/python/kestrine/
	LD_PRELOAD="$(ASAN_PRELOAD)" $(ASAN_ENV) PYTHONPATH=$(CURDIR)/build-asan/python \
	  $(PY) -m pytest -q -p no:cacheprovider $(PYTEST_SEED) tests; $(ASAN_CHECK)

bench: $(PY_ENV)
	$(MAKE) deps EXTRA_APT="$(BENCH_APT)"
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKESTRINE_BUILD_BENCH=ON -DPython_EXECUTABLE=$(PY)
	cmake --build build-bench -j $(JOBS) --target kestrine_bench
	build-bench/kestrine_bench

fuzz:
	$(MAKE) deps EXTRA_APT="$(FUZZ_APT)"
	$(MAKE) -C tests/fuzz run SECONDS=$(FUZZ_SECONDS)
	$(MAKE) -C tests/fuzz run-decode SECONDS=$(FUZZ_SECONDS)
	$(MAKE) -C tests/fuzz run-roundtrip SECONDS=$(FUZZ_SECONDS)
	$(MAKE) -C tests/fuzz run-json SECONDS=$(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-asan build-bench python/kestrine/_kestrine*.so
