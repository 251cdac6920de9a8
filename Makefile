# Korvane front door. `make run` and `make test` set everything up on a fresh
# Debian machine (installing missing packages), build and run.

BUILD_DIR ?= build
PREFIX ?= /usr/local
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

ARTEFACTS = $(BUILD_DIR)/Korvane_artefacts/$(BUILD_TYPE)

.PHONY: all deps configure build run test bench render install package clean test-asan test-tsan fuzz soak

all: build

deps:
	@bash scripts/setup-deps.sh

# The benchmarks and the soak runs have build folders of their own (below), so
# the main one never builds them (and a folder that once did stops doing so).
configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
		-DKORVANE_BUILD_BENCH=OFF -DKORVANE_BUILD_SOAK=OFF $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) --parallel $(JOBS)

run: build
	@bash scripts/run-standalone.sh "$(ARTEFACTS)/Standalone/Korvane"

# ctest runs as many tests at once as the machine has cores; TEST_JOBS=N sets it.
test: build
	@TEST_JOBS="$(TEST_JOBS)" bash scripts/run-tests.sh $(BUILD_DIR)

# Benchmarks: per-shape cost and the S1-S3 real-time factors (bench/RESULTS.md).
BENCH_ARGS ?= --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
BENCH_DIR ?= build-bench
bench: deps
	@cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BENCH_DIR) --parallel $(JOBS) --target korvane_bench
	@$(BENCH_DIR)/bench/korvane_bench $(BENCH_ARGS)

# Installs the standalone app (as `korvane`), korvane-render, the desktop entry
# and icon, the LV2 bundle under lib/lv2 and the VST3 bundle under lib/vst3.
# PREFIX defaults to /usr/local; DESTDIR stages the tree elsewhere.
install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# A Debian package of the same tree under /usr, written into the build folder.
package: build
	@cd $(BUILD_DIR) && cpack -G DEB
	@ls $(BUILD_DIR)/*.deb

# A short demo rendered offline from a MIDI file the project writes itself.
DEMO_DIR = $(BUILD_DIR)/demo
render: configure
	@cmake --build $(BUILD_DIR) --parallel $(JOBS) --target korvane-render korvane-make-demo-midi
	@mkdir -p $(DEMO_DIR)
	@$(BUILD_DIR)/tools/korvane-make-demo-midi $(DEMO_DIR)/demo.mid
	@$(BUILD_DIR)/tools/korvane-render --midi $(DEMO_DIR)/demo.mid --out $(DEMO_DIR)/demo.wav \
		--mod synth1_oscType=sawtooth_og --mod synth2_oscType=triangle_og \
		--set synth1_unison=0.2 --set synth1_detune=0.15 --set synth2_tune=0.25 \
		--set cutoff=0.45 --set res=0.3 --mod env1_mappedParam=cutoff --set env1_attack=0.2 \
		--mod lfo1_mappedParam=synth1_pan --set lfo1_rate=0.75
	@echo "Demo written to $(DEMO_DIR)/demo.wav (from $(DEMO_DIR)/demo.mid)"

# The factory bank. `make factory` writes resources/factory from the recipes in
# tools/factory/Recipes.cpp through the processor's own savePatch; `make gallery`
# loads every factory patch, plays its category's phrase, measures it and writes
# docs/gallery (balance table, pictures, waveform sheet) and the audio into
# $(BUILD_DIR)/gallery. Both run with a home folder of their own in the build folder.
.PHONY: bench-editor
# The editor's CPU cost in the running standalone app (bench/RESULTS.md).
bench-editor: build
	@bash bench/editor_cost.sh "$(ARTEFACTS)/Standalone/Korvane" $(or $(SECONDS_PER_CASE),20)

.PHONY: factory gallery screenshots
TOOL_HOME = $(abspath $(BUILD_DIR))/tool-home
factory: configure
	@cmake --build $(BUILD_DIR) --parallel $(JOBS) --target korvane-make-factory
	@mkdir -p $(TOOL_HOME)
	@HOME=$(TOOL_HOME) $(BUILD_DIR)/tools/korvane-make-factory resources/factory

gallery: configure
	@cmake --build $(BUILD_DIR) --parallel $(JOBS) --target korvane-gallery
	@mkdir -p $(TOOL_HOME)
	@HOME=$(TOOL_HOME) $(BUILD_DIR)/tools/korvane-gallery --patches resources/factory --docs docs/gallery --audio $(BUILD_DIR)/gallery

# Pictures of the window for the README (docs/screenshots), drawn by
# tools/Screenshots.cpp; on a virtual display when none is set.
screenshots: configure
	@cmake --build $(BUILD_DIR) --parallel $(JOBS) --target korvane-screenshots
	@rm -rf $(TOOL_HOME)-screenshots && mkdir -p $(TOOL_HOME)-screenshots
	@if [ -z "$$DISPLAY" ]; then \
		HOME=$(TOOL_HOME)-screenshots xvfb-run -a -s "-screen 0 1280x800x24" $(BUILD_DIR)/tools/korvane-screenshots docs/screenshots; \
	else \
		HOME=$(TOOL_HOME)-screenshots $(BUILD_DIR)/tools/korvane-screenshots docs/screenshots; \
	fi

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
# SOAK_SEED to repeat one), the same through korvane-render (SOAK_RENDER_MINUTES;
# failed renders are kept in $(SOAK_DIR)/soak-failures), then the concurrency
# stress test for SOAK_STRESS_SECONDS. Not part of `make test`.
SOAK_MINUTES ?= 4
SOAK_RENDER_MINUTES ?= 3
SOAK_STRESS_SECONDS ?= 120
SOAK_DIR ?= build-soak
soak: deps
	@cmake -S . -B $(SOAK_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_SOAK=ON >/dev/null
	@cmake --build $(SOAK_DIR) --parallel $(JOBS) --target korvane_soak korvane_render_soak korvane_tests
	@$(SOAK_DIR)/soak/korvane_soak --minutes $(SOAK_MINUTES) $(if $(SOAK_SEED),--seed $(SOAK_SEED))
	@$(SOAK_DIR)/soak/korvane_render_soak --render $(SOAK_DIR)/tools/korvane-render --minutes $(SOAK_RENDER_MINUTES) \
		--keep $(SOAK_DIR)/soak-failures $(if $(SOAK_SEED),--seed $(SOAK_SEED))
	@KORVANE_STRESS_SECONDS=$(SOAK_STRESS_SECONDS) KORVANE_STRESS_SEED=$(if $(SOAK_SEED),$(SOAK_SEED),$$(date +%s)) \
		$(SOAK_DIR)/tests/korvane_tests --gtest_filter='Stress*'

clean:
	@rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz $(BENCH_DIR) $(SOAK_DIR)
