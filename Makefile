# Vardelo: `make` builds both builds, `make test` runs every test layer, `make run` starts the
# benchmark, `make native` builds the report as an x86-64 Linux program. `make test` and
# `make run` first run tools/setup, so a fresh machine needs nothing else.

BUILD    ?= build
HOST     := $(BUILD)/host
TARGET   := $(BUILD)/target
NATIVE   := $(BUILD)/native
JOBS     ?= $(shell nproc)
# Wine's environment comes from tools/wine-env, with the prefix inside this build folder; a
# WINEPREFIX of the caller's (~/.wine, say) is not passed on.
export VARDELO_BUILD := $(abspath $(BUILD))
unexport WINEPREFIX

# The layers' include order (tools/layers lists each include that points up it): with 0 a listing
# is reported and the run goes on; with 1 it fails the run.
LAYERS_STRICT ?= 1

.PHONY: all host target native setup test test-layers test-host test-native test-target test-e2e \
        test-e2e-full run dist bench clean

all: host target

setup:
	tools/setup

# A build folder counts as configured once CMake has generated its Makefile: a configure that
# stopped half-way leaves a CMakeCache.txt but no Makefile, and is simply run again.
$(HOST)/Makefile:
	cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Debug

$(TARGET)/Makefile:
	cmake -S . -B $(TARGET) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(NATIVE)/Makefile:
	cmake -S . -B $(NATIVE) -DVARDELO_NATIVE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo

host: $(HOST)/Makefile
	cmake --build $(HOST) -j $(JOBS)

target: $(TARGET)/Makefile
	cmake --build $(TARGET) -j $(JOBS)

# $(NATIVE)/vardelo-report: the console report as an x86-64 Linux program, run where it is built.
native: $(NATIVE)/Makefile
	cmake --build $(NATIVE) -j $(JOBS)

test: setup
	$(MAKE) all
	$(MAKE) test-layers
	$(MAKE) test-host
	$(MAKE) test-native
	$(MAKE) test-target
	$(MAKE) test-e2e

test-layers:
	@tools/layers || { [ "$(LAYERS_STRICT)" = 0 ] && \
	  echo "layers: reported only; LAYERS_STRICT=1 makes a listing fail the run" >&2; }

test-host: host
	ctest --test-dir $(HOST) --output-on-failure --no-tests=error -j $(JOBS)

# The native report run once, short, on this machine's processor, its JSON checked.
test-native: native
	ctest --test-dir $(NATIVE) --output-on-failure --no-tests=error

# One private display and one wineserver for the whole run: each Wine process then starts in a
# fraction of a second, and Wine's desktop process, started first, has the display to draw on.
test-target: target
	tools/with-display tools/with-wineserver ctest --test-dir $(TARGET) --output-on-failure --no-tests=error

test-e2e: target
	TARGET_DIR=$(abspath $(TARGET)) tools/with-display tools/with-wineserver tests/e2e/run

# The end-to-end tests at full length: the cycle test also waits for its last write pass, the
# robustness test uses the program clumsily for ten minutes and closes it twelve times.
test-e2e-full: target
	TARGET_DIR=$(abspath $(TARGET)) VARDELO_E2E_CYCLE=full VARDELO_E2E_ROBUST=long \
	  tools/with-display tools/with-wineserver tests/e2e/run

run: setup
	$(MAKE) target
	tools/run-vardelo $(TARGET)/vardelo.exe

# A flat zip to hand to a Windows user, named after the build's version: both programs,
# README.txt and LICENSE.
dist: target
	tools/dist $(TARGET) $(BUILD)/dist

# Vardelo beside likwid-bench on this machine: three interleaved rounds, a few minutes, tables
# and a picture in $(BUILD)/bench. A benchmark, never part of `make test`.
bench:
	tools/bench $(BUILD)

clean:
	rm -rf $(BUILD)
