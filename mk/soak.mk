# Soak and fault run: the daemon on the emulated sensor under a seeded random
# script of calls and sensor events (tests/soak/soak.py). 'make soak' runs for
# SOAK_SECONDS; 'make test' runs a short one.
SOAK_SECONDS       ?= 1800
SOAK_SHORT_SECONDS ?= 180
SOAK_SEED          ?= 2547
TEST_STEPS         += soak-short

.PHONY: soak soak-short

soak: build
	$(PYTHON) tests/soak/soak.py --build $(BUILD) --seconds $(SOAK_SECONDS) --seed $(SOAK_SEED)

soak-short: build
	$(PYTHON) tests/soak/soak.py --build $(BUILD) --seconds $(SOAK_SHORT_SECONDS) --seed $(SOAK_SEED)
