# Entry points for people and CI. `make demo` and `make test` install what
# they need (Debian packages), configure, build and run.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
COV_BUILD  ?= build-cov
# Seconds for all fuzzers together (split evenly between them).
FUZZ_SECONDS ?= 270
JOBS       ?= $(shell nproc)
PACKAGES   := cmake g++ make pkg-config libsqlite3-dev nlohmann-json3-dev \
              libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev sg3-utils sqlite3 libpq-dev \
              help2man
# What `make package` and `make lintian` add.
PACKAGING_PACKAGES := debhelper lintian
DEBS       ?= $(BUILD)/debs

.PHONY: all deps configure build test test-unit test-asan demo bench install clean fuzz \
        package lintian docs coverage

all: build

deps:
	@missing=""; for p in $(PACKAGES) $(EXTRA_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

# Stage budgets in seconds on the 2-core CI machine (a clean clone); each
# stage prints its time against its budget.
BUDGET_BUILD      ?= 600
BUDGET_UNIT       ?= 120
BUDGET_E2E        ?= 300
BUDGET_ASAN_BUILD ?= 600
BUDGET_ASAN_TESTS ?= 240
BUDGET_FUZZ       ?= 420
# Tests that drive whole programs against the simulated array.
E2E_LABELS := e2e|hardening|shareddb

# $(call timed,NAME,BUDGET,COMMAND): runs COMMAND, prints its time.
define timed
	@start=$$(date +%s); $(3); rc=$$?; took=$$(( $$(date +%s) - start )); \
	  over=$$( [ $$took -le $(2) ] || echo ' OVER BUDGET'); \
	  echo "[stage] $(1): $$took s (budget $(2) s)$$over"; exit $$rc
endef

build: configure
	$(call timed,build,$(BUDGET_BUILD),cmake --build $(BUILD) -j $(JOBS))

# Unit and integration tests, the end-to-end tests, then the unit and
# integration tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer.
test: build
	$(call timed,unit tests,$(BUDGET_UNIT),cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE '$(E2E_LABELS)')
	$(call timed,end-to-end tests,$(BUDGET_E2E),cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L '$(E2E_LABELS)')
	@$(MAKE) --no-print-directory test-asan

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPZ_SANITIZE=ON -DPZ_BUILD_BENCH=OFF >/dev/null
	$(call timed,sanitizer build,$(BUDGET_ASAN_BUILD),cmake --build $(ASAN_BUILD) -j $(JOBS))
	$(call timed,sanitizer tests,$(BUDGET_ASAN_TESTS),cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -LE '$(E2E_LABELS)')

# libFuzzer programs (clang, ASan, UBSan) over the parsers, run for a bounded time.
fuzz: deps
	@dpkg-query -W -f='$${Status}' clang 2>/dev/null | grep -q 'install ok installed' || { \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq clang; }
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPZ_FUZZ=ON -DPZ_BUILD_BENCH=OFF >/dev/null
	$(call timed,fuzz,$(BUDGET_FUZZ),cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers && tests/fuzz/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS))

# Line and branch coverage of the plug-in and the host runtime by the whole
# test suite (gcovr). Summary on the terminal; per-file table in
# $(COV_BUILD)/coverage.txt, pages in $(COV_BUILD)/coverage/index.html.
COVERED := engine/ orchestration/ array/ hostdev/ config/ common/ host/ hostruntime/
coverage: deps
	@$(MAKE) --no-print-directory deps EXTRA_PACKAGES=gcovr
	cmake -S . -B $(COV_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPZ_COVERAGE=ON -DPZ_BUILD_BENCH=OFF >/dev/null
	cmake --build $(COV_BUILD) -j $(JOBS)
	find $(COV_BUILD) -name '*.gcda' -delete
	cd $(COV_BUILD) && ctest -j $(JOBS) --output-on-failure
	@mkdir -p $(COV_BUILD)/coverage
	gcovr --root . --object-directory $(COV_BUILD) $(foreach d,$(COVERED),--filter '$(d)') \
	  --exclude-unreachable-branches --exclude-throw-branches \
	  --txt $(COV_BUILD)/coverage.txt --html-details $(COV_BUILD)/coverage/index.html --print-summary

demo: build
	@if [ -x $(BUILD)/pzhost/pzhost ]; then $(BUILD)/pzhost/pzhost demo; \
	else echo "Plug-in built: $(BUILD)/libPZSOVMAX.so"; nm -D --defined-only $(BUILD)/libPZSOVMAX.so | grep ' T '; fi

# All benchmarks (not run in CI), each one's output kept in
# $(BUILD)/bench-results/, then a summary of the goals. bench_plugin drives
# backup, mount and unmount of up to 1,000 devices at 200 ms per command
# (about ten minutes); BENCH_PLUGIN_ARGS="--sizes 1,10,100" shortens it.
BENCH_PLUGIN_ARGS ?=
bench: build
	@mkdir -p $(BUILD)/bench-results; rc=0; start=$$(date +%s); \
	for b in $(BUILD)/bench_*; do \
	  [ -x $$b ] || continue; name=$$(basename $$b); args=""; \
	  [ $$name = bench_plugin ] && args="$(BENCH_PLUGIN_ARGS)"; \
	  echo "== $$name $$args"; \
	  ( $$b $$args 2>&1; echo "$$name: exit $$?" ) | tee $(BUILD)/bench-results/$$name.txt; \
	  tail -1 $(BUILD)/bench-results/$$name.txt | grep -q ': exit 0$$' || rc=1; \
	done; \
	echo; echo "== summary ($$(( $$(date +%s) - start )) s; outputs in $(BUILD)/bench-results)"; \
	grep -h -E "goal|median_ms|ERROR OCCURRED|: exit" $(BUILD)/bench-results/*.txt; \
	exit $$rc

# Debian packages of the build tree (libpzsovmax1, pzhost, pzsovmax-simulator
# and their -dbgsym packages) in $(DEBS); see packaging/README.md.
BUDGET_PACKAGE ?= 120
package: build
	@$(MAKE) --no-print-directory deps EXTRA_PACKAGES="$(PACKAGING_PACKAGES)"
	$(call timed,package,$(BUDGET_PACKAGE),packaging/build-debs.sh $(BUILD) $(DEBS) >$(BUILD)/build-debs.log 2>&1 || { tail -40 $(BUILD)/build-debs.log; exit 1; }; ls -l $(DEBS))

# lintian over the packages: every tag is shown, an error fails.
lintian: package
	$(call timed,lintian,$(BUDGET_PACKAGE),lintian --fail-on error --display-info --pedantic $(DEBS)/*.deb)

# Pictures of docs/ drawn from their sources kept beside them (Graphviz).
DOT_SOURCES := $(wildcard docs/*.dot)
docs: $(DOT_SOURCES:.dot=.svg)

docs/%.svg: docs/%.dot
	@$(MAKE) --no-print-directory deps EXTRA_PACKAGES=graphviz
	dot -Tsvg $< -o $@

install: build
	cmake --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(COV_BUILD)
