# Korvane front door. `make run` and `make test` set everything up on a fresh
# Debian machine (installing missing packages), build and run.

BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

ARTEFACTS = $(BUILD_DIR)/Korvane_artefacts/$(BUILD_TYPE)

.PHONY: all deps configure build run test bench clean test-asan test-tsan fuzz soak

all: build

deps:
	@bash scripts/setup-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) --parallel $(JOBS)

run: build
	@bash scripts/run-standalone.sh "$(ARTEFACTS)/Standalone/Korvane"

test: build
	@bash scripts/run-tests.sh $(BUILD_DIR)

bench: configure
	@cmake -S . -B $(BUILD_DIR) -DKORVANE_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD_DIR) --parallel $(JOBS) --target korvane_bench
	@$(BUILD_DIR)/bench/korvane_bench

# The test suite under AddressSanitizer + UndefinedBehaviorSanitizer, and under
# ThreadSanitizer, each in its own build folder.
test-asan: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_SANITIZE=address >/dev/null
	@cmake --build build-asan --parallel $(JOBS) --target korvane_tests
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp \
		bash scripts/run-tests.sh build-asan

test-tsan: deps
	@cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_SANITIZE=thread >/dev/null
	@cmake --build build-tsan --parallel $(JOBS) --target korvane_tests
	@TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/sanitizers/tsan.supp" \
		bash scripts/run-tests.sh build-tsan

# libFuzzer targets (clang, ASan + UBSan) in build-fuzz, each run for
# FUZZ_SECONDS on seeds made from the program's own files.
FUZZ_SECONDS ?= 60
fuzz:
	@bash scripts/setup-deps.sh fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) bash scripts/run-fuzz.sh

# A long random performance through the processor (SOAK_MINUTES of audio,
# SOAK_SEED to repeat one), then the concurrency stress test for
# SOAK_STRESS_SECONDS. Not part of `make test`.
SOAK_MINUTES ?= 4
SOAK_STRESS_SECONDS ?= 120
soak: configure
	@cmake -S . -B $(BUILD_DIR) -DKORVANE_BUILD_SOAK=ON >/dev/null
	@cmake --build $(BUILD_DIR) --parallel $(JOBS) --target korvane_soak korvane_tests
	@$(BUILD_DIR)/soak/korvane_soak --minutes $(SOAK_MINUTES) $(if $(SOAK_SEED),--seed $(SOAK_SEED))
	@KORVANE_STRESS_SECONDS=$(SOAK_STRESS_SECONDS) $(BUILD_DIR)/tests/korvane_tests --gtest_filter='Stress*'

clean:
	@rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz
