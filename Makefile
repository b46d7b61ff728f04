# make run   : install what is missing, build, and open the window (on a simulated unit
#              when no real one is attached; the command-line uploader when there is no display)
# make test  : install what is missing, build, and run every test
#              (SANITIZE_PASS=1 also runs the core's tests built with ASan and UBSan)
# make bench : the benchmarks, printing their figures
# make package : the Debian package, $(BUILD)/kvuflash_VERSION_ARCH.deb
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test clean bench package

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
ifeq ($(SANITIZE_PASS),1)
	@cmake -S . -B $(BUILD)-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_BUILD_GUI=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)-asan --target test_components test_sequencer test_fileprep test_sim
	@cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j2 -E 'NOT_BUILT|wine'
endif

bench: build
	@tools/bench.sh $(BUILD)

package: build
	@cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD)
