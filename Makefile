# SPDX-License-Identifier: GPL-3.0-or-later
# Two commands do all the set-up on a fresh Debian 12 machine:
#   make run    install what is missing, build, start the program
#   make test   install what is missing, build, run the whole suite headless
#   make deb    a Debian package of the program in $(BUILD)/package/
BUILD ?= build
SAN_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build run test test-sanitize bench deb format clean

all: build

deps:
	@tools/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/program/kestrani

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRANI_SANITIZE=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The fuzz targets under libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer (clang),
# FUZZ_SECONDS each; FUZZ_TARGETS names some of progress, profile, template, media.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= progress profile template media
.PHONY: fuzz
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKESTRANI_SANITIZE=ON \
	  -DKESTRANI_FUZZ=ON -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
	cmake --build $(FUZZ_BUILD) -j $(JOBS) $(patsubst %,--target fuzz_%,$(FUZZ_TARGETS))
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run-fuzzers $(FUZZ_BUILD) $(FUZZ_TARGETS)

bench: build
	tools/run-benchmarks $(BUILD)

# Builds what the package holds and packs it; install it with apt-get install ./<file>.deb.
deb: configure
	cmake --build $(BUILD) -j $(JOBS) --target kestrani kestrani-cli kestrani-amrenc
	cd $(BUILD) && cpack -G DEB

format:
	find src tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
