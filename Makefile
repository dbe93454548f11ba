# Entry points for people and CI. `make demo` and `make test` install what
# they need (Debian packages), configure, build and run.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
# Seconds for all fuzzers together (split evenly between them).
FUZZ_SECONDS ?= 270
JOBS       ?= $(shell nproc)
PACKAGES   := cmake g++ make pkg-config libsqlite3-dev nlohmann-json3-dev \
              libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev sg3-utils sqlite3 libpq-dev

.PHONY: all deps configure build test test-unit test-asan demo bench install clean fuzz

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@start=$$(date +%s); cmake --build $(BUILD) -j $(JOBS); rc=$$?; \
	  echo "[stage] build: $$(( $$(date +%s) - start )) s"; exit $$rc

# Unit, integration and end-to-end tests, then the unit and integration tests
# once more under AddressSanitizer and UndefinedBehaviorSanitizer. Each stage
# prints its time.
test: build
	@start=$$(date +%s); cd $(BUILD) && ctest --output-on-failure -j $(JOBS); rc=$$?; \
	  echo "[stage] tests: $$(( $$(date +%s) - start )) s"; exit $$rc
	@start=$$(date +%s); $(MAKE) --no-print-directory test-asan; rc=$$?; \
	  echo "[stage] sanitizer build and tests: $$(( $$(date +%s) - start )) s"; exit $$rc

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPZ_SANITIZE=ON -DPZ_BUILD_BENCH=OFF >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -LE 'e2e|hardening|shareddb'

# libFuzzer programs (clang, ASan, UBSan) over the parsers, run for a bounded time.
fuzz: deps
	@dpkg-query -W -f='$${Status}' clang 2>/dev/null | grep -q 'install ok installed' || { \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq clang; }
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPZ_FUZZ=ON -DPZ_BUILD_BENCH=OFF >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	tests/fuzz/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

demo: build
	@if [ -x $(BUILD)/pzhost/pzhost ]; then $(BUILD)/pzhost/pzhost demo; \
	else echo "Plug-in built: $(BUILD)/libPZSOVMAX.so"; nm -D --defined-only $(BUILD)/libPZSOVMAX.so | grep ' T '; fi

bench: build
	@for b in $(BUILD)/bench_*; do [ -x $$b ] && $$b; done

install: build
	cmake --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
