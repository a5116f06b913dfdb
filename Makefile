# Front door for the CMake build. `make run` starts the instrument,
# `make test` runs every test; both set up whatever is missing first.
# `make install` (PREFIX, DESTDIR), `make uninstall` and `make package` (a
# Debian package in BUILD_DIR) are set up in cmake/Install.cmake.

BUILD_DIR  ?= build
BUILD_TYPE ?= Release
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
PREFIX     ?= /usr/local

.PHONY: all setup configure build test run bench format clean asan tsan fuzz install uninstall package

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

# Only what is installed is built. The build is configured for PREFIX, the
# last place the programs look for their data when moved away from it.
INSTALLED_TARGETS = tuning-lattice lattice-tool lattice_data lattice_install_files
install: configure
	@grep -qxF 'CMAKE_INSTALL_PREFIX:PATH=$(PREFIX)' $(BUILD_DIR)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD_DIR) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(INSTALLED_TARGETS)
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR)

uninstall:
	DESTDIR="$(DESTDIR)" cmake -DMANIFEST=$(abspath $(BUILD_DIR))/install_manifest.txt -P cmake/Uninstall.cmake

package: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(INSTALLED_TARGETS)
	cd $(BUILD_DIR) && cpack -G DEB

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
