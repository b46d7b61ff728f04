# make run   : install what is missing, build, and open the window (on a simulated unit
#              when no real one is attached; the command-line uploader when there is no display)
# make test  : install what is missing, build, and run every test
#              (SANITIZE_PASS=1 also runs the core's tests built with ASan and UBSan, and the
#              serial port, timer and hand-over tests and one whole upload built with TSan)
# make bench : the benchmarks, printing their figures
# make package : the Debian package, $(BUILD)/kvuflash_VERSION_ARCH.deb
# make windows : cross-build the core, kvuflash-cli.exe and the core's tests for Windows
#              (MinGW-w64) into build-win/; make test then runs them under Wine, when Wine is there
# make windows-package : from that build, build-win/kvuflash-VERSION-win64.zip and
#              kvuflash-VERSION-setup.exe (NSIS); signed when SIGN_CERT and SIGN_KEY name files
BUILD ?= build
BUILD_WIN ?= build-win
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
WINDOWS_PACKAGES = g++-mingw-w64-x86-64 googletest libcli11-dev nlohmann-json3-dev
MINGW_CXX = x86_64-w64-mingw32-g++-posix
WINDOWS_PACKAGE_TOOLS = nsis zip $(if $(SIGN_CERT),osslsigncode)

.PHONY: all deps configure build run test clean bench package windows windows-package

all: build

deps:
	@tools/install-deps.sh $(EXTRA_PACKAGES)

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DKV_WINDOWS_BUILD_DIR=$(abspath $(BUILD_WIN)) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

run: build
	@tools/run.sh $(BUILD)

windows:
	@tools/install-deps.sh --only $(WINDOWS_PACKAGES)
	@cmake -S . -B $(BUILD_WIN) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKV_BUILD_GUI=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_WIN) -j2

windows-package: windows
	@tools/install-deps.sh --only $(WINDOWS_PACKAGE_TOOLS)
	@SIGN_CERT="$(SIGN_CERT)" SIGN_KEY="$(SIGN_KEY)" packaging/windows/make-package.sh $(BUILD_WIN)

# The Windows build is made whenever its compiler is installed (CI installs it); without it, or
# without Wine, the Wine tests report themselves skipped.
test: build
	@if command -v $(MINGW_CXX) >/dev/null 2>&1; then $(MAKE) --no-print-directory windows; \
	else echo "make test: no $(MINGW_CXX), no Windows build: its tests are skipped"; fi
	@cd $(BUILD) && ctest --output-on-failure -j2
ifeq ($(SANITIZE_PASS),1)
	@cmake -S . -B $(BUILD)-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_BUILD_GUI=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)-asan --target test_components test_sequencer test_fileprep test_bootstrap test_sim
	@cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j2 -E 'NOT_BUILT|wine'
	@cmake -S . -B $(BUILD)-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TSAN=ON -DKV_BUILD_GUI=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)-tsan --target test_components test_e2e kvuflash-cli rq410-sim
	@cd $(BUILD)-tsan && TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" \
	  ctest --output-on-failure -j2 -R '^(Serial|SuperTimer|StdMainThread)\.|HexFileLandsInFlash'
endif

bench: build
	@tools/bench.sh $(BUILD)

package: build
	@cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(BUILD_WIN)
