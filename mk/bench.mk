# Benchmarks that need only the normal build.
BENCH_STEPS += bench-idle

.PHONY: bench-idle
# The idle daemon's memory and CPU over a minute.
bench-idle: build
	bench/idle_rss --build $(BUILD)
