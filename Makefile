# Front door for the CMake build. `make run` starts the instrument,
# `make test` runs every test; both set up whatever is missing first.

BUILD_DIR  ?= build
BUILD_TYPE ?= Release
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all setup configure build test run bench format clean asan tsan fuzz

all: build

setup:
	@bash scripts/setup.sh

$(BUILD_DIR)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

configure: setup $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

run: build
	bash scripts/run.sh $(abspath $(BUILD_DIR))

bench: build
	bash scripts/bench.sh $(abspath $(BUILD_DIR))

# Sanitizer builds live beside the normal one and share its libpd.
asan:
	$(MAKE) test BUILD_DIR=build-asan BUILD_TYPE=Debug CMAKE_ARGS=-DLATTICE_SANITIZE_ADDRESS=ON
tsan:
	$(MAKE) test BUILD_DIR=build-tsan BUILD_TYPE=Debug CMAKE_ARGS=-DLATTICE_SANITIZE_THREAD=ON

# libFuzzer harnesses for every input from outside, built with clang into
# build-fuzz; each runs FUZZ_SECONDS on its corpus. See fuzz/run.sh.
FUZZ_SECONDS ?= 60
fuzz:
	@bash scripts/setup-fuzz.sh
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash fuzz/run.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
