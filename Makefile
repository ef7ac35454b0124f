# Two commands matter: `make demo` and `make test`. Each sets up what is missing first.
SHELL := /bin/bash
DEBIAN_PACKAGES := libre2-dev libfmt-dev libgtest-dev pkg-config g++ ninja-build
VENV := .venv
PY := $(VENV)/bin/python
CORE_BUILD := build/core-tests
ASAN_BUILD := build/asan
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: demo test test-core test-python install system-deps bench bench-json clean

demo: install
	$(PY) examples/quickstart.py

test: install test-core test-python

test-core: system-deps
	cmake -S . -B $(CORE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLMAR_EXTENSION=OFF -DQUILLMAR_TESTS=ON >/dev/null
	cmake --build $(CORE_BUILD)
	ctest --test-dir $(CORE_BUILD) --output-on-failure

test-python: install
	$(PY) -m pytest

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
install: system-deps $(PY)
	$(PY) -m pip install -q scikit-build-core cmake ninja
	$(PY) -m pip install -q --no-build-isolation '.[test]'

BENCH_PACKAGES := pydantic msgspec beartype typeguard fastjsonschema orjson annotated-types

bench: install
	$(PY) -m pip install -q $(BENCH_PACKAGES)
	$(PY) bench/run.py

bench-json: install
	$(PY) -m pip install -q $(BENCH_PACKAGES)
	$(PY) bench/run.py --json build/bench.json

clean:
	rm -rf build $(VENV)
