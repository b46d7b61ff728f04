# make run   : install what is missing, build, and open the window (on a simulated unit
#              when no real one is attached; the command-line uploader when there is no display)
# make test  : install what is missing, build, and run every test
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test clean bench

all: build

deps:
	@tools/install-deps.sh $(EXTRA_PACKAGES)

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

run: build
	@tools/run.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j2

bench: build
	@tools/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD)
