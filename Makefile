# Two commands for a fresh Debian machine:
#   make run    install what is missing, build, and run the demo (scanlume-local + Pictoport)
#   make test   install what is missing, build, and run every test
PRESET ?= default
BUILD  := build/$(PRESET)

.PHONY: all deps configure build run test tsan asan bench clean format

all: build

deps:
	@tools/install-deps.sh

$(BUILD)/build.ninja: CMakeLists.txt CMakePresets.json
	cmake --preset $(PRESET)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build --preset $(PRESET)

run: build
	tools/demo.sh $(BUILD)

test: build
	ctest --preset $(PRESET)

# Sanitizer runs of the whole test suite.
asan:
	$(MAKE) test PRESET=asan
tsan:
	$(MAKE) test PRESET=tsan

bench: build
	tools/bench.sh $(BUILD)

format:
	find src localservice tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build
