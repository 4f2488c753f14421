# Entry points for a fresh machine; every target that needs packages installs what is missing first.
SHELL := /bin/bash
JOBS        ?= $(shell nproc)
FUZZ_SECONDS ?= 20
RELEASE     := build/release
ASAN        := build/asan
FUZZDIR     := build/fuzz

.PHONY: deps run view test bench fuzz release asan clean

deps:
	@bash scripts/deps.sh

release: deps
	@cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(RELEASE) -j $(JOBS)

asan: deps
	@cmake -S . -B $(ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELL_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN) -j $(JOBS)

run: release
	@exec $(RELEASE)/painter/vellpaint $(ARGS)

view: release
	@if [ -x $(RELEASE)/viewer/vellview ]; then exec $(RELEASE)/viewer/vellview $(ARGS); \
	 else echo "vellview is not built yet."; fi

test: asan
	@cd $(ASAN) && ctest --output-on-failure -j $(JOBS) --timeout 600

bench: release
	@set -e; for b in $(RELEASE)/bench/bench_*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$b"; "$$b" --benchmark_min_time=0.2; done

fuzz: deps
	@cmake -S . -B $(FUZZDIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DVELL_FUZZ=ON >/dev/null
	@cmake --build $(FUZZDIR) -j $(JOBS)
	@set -eo pipefail; for f in $(FUZZDIR)/fuzz/fuzz_*; do [ -x "$$f" ] || continue; n=$$(basename $$f); \
	  mkdir -p $(FUZZDIR)/work/$$n; seeds=fuzz/corpus/$${n#fuzz_}; [ -d $$seeds ] || seeds=""; \
	  echo "== $$n ($(FUZZ_SECONDS)s)"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 $(FUZZDIR)/work/$$n $$seeds 2>&1 | tail -n 12; done

clean:
	rm -rf build
