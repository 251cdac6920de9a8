# Korvane front door. `make run` and `make test` set everything up on a fresh
# Debian machine (installing missing packages), build and run.

BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

ARTEFACTS = $(BUILD_DIR)/Korvane_artefacts/$(BUILD_TYPE)

.PHONY: all deps configure build run test bench clean

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

clean:
	@rm -rf $(BUILD_DIR)
