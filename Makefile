# The project's everyday commands. `make demo` and `make test` set up a fresh
# Debian 12 machine on their own (they install what is missing first).
BUILD ?= build
GENERATOR = -G Ninja
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo gui bench install package clean tidy check-format

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(GENERATOR) $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

demo: build
	@scripts/demo $(BUILD)

gui: build
	$(BUILD)/tarvel

bench: deps
	cmake -S . -B $(BUILD)-bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DTARVEL_BUILD_BENCH=ON -DBUILD_TESTING=OFF -DTARVEL_BUILD_GUI=ON
	cmake --build $(BUILD)-bench
	@for b in $(BUILD)-bench/*_bench; do echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b; done

# The tests again with AddressSanitizer and UBSan, in a build folder of their
# own; the fuzz targets (clang, libFuzzer), each run for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
.PHONY: fuzz test-sanitize
test-sanitize: deps
	cmake -S . -B $(BUILD)-sanitize $(GENERATOR) -DTARVEL_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD)-sanitize
	cd $(BUILD)-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan-suppressions.txt ctest --output-on-failure -j2

fuzz: deps
	cmake -S fuzz -B $(BUILD)-fuzz $(GENERATOR) -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD)-fuzz
	scripts/run-fuzz $(BUILD)-fuzz $(FUZZ_SECONDS)

# The style checks CI runs: clang-format over every source (nothing is
# changed), clang-tidy over src/ with the build's compile commands.
check-format: deps
	scripts/check-format

tidy: build
	scripts/tidy $(BUILD)

install: build
	cmake --install $(BUILD)

# The Debian package, into $(BUILD)/package/.
package: build
	cd $(BUILD) && cpack --config CPackConfig.cmake

clean:
	rm -rf $(BUILD) $(BUILD)-bench
