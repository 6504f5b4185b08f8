# The project's everyday commands. `make demo` and `make test` set up a fresh
# Debian 12 machine on their own (they install what is missing first).
BUILD ?= build
GENERATOR = -G Ninja
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo gui bench install package clean

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

install: build
	cmake --install $(BUILD)

# The Debian package, into $(BUILD)/package/.
package: build
	cd $(BUILD) && cpack --config CPackConfig.cmake

clean:
	rm -rf $(BUILD) $(BUILD)-bench
