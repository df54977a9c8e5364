# The two commands: `make demo` and `make test` (set-up, build, run).
# SANITIZE=1 builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# SANITIZE=thread with ThreadSanitizer, each in a build folder of its own.

BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
SANITIZE ?=
CMAKE_ARGS ?=

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

.PHONY: all deps configure build demo test bench clean

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
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600

clean:
	rm -rf build build-asan build-tsan build-bench
