# Portability and packaging checks (included by the Makefile; .ci/run runs
# `make release-check`). Each writes under $(BUILD) and uses the venv's tools.
#
#   make portable           clang-14 + libc++ 14 build and C++ tests; engine
#                           sources compiled for macOS and Windows (zig's clang)
#   make wheel-matrix       the repaired wheel installed into a fresh venv per
#                           CPython >= 3.10 here, test suite run against it
#   make dist-check         sdist, twine check --strict, the no-compiler
#                           message, pip install of the sdist
#   make cibuildwheel-check the release wheels cibuildwheel would build
#   make mutants            hand-written single faults, each of which the
#                           tests must catch (scripts/mutants.py)
#   make release-check      all five; every one runs, failures listed at the end

.PHONY: portable wheel-matrix dist-check cibuildwheel-check mutants release-check

RELEASE_FAILED := $(BUILD)/failed-release-steps
VBIN := $(abspath $(VENV))/bin

release-check:
	@mkdir -p $(BUILD) && rm -f $(RELEASE_FAILED)
	@$(MAKE) --no-print-directory wheel
	@$(MAKE) --no-print-directory portable || echo portable >> $(RELEASE_FAILED)
	@$(MAKE) --no-print-directory cibuildwheel-check || echo cibuildwheel-check >> $(RELEASE_FAILED)
	@$(MAKE) --no-print-directory dist-check || echo dist-check >> $(RELEASE_FAILED)
	@$(MAKE) --no-print-directory wheel-matrix || echo wheel-matrix >> $(RELEASE_FAILED)
	@$(MAKE) --no-print-directory mutants || echo mutants >> $(RELEASE_FAILED)
	@if [ -s $(RELEASE_FAILED) ]; then echo "make release-check: FAILED steps:" $$(cat $(RELEASE_FAILED)); exit 1; fi

portable: $(STAMP_DEPS)
	$(PIP) install -q "ziglang>=0.13"
	@mkdir -p $(BUILD)/portable
	PYTHON=$(VBIN)/python CMAKE=$(VBIN)/cmake NINJA=$(VBIN)/ninja JOBS=$(JOBS) \
	    BUILD_DIR=$(BUILD)/portable scripts/check_portable.sh

cibuildwheel-check: $(STAMP_DEPS)
	$(PIP) install -q "cibuildwheel==4.3.5"  # the release workflow's version
	CIBUILDWHEEL=$(VBIN)/cibuildwheel scripts/check_cibuildwheel.sh

dist-check: $(STAMP_DEPS)
	$(PIP) install -q "build>=1.2" "twine>=6.1"
	@test -n "$$(ls $(DIST)/*.whl 2> /dev/null)" || $(MAKE) --no-print-directory wheel
	PYTHON=$(VBIN)/python OUT=$(BUILD)/sdist scripts/check_dist.sh $(DIST)/*.whl

wheel-matrix:
	@test -n "$$(ls $(DIST)/*.whl 2> /dev/null)" || $(MAKE) --no-print-directory wheel
	@tag=$$($(VBIN)/auditwheel show $(DIST)/*.whl 2> /dev/null | tr '\n' ' ' | grep -oE 'manylinux_2_[0-9]+_[a-z0-9_]+' | head -n 1); \
	    echo "auditwheel show: $$tag"; minor=$$(echo "$$tag" | cut -d_ -f3); \
	    [ -n "$$minor" ] && [ "$$minor" -le 28 ] || { echo "not manylinux_2_28 or older" >&2; exit 1; }
	MATRIX_DIR=$(abspath $(BUILD))/matrix scripts/check_wheel_matrix.sh $(DIST)/*.whl

# Each fault of scripts/mutants.py applied in turn to a scratch copy of the
# tree ($(BUILD)/mutants, kept for incremental rebuilds); fails when a fault
# survives the tests or its original text is no longer found. The tests run
# from the copy, so only their dependencies are needed here.
mutants: $(STAMP_DEPS)
	@$(VPY) -c "import httpx, hypothesis, pytest, pytest_asyncio" 2> /dev/null || { \
	    test -n "$$(ls $(DIST)/*.whl 2> /dev/null)" || $(MAKE) --no-print-directory wheel; \
	    $(PIP) install -q "$$(ls $(DIST)/*.whl)[test]"; }
	JOBS=$(JOBS) $(VPY) scripts/mutants.py --scratch $(BUILD)/mutants
