# The two commands of the README:
#   make run   installs what is missing, builds, and starts the program
#   make test  installs what is missing, builds, and runs every test
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test run bench screenshots package format clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

run: build
	$(BUILD_DIR)/src/app/mpgmend

screenshots: build
	bash scripts/screenshots.sh $(BUILD_DIR)

bench: build
	@bash scripts/install-deps.sh bench
	bash bench/run.sh $(BUILD_DIR) bench/out

# A .deb of both programs, in the build folder.
package: build
	cd $(BUILD_DIR) && cpack

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR)
