# The 64-bit Arm build: Debian's cross toolchain and multiarch libraries, the
# unit tests under qemu-aarch64 (umockdev has no arm64 build that installs
# beside the native one, so the tests on the emulated sensor stay native),
# and the check that both machines make byte-identical templates and scores.
BUILD_ARM64    ?= build-arm64
# The libraries are the arm64 builds of the Build-Depends' libraries (see
# BUILD_DEPENDS in the Makefile), with GoogleTest for the unit tests.
ARM64_PACKAGES := crossbuild-essential-arm64 qemu-user libstdc++6:arm64 libgtest-dev:arm64 \
	$(addsuffix :arm64,$(filter lib%-dev zlib1g-dev,$(BUILD_DEPENDS)))
QEMU_ARM64     := qemu-aarch64 -L /
CLEAN_DIRS     += $(BUILD_ARM64)
TEST_STEPS     += test-arm64

.PHONY: deps-arm64 cross-arm64 test-arm64

deps-arm64:
	@missing=$$(for p in $(ARM64_PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing missing packages:" $$missing; \
		if [ "$$(id -u)" != 0 ]; then echo "run 'make deps-arm64' as root to install them" >&2; exit 1; fi; \
		dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD_ARM64)/CMakeCache.txt: cmake/aarch64-linux-gnu.cmake
	cmake --preset arm64 -B $(BUILD_ARM64)

cross-arm64: deps-arm64 $(BUILD_ARM64)/CMakeCache.txt
	cmake --build $(BUILD_ARM64) -j $(JOBS)

# The unit tests, then the template digest of both builds side by side.
test-arm64: cross-arm64 build
	cd $(BUILD_ARM64) && ctest --output-on-failure -j $(JOBS) -L unit
	$(BUILD)/tests/crossarch/template_digest > $(BUILD_ARM64)/digest-native.txt
	$(QEMU_ARM64) $(BUILD_ARM64)/tests/crossarch/template_digest > $(BUILD_ARM64)/digest-arm64.txt
	@if cmp -s $(BUILD_ARM64)/digest-native.txt $(BUILD_ARM64)/digest-arm64.txt; then \
		echo "arm64 and native templates and scores are identical:" \
			"$$(tail -1 $(BUILD_ARM64)/digest-native.txt)"; \
	else \
		echo "arm64 and native templates or scores differ:" >&2; \
		diff $(BUILD_ARM64)/digest-native.txt $(BUILD_ARM64)/digest-arm64.txt >&2; exit 1; \
	fi
