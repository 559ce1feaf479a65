# Benchmarks that need only the normal build.
BENCH_STEPS += bench-idle

.PHONY: bench-idle
# The idle daemon's memory and CPU over a minute.
bench-idle: build
	bench/idle_rss --build $(BUILD)

BENCH_STEPS += bench-verify-latency
.PHONY: bench-verify-latency
# Frame arrival to VerifyStatus with 10 users x 10 fingers stored.
bench-verify-latency: build
	bench/verify_latency.py --build $(BUILD)

BENCH_STEPS += bench-fpalg bench-fpgen
.PHONY: bench-fpalg bench-fpgen
# The matching library on every real image set (skipped when they are absent).
bench-fpalg: build
	bench/fpalg.sh $(abspath $(BUILD)) $(SHARED)

# Generator speed: a 300x300 master and a 96x96 impression.
bench-fpgen: build
	$(BUILD)/fpgen/fpgen_bench

BENCH_STEPS += bench-fpalg-calib
.PHONY: bench-fpalg-calib
# Impostor tail of generated fingers and of every image set (when present):
# the score scale's knots with their uncertainty, and leave-one-set-out.
bench-fpalg-calib: build
	bench/fpalg_calib.sh $(abspath $(BUILD)) $(SHARED)

BENCH_STEPS += bench-fpgen-fidelity
.PHONY: bench-fpgen-fidelity
# Generated fingers against the real sets, to the matcher: impostor tail,
# genuine FRR, image statistics and a contact sheet (minutes; FPGEN_POOL=million
# for the million-pair pool, about an hour).
bench-fpgen-fidelity: build
	bench/fpgen_fidelity.sh $(if $(filter million,$(FPGEN_POOL)),--million) $(abspath $(BUILD)) $(SHARED)
