# Two commands: `make run` (build and start the program against the virtual radio)
# and `make test` (build the Windows, the normal and the sanitizer tree and run every
# test; the Windows tests under Wine). `make package` builds the Debian package and
# `make windows` the Windows zip into dist/, each from a release tree of its own.
JOBS ?= $(shell nproc)
BUILD ?= build
SAN_BUILD ?= build-san
PKG_BUILD ?= build-pkg
WIN_BUILD ?= build-win
DIST ?= dist
CMAKE_FLAGS ?=

.PHONY: all deps build build-san test test-normal test-san test-win windows run bench fuzz campaign format package clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

$(SAN_BUILD)/build.ninja:
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNSET_SANITIZE=ON $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-san: deps $(SAN_BUILD)/build.ninja
	cmake --build $(SAN_BUILD) -j $(JOBS)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-san: build-san
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# The Windows tree first: the Linux tree's end-to-end tests run its programs under Wine.
windows: deps
	@scripts/build-windows $(WIN_BUILD) $(DIST)

test-win: windows
	@scripts/wine-run --start null
	cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS); rc=$$?; cd .. && scripts/wine-run --stop; exit $$rc

test: test-win test-normal test-san

run: build
	@scripts/run-demo $(BUILD)

bench: build
	@scripts/run-bench $(BUILD)

# Every fuzz target for a fixed number of inputs (see scripts/run-fuzz; `scripts/run-fuzz
# short` is the quick check).
fuzz: deps
	@scripts/run-fuzz long

# The fault campaign: CAMPAIGN_RUNS random schedules of technician actions under faults
# (seeds CAMPAIGN_SEED, CAMPAIGN_SEED+1, ...), judged by the program's invariants; with
# SEED=S one schedule is replayed and told step by step. Reports go to memory where it can.
CAMPAIGN_RUNS ?= 10000
CAMPAIGN_SEED ?= 20261207
campaign: build
	@if [ -d /dev/shm ]; then export TMPDIR=/dev/shm; fi; \
	  $(BUILD)/tests/campaign/fault_campaign $(if $(SEED),--replay $(SEED),--runs $(CAMPAIGN_RUNS) --seed $(CAMPAIGN_SEED))

package:
	@scripts/install-deps package
	@scripts/build-package $(PKG_BUILD) $(DIST)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(PKG_BUILD) $(WIN_BUILD) $(DIST)
