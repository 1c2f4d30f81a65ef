# The two commands of the README:
#   make run   installs what is missing, builds, and starts the program
#   make test  installs what is missing, builds, and runs every test
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
COMMA := ,

.PHONY: all deps configure build test test-sanitize test-tsan fuzz run bench bench-quick bench-real-damage screenshots fixtures package format clean

all: build

deps:
	@bash scripts/install-deps.sh

# Warnings are errors for the tests and CI only, not in a user's build.
configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) $(WERROR_FLAG) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: WERROR_FLAG = -DMPGMEND_WERROR=ON
test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

run: build
	$(BUILD_DIR)/src/app/mpgmend

screenshots: build
	bash scripts/screenshots.sh $(BUILD_DIR)

# Every ratio timed in interleaved pairs (bench/README.md): the table goes to
# BENCHMARKS.md and its figures to bench/results/latest.csv, each row's change
# against the CSV before printed. bench-quick: smaller inputs and fewer rows
# by the same method, in under 2 minutes, its report in bench/out/quick.md.
bench: build
	@bash scripts/install-deps.sh bench
	bash bench/run.sh $(BUILD_DIR) bench/out

bench-quick: build
	@bash scripts/install-deps.sh bench
	BENCH_QUICK=1 bash bench/run.sh $(BUILD_DIR) bench/out

# The scan on damaged copies of real streams, judged by ffmpeg's decode
# (bench/real-damage.sh; REAL_SEEDS, REAL_SECONDS, REAL_REPAIR=1 change it):
# its tables go to bench/out/real-damage/real-damage.md.
bench-real-damage: build
	@bash scripts/install-deps.sh fixtures
	bash bench/real-damage.sh $(BUILD_DIR) bench/out

# The fixture streams of tests/data made anew with ffmpeg and mplex; for one
# version of each the files come out byte for byte as committed.
fixtures:
	@bash scripts/install-deps.sh fixtures
	bash tests/data/make-fixtures.sh

# A build with sanitizers in folder $(1): $(2) for -fsanitize=, $(3) more
# compiler flags, $(4) more cmake settings, $(5) the targets to build (all
# when empty). Warnings are errors in the plain build only: the
# instrumentation makes the compiler's flow analysis report false overflows.
# The developers' tools (benchmarks, screenshots) are left out: no test runs
# them.
define sanitized_build
	@cmake -S . -B $(1) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMPGMEND_WERROR=OFF \
	  -DMPGMEND_BUILD_TOOLS=OFF \
	  -DCMAKE_CXX_FLAGS="$(strip -fsanitize=$(2) -fno-omit-frame-pointer $(3))" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=$(2)" $(4) >/dev/null
	@cmake --build $(1) -j $(JOBS) $(if $(5),--target $(5))
endef

# Everything built with AddressSanitizer and UndefinedBehaviorSanitizer, and
# every test run with them.
SAN_DIR ?= build-sanitize
test-sanitize: deps
	$(call sanitized_build,$(SAN_DIR),address$(COMMA)undefined,-fno-sanitize-recover=all)
	cd $(SAN_DIR) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) -LE big

# Everything built with ThreadSanitizer, and every test that runs more than
# one thread run with it: the window's jobs run on a worker thread that talks
# to the window's thread. The core's tests labelled one-thread are left out:
# there is no second thread for the sanitizer to watch, and they take most of
# the time. Qt and glib are not built with it, so reports from inside them
# alone are suppressed (tests/tsan.supp); a report that reaches our code
# fails. A window test starts mpgmend-cli with QProcess, which forks the
# threaded test to exec it: die_after_fork=0 lets that child go on to the exec.
# -O1 and line tables only (-g1) build in two thirds of the time and still
# give every frame of a report, inlined ones too, with its file and line.
# Only the programs of those tests are built (threaded_tests): the programs
# of one-thread tests are never run here, and ctest lists each as
# <program>_NOT_BUILT, which is left out.
TSAN_DIR ?= build-tsan
test-tsan: deps
	$(call sanitized_build,$(TSAN_DIR),thread,,-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG",threaded_tests)
	cd $(TSAN_DIR) && QT_QPA_PLATFORM=offscreen \
	  TSAN_OPTIONS=suppressions=$(CURDIR)/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0 \
	  ctest --output-on-failure -j $(JOBS) -LE 'one-thread|big' -E '_NOT_BUILT'

# libFuzzer targets (fuzz/README.md), built with clang in their own folder and
# each run for FUZZ_SECONDS on a copy of its seed corpus; a crash, a hang or
# a broken check stops with an error and leaves the input in
# $(FUZZ_DIR)/findings/<target>/. Each target's line gives its runs, its
# executions per second (and per second of processor time, which other work
# on the machine does not lower) and libFuzzer's coverage figures.
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := fuzz_scan fuzz_repair fuzz_index fuzz_join fuzz_cutlist fuzz_roundtrip fuzz_dump fuzz_open \
  fuzz_sectors fuzz_continuous fuzz_filter
fuzz:
	@bash scripts/install-deps.sh fuzz
	@cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DMPGMEND_FUZZ=ON \
	  -DMPGMEND_BUILD_UI=OFF -DBUILD_TESTING=OFF -DMPGMEND_WERROR=OFF \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -g -O1" >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t $(FUZZ_DIR)/findings/$$t && \
	  cp fuzz/corpus/$$t/* $(FUZZ_DIR)/corpus/$$t/ || exit 1; \
	  extra=""; if [ -d fuzz/regressions/$$t ]; then extra=fuzz/regressions/$$t; fi; \
	  echo "== $$t: $(FUZZ_SECONDS) s"; \
	  if ! /usr/bin/time -f '%U %S' -o $(FUZZ_DIR)/$$t.time \
	      $(FUZZ_DIR)/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	      -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/findings/$$t/ \
	      $(FUZZ_DIR)/corpus/$$t $$extra >$(FUZZ_DIR)/$$t.log 2>&1; then \
	    tail -n 40 $(FUZZ_DIR)/$$t.log; \
	    echo "$$t FOUND A FAULT: input in $(FUZZ_DIR)/findings/$$t/, log $(FUZZ_DIR)/$$t.log"; \
	    exit 1; \
	  fi; \
	  awk -v t=$$t -v cpu="$$(tail -n 1 $(FUZZ_DIR)/$$t.time)" \
	    '/^Done/ { runs = $$2; secs = $$5 } \
	     /stat::average_exec_per_sec/ { rate = $$2 } \
	     / cov: / { for (i = 1; i < NF; ++i) { if ($$i == "cov:") cov = $$(i + 1); if ($$i == "ft:") ft = $$(i + 1) } } \
	     END { split(cpu, c, " "); used = c[1] + c[2]; \
	       printf "%s: %d runs in %d s, %d exec/s (%d per CPU second), cov %d, ft %d\n", \
	         t, runs, secs, rate, (used > 0 ? runs / used : 0), cov, ft }' $(FUZZ_DIR)/$$t.log; \
	done

# A .deb of both programs, built in a folder of its own as a release build
# without the tests (the build type of make test stays as it is), its
# programs stripped and hardened with Debian's build flags (stack protector,
# fortified functions, read-only relocations bound at start); lintian then
# checks it and fails on an error.
PACKAGE_DIR ?= build-package
BUILDFLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package: deps
	@bash scripts/install-deps.sh package
	@cmake -S . -B $(PACKAGE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DMPGMEND_BUILD_UI=ON \
	  -DCMAKE_CXX_FLAGS="$$($(BUILDFLAGS) CPPFLAGS) $$($(BUILDFLAGS) CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(BUILDFLAGS) LDFLAGS)" >/dev/null
	@rm -f $(PACKAGE_DIR)/mpgmend_*.deb
	@cmake --build $(PACKAGE_DIR) -j $(JOBS) --target package
	lintian --fail-on error $(PACKAGE_DIR)/mpgmend_*.deb

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR)
