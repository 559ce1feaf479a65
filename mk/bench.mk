# Benchmarks that need only the normal build.
BENCH_STEPS += bench-idle

.PHONY: bench-idle
# The idle daemon's memory and CPU over a minute.
bench-idle: build
	bench/idle_rss --build $(BUILD)

BENCH_STEPS += bench-verify-latency
.PHONY: bench-verify-latency
# Frame arrival to VerifyStatus with 10 users x 10 fingers stored, generated
# fingers and crops of the real image sets (skipped when they are absent),
# and the daemon's memory after; then bus activation to the first capture
# command, and fprintd-verify for a user with 3 fingers, frame to result.
bench-verify-latency: build
	bench/verify_latency.py --build $(BUILD) --real $(SHARED)/fpdata
	bench/frontend_latency.py --build $(BUILD)

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

BENCH_STEPS += bench-column-noise
.PHONY: bench-column-noise
# Accuracy against the sensor's column noise (the emulated sensor's real-sensor
# artefacts, the daemon's no-finger gate and its enrollment and threshold):
# a table, $(BUILD)/bench/column_noise.csv and the figure column_noise.png.
bench-column-noise: build
	mkdir -p $(BUILD)/bench
	$(BUILD)/sim/column-noise-bench --out $(BUILD)/bench/column_noise.csv
	/usr/bin/python3 bench/column_noise_plot.py $(BUILD)/bench/column_noise.csv $(BUILD)/bench/column_noise.png

BENCH_STEPS += bench-fpgen-fidelity
.PHONY: bench-fpgen-fidelity
# Generated fingers against the real sets, to the matcher: impostor tail,
# genuine FRR, image statistics and a contact sheet (minutes; FPGEN_POOL=million
# for the million-pair pool, about an hour).
bench-fpgen-fidelity: build
	bench/fpgen_fidelity.sh $(if $(filter million,$(FPGEN_POOL)),--million) $(abspath $(BUILD)) $(SHARED)
