# The two commands: `make demo` and `make test` (set-up, build, run).
# SANITIZE=1 builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# SANITIZE=thread with ThreadSanitizer, each in a build folder of its own.
# TEST_LABEL=threads runs only the tests of that label; CTEST_ARGS adds more.

BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
SANITIZE ?=
CMAKE_ARGS ?=
TEST_LABEL ?=
CTEST_ARGS ?=

ifeq ($(SANITIZE),)
  BUILD_DIR ?= build
  SAN_ARGS := -DHUX_SANITIZE=
else ifeq ($(SANITIZE),thread)
  BUILD_DIR ?= build-tsan
  SAN_ARGS := -DHUX_SANITIZE=thread
else
  BUILD_DIR ?= build-asan
  SAN_ARGS := -DHUX_SANITIZE=address,undefined
endif

FUZZ_SECONDS ?= 60

.PHONY: all deps configure build demo test bench fuzz clean

all: build

deps:
	@tools/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(SAN_ARGS) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	cmake --build $(BUILD_DIR) --target run-demo

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600 \
	  $(if $(TEST_LABEL),-L '$(TEST_LABEL)') $(CTEST_ARGS)

# Benchmarks against the anchors, optimised; results in bench/RESULTS.md.
bench:
	@tools/install-deps.sh libbenchmark-dev libcereal-dev libboost-serialization-dev libspdlog-dev python3
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DHUX_BUILD_BENCH=ON -DHUX_BUILD_TESTS=OFF \
	  -DHUX_BUILD_EXAMPLES=OFF $(CMAKE_ARGS)
	cmake --build build-bench -j $(JOBS)
	tools/run-bench.py build-bench bench/RESULTS.md

# libFuzzer targets built with clang, each run for FUZZ_SECONDS.
fuzz:
	@tools/install-deps.sh clang-14 libclang-rt-14-dev
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHUX_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 $(CMAKE_ARGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzz-targets
	tools/run-fuzz.sh build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
