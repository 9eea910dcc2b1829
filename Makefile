# The front door: `make test` installs what is missing, builds and runs every test.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# CI builds with warnings as errors; local builds only warn.
WERROR ?= $(if $(CI),ON,OFF)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench format clean

all: build

deps:
	@scripts/install-deps

# Always re-run CMake (it takes a second): a folder that gained a CMakeLists.txt joins the build.
configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DPICTOMOVE_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Renders a short show made from generated pictures and sound to demo/demo.mp4.
demo: build
	@scripts/demo

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done

format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
