# The two commands of a fresh machine: `make demo` and `make test`.
# PYTHON picks the interpreter; when its installation is externally managed (Debian's python3),
# everything runs in the virtual environment .venv made from it (scripts/setup.sh).
PYTHON ?= python3
export PYTHON
PY = $(shell scripts/python.sh)

.PHONY: setup demo test bench bench-peers bench-parts dev sanitize

setup:
	./scripts/setup.sh

demo: setup
	$(PY) -m ozra_data_access demo

# The installed package is tested: src/ is not on the path.
test: setup
	$(PY) -m pytest -q

# The peers are installed here, not by setup: only the head-to-head benchmark needs them.
BENCH_PEERS = pyteomics pymzml pyopenms psims matplotlib

# `make bench`: this package against the mzML readers (written to benchmarks/RESULTS.md), then
# the benchmarks of single parts.
bench: bench-peers bench-parts

bench-peers: setup
	$(PY) -m pip install --quiet $(BENCH_PEERS)
	$(PY) benchmarks/peers/run.py

# The benchmarks of single parts (XIC, DAD, conditions, writer...), each printing its table.
bench-parts: setup
	$(PY) benchmarks/run_all.py

# Development build: the modules are built beside the sources; use PYTHONPATH=src.
dev:
	cmake -S . -B build/dev -G Ninja -DOZRA_INPLACE=ON -DCMAKE_BUILD_TYPE=Release
	cmake --build build/dev

# The extensions under AddressSanitizer + UndefinedBehaviorSanitizer, the suite run against
# them, and a short run of each fuzzer (scripts/sanitize.sh; needs clang for the fuzzers).
sanitize:
	PYTHON=$(PYTHON) ./scripts/sanitize.sh
