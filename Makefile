# Front door for people and CI. Everything real lives in CMake; this file only
# installs Debian packages that are missing and strings the steps together.

BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
PYTHON     := /usr/bin/python3
SHARED     ?= $(abspath ../shared)

# Debian 12 packages. debian/control's Build-Depends is the one list of what
# the build needs: 'make deps' installs it with 'apt-get build-dep ./', and
# BUILD_DEPENDS (its package names) is there for cross builds to take the
# libraries from. DEB_PACKAGES lists only what the tests, the demo and the
# benchmarks need on top (dpkg-dev first of all: it checks the Build-Depends);
# mk/*.mk files may add to it.
BUILD_DEPENDS := $(shell sed -n '/^Build-Depends:/,/^[^ ]/{s/^Build-Depends://;/^[^ ]/!p;}' \
	debian/control | tr ',' '\n' | awk 'NF {print $$1}')
DEB_PACKAGES := dpkg-dev clang libclang-rt-14-dev libgtest-dev googletest fonts-dejavu-core \
	dbus-daemon python3-dbus python3-pytest python3-gi python3-numpy python3-pil \
	python3-matplotlib umockdev libumockdev-dev gir1.2-umockdev-1.0 \
	pamtester libpam-wrapper util-linux procps lintian \
	fprintd libpam-fprintd python3-dbusmock polkitd

# Further steps live in mk/*.mk, one file per concern (sanitizers, fuzzing,
# soak, cross builds...). Each may add packages to DEB_PACKAGES, steps to
# TEST_STEPS (run by 'make test' after the ones here) and benchmarks to
# BENCH_STEPS, and clean-up paths to CLEAN_DIRS.
TEST_STEPS  :=
BENCH_STEPS :=
CLEAN_DIRS  := $(BUILD) $(BUILD_ASAN) obj-$(shell dpkg-architecture -qDEB_HOST_GNU_TYPE 2>/dev/null)

.PHONY: all deps deps-packages build build-asan test test-main test-asan-unit bench demo install deb clean

all: build

deps: deps-packages
	@if ! dpkg-checkbuilddeps >/dev/null 2>&1; then \
		if [ "$$(id -u)" != 0 ]; then echo "run 'make deps' as root to install the Build-Depends" >&2; exit 1; fi; \
		echo "Installing the Build-Depends of debian/control"; \
		DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq ./; \
	fi

deps-packages:
	@missing=$$(for p in $(DEB_PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing missing packages:" $$missing; \
		if [ "$$(id -u)" != 0 ]; then echo "run 'make deps' as root to install them" >&2; exit 1; fi; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

# Each build flavour is a preset of CMakePresets.json; -B keeps the build
# directory overridable from here.
$(BUILD)/CMakeCache.txt:
	cmake --preset default -B $(BUILD)

$(BUILD_ASAN)/CMakeCache.txt:
	cmake --preset asan -B $(BUILD_ASAN)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(BUILD_ASAN)/CMakeCache.txt
	cmake --build $(BUILD_ASAN) -j $(JOBS)

# Every test of the normal build (unit and black-box), the unit tests again
# under AddressSanitizer and UBSan, then the steps of mk/*.mk.
test: test-main test-asan-unit
	@for step in $(TEST_STEPS); do $(MAKE) --no-print-directory $$step || exit 1; done

test-main: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan-unit: build-asan
	cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS) -L unit

bench: build
	@for step in $(BENCH_STEPS); do $(MAKE) --no-print-directory $$step || exit 1; done

demo: build
	BUILD=$(BUILD) bash scripts/demo

install: build
	cmake --install $(BUILD)

# The Debian packages of debian/ (vorl2547 and vorl2547-fprintd), built the
# Debian way; dpkg-buildpackage leaves them beside the source tree, from where
# they move to $(DEB_DIR). Then lintian: no errors, no warnings.
DEB_DIR     ?= $(BUILD)/debs
DEB_VERSION := $(shell dpkg-parsechangelog -S Version 2>/dev/null)
deb: deps
	DEB_BUILD_OPTIONS="parallel=$(JOBS) $(DEB_BUILD_OPTIONS)" dpkg-buildpackage -b -uc -us
	mkdir -p $(DEB_DIR)
	mv ../vorl2547_$(DEB_VERSION)_* ../vorl2547-*_$(DEB_VERSION)_* $(DEB_DIR)/
	lintian --fail-on error,warning --tag-display-limit 0 $(DEB_DIR)/vorl2547_$(DEB_VERSION)_*.changes

clean:
	rm -rf $(CLEAN_DIRS)

-include $(sort $(wildcard mk/*.mk))
