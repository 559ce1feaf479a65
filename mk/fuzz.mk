# libFuzzer targets (fuzz/), built with clang in their own build directory
# with coverage, AddressSanitizer and UBSan. 'make fuzz' runs each target for
# FUZZ_SECONDS (FUZZ_TARGETS names a few, all by default); 'make test' runs
# each for 20 s.
BUILD_FUZZ   ?= build-fuzz
FUZZ_SECONDS ?= 300
FUZZ_TARGETS ?=
CLEAN_DIRS   += $(BUILD_FUZZ)
TEST_STEPS   += test-fuzz

.PHONY: build-fuzz fuzz test-fuzz

$(BUILD_FUZZ)/CMakeCache.txt:
	cmake --preset fuzz -B $(BUILD_FUZZ)

build-fuzz: deps $(BUILD_FUZZ)/CMakeCache.txt
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzzers

fuzz: build-fuzz
	fuzz/run_fuzzers $(BUILD_FUZZ) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

test-fuzz: build-fuzz
	fuzz/run_fuzzers $(BUILD_FUZZ) 20
