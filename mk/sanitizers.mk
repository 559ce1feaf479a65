# Sanitizer runs on top of the plain ones in the Makefile:
#  - the black-box suite against the AddressSanitizer+UBSan daemon;
#  - ThreadSanitizer over the threaded parts: the unit tests of the log
#    channel, the transfer layer, the engine and the front end, then
#    enrollment, verification, stops and claims end to end.
# Any sanitizer report fails the step. Reports of the daemon (a child of the
# emulated sensor) go to files, which the step checks afterwards.
BUILD_TSAN ?= build-tsan
CLEAN_DIRS += $(BUILD_TSAN)
TEST_STEPS += test-asan-blackbox test-tsan

SAN_SUPP      := $(CURDIR)/tests/sanitizers
# The daemon under the emulated sensor answers more slowly when instrumented.
SAN_CALL_TIMEOUT ?= 30
TSAN_UNIT_TESTS := tests/log/test_log tests/usb/usb_tests tests/engine/engine_sensor_tests \
	tests/store/test_store tests/service/test_service
TSAN_TARGETS := vorl2547d vorl2547-sim $(notdir $(TSAN_UNIT_TESTS))
TSAN_BLACKBOX := $(addprefix $(CURDIR)/tests/blackbox/,test_claim_state.py test_enroll_verify.py)
TSAN_FLAGS := halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$(SAN_SUPP)/tsan.supp

# The report files are named without a directory part on purpose: the
# emulated sensor's preload library intercepts mkdir and stat, and a
# sanitizer that checks a log directory while it starts up would call them
# before the preload is ready. The step runs the suite from its log directory.
define run_sanitized_blackbox
	rm -rf $(1) && mkdir -p $(1)
	cd $(1) && VORL2547_BUILD=$(abspath $(2)) VORL2547_CALL_TIMEOUT=$(SAN_CALL_TIMEOUT) $(3) \
		$(PYTHON) -m pytest -q -p no:cacheprovider $(4)
	@if ls $(1) | grep -q .; then \
		echo "sanitizer reports in $(1):"; cat $(1)/*; exit 1; fi
endef

.PHONY: build-tsan test-asan-blackbox test-tsan test-tsan-unit test-tsan-blackbox

# The kill -9 test is left to the plain run: it checks what a crash leaves on
# disk, which the sanitizers do not look at, and its hundred renewals through
# the instrumented matching library do not fit its time windows.
test-asan-blackbox: build-asan
	$(call run_sanitized_blackbox,$(BUILD_ASAN)/sanitizer-logs,$(BUILD_ASAN),\
		ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:log_path=asan \
		UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=asan,\
		$(CURDIR)/tests/blackbox --ignore=$(CURDIR)/tests/blackbox/test_crash_renewal.py)

$(BUILD_TSAN)/CMakeCache.txt:
	cmake --preset tsan -B $(BUILD_TSAN)

build-tsan: deps $(BUILD_TSAN)/CMakeCache.txt
	cmake --build $(BUILD_TSAN) -j $(JOBS) --target $(TSAN_TARGETS)

test-tsan: test-tsan-unit test-tsan-blackbox

test-tsan-unit: build-tsan
	@for t in $(TSAN_UNIT_TESTS); do \
		echo "== $$t under ThreadSanitizer"; \
		log=$(BUILD_TSAN)/$$(basename $$t).tsan.log; \
		if ! TSAN_OPTIONS=$(TSAN_FLAGS) $(BUILD_TSAN)/$$t --gtest_brief=1 >$$log 2>&1; then \
			tail -n 80 $$log; exit 1; fi; \
		grep -E '^\[  (PASSED|FAILED) ' $$log; \
	done

test-tsan-blackbox: build-tsan
	$(call run_sanitized_blackbox,$(BUILD_TSAN)/sanitizer-logs,$(BUILD_TSAN),\
		TSAN_OPTIONS=$(TSAN_FLAGS):log_path=tsan,$(TSAN_BLACKBOX))
