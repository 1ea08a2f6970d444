# Two commands for a fresh Debian machine:
#   make run    install what is missing, build, and run the demo (scanlume-local + Pictoport)
#   make test   install what is missing, build, and run every test
PRESET ?= default
BUILD  := build/$(PRESET)

.PHONY: all deps configure build run test tsan asan fuzz soak bench clean format format-check

all: build

# Each command installs what it needs (tools/install-deps.sh names the groups); the groups of
# a command reach its prerequisites through DEPS.
deps:
	@tools/install-deps.sh $(DEPS)

run: DEPS = run
test asan tsan format-check: DEPS = test
fuzz: DEPS = fuzz
bench: DEPS = test bench
soak: DEPS = test

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

# Every libFuzzer target on its seed corpus for FUZZ_SECONDS each, two at a time, in build/fuzz.
FUZZ_SECONDS ?= 60
fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) tools/fuzz.sh build/fuzz

# The real window against scanlume-local with faults between 2000 items (SOAK_ITEMS).
SOAK_ITEMS ?= 2000
soak: build
	SCANLUME_LOCAL=$(BUILD)/localservice/scanlume-local \
	  $(BUILD)/tests/soak/pictoport-soak --items $(SOAK_ITEMS)

bench: build
	tools/bench.sh $(BUILD)

# The C++ sources under the project's .clang-format: format-check lists what differs and
# fails, format rewrites it.
FORMATTED := $(shell find src localservice tests bench tools -name '*.cpp' -o -name '*.h')

format:
	clang-format -i $(FORMATTED)

format-check: deps
	@command -v clang-format >/dev/null || { echo "clang-format is missing (make deps)"; exit 1; }
	@out=$$(clang-format --dry-run --Werror $(FORMATTED) 2>&1) && exit 0; \
	files=$$(printf '%s\n' "$$out" | sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u); \
	if [ -z "$$files" ]; then printf '%s\n' "$$out"; \
	else printf '%s: not formatted (make format fixes it)\n' $$files; fi; \
	exit 1
