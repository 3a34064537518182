# Everything a fresh Debian machine needs is installed by `make deps`, which
# the other targets call first.
BUILD      ?= build
BUILD_SAN  ?= build-sanitize
BUILD_TSAN ?= build-tsan
BUILD_FUZZ ?= build-fuzz
TIME       ?= 600
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all deps configure build test test-sanitize test-tsan fuzz-smoke fuzz bench demo install format clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(BUILD_SAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKEO_SANITIZE=ON \
	  -DKEO_BUILD_BENCH=OFF
	cmake --build $(BUILD_SAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(BUILD_SAN) --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B $(BUILD_TSAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEO_TSAN=ON \
	  -DKEO_BUILD_BENCH=OFF
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:suppressions=$(CURDIR)/tests/tsan.supp ctest --test-dir $(BUILD_TSAN) --output-on-failure -j $(JOBS)

# libFuzzer targets (clang): every committed input of fuzz/corpus/ replayed
# first, then 60 s of fuzzing each in CI, TIME seconds each by hand (make
# fuzz TIME=600). Non-zero on any finding.
fuzz-smoke: deps
	BUILD_FUZZ=$(BUILD_FUZZ) JOBS=$(JOBS) fuzz/run.sh 60

fuzz: deps
	BUILD_FUZZ=$(BUILD_FUZZ) JOBS=$(JOBS) fuzz/run.sh $(TIME)

# The photograph first, best-effort: without a network the benchmarks still
# run on their synthetic pictures. Then every benchmark, even after one fails.
bench: build
	@bench/make_photo.sh 2>/dev/null || \
	  echo "bench: no photograph (bench/make_photo.sh failed), synthetic pictures only"
	@status=0; for b in $(BUILD)/bin/bench_*; do echo "== $$b"; $$b || status=1; done; \
	  exit $$status

# Only what the demo needs: the tool and the plug-in module it loads.
demo: deps configure
	cmake --build $(BUILD) --target keo keo_plugin -j $(JOBS)
	$(BUILD)/bin/keo demo --output-dir $(BUILD)/demo

# The GStreamer plug-in into GStreamer's own plug-in folder, and the Python
# module (with the importer module it loads) where Debian's python3 finds it
# (DESTDIR is honoured).
install: deps configure
	cmake --build $(BUILD) --target gstkeo keo_python keo_plugin -j $(JOBS)
	cmake --install $(BUILD) --component gstreamer
	cmake --install $(BUILD) --component python

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_TSAN) $(BUILD_FUZZ)
