# Thin driver around CMake. Every package the build needs is installed here,
# so a fresh Debian machine only needs `make run` or `make test` as root.

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 60
PACKAGES   := cmake g++ make pkg-config dpkg-dev libhidapi-dev libgtest-dev libgmock-dev libbenchmark-dev \
              python3 python3-numpy python3-pytest python3-sklearn python3-matplotlib nlohmann-json3-dev \
              libboost-dev chromium libmosquitto-dev mosquitto python3-paho-mqtt
FUZZ_PACKAGES := clang libclang-rt-14-dev

PACKAGE_BUILD ?= build-package

.PHONY: all deps fuzz-deps build asan-build tsan run test bench fuzz install package clean format

all: build

# npm (for the JCAMP-DX reader the interoperability test installs) comes with
# Debian's nodejs and npm unless a node with its own npm is installed already.
deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	command -v npm >/dev/null 2>&1 || missing="$$missing nodejs npm"; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

fuzz-deps:
	@missing=""; for p in $(FUZZ_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

asan-build: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON -DQUILLON_BENCH=OFF >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The main job: find and open the simulated module, print its versions and
# active configuration, scan, and print the spectrum as a wavelength/intensity table.
run: build
	QUILLONLIB_SIMULATOR=1 ./$(BUILD)/cli/quillon scan

# Every step runs even when an earlier one failed, so one failing test does not
# hide what the sanitizers would find; the failed steps are named at the end.
test: deps
	@failed=""; \
	step() { echo "== make test: $$1"; n=$$1; shift; "$$@" && return 0; failed="$$failed, $$n"; return 1; }; \
	step "normal build" $(MAKE) --no-print-directory build && \
	  step "normal tests" sh -c 'cd $(BUILD) && ctest --output-on-failure -j $(JOBS)'; \
	step "ASan/UBSan build" $(MAKE) --no-print-directory asan-build && \
	  step "ASan/UBSan tests" sh -c 'cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)'; \
	step "TSan" $(MAKE) --no-print-directory tsan; \
	if [ -n "$$failed" ]; then echo "make test: FAILED: $${failed#, }" >&2; exit 1; fi; \
	echo "make test: every step passed"

# The library, the simulated module and the hosts that call them from several
# threads (the exports from four, quillon.h on two modules at once), built
# with ThreadSanitizer; their runs must report no race.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_TSAN=ON -DQUILLON_BENCH=OFF >/dev/null
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target quillonlib quillon_sim threads_host quillon_host
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R '^(threads_host|quillon_host)$$'

bench: build
	./$(BUILD)/bench/quillon_bench
	QUILLONLIB_LIBRARY=$(BUILD)/libquillonlib.so.1 /usr/bin/python3 bench/bench_python.py \
	    --c-bench ./$(BUILD)/bench/quillon_bench
	/usr/bin/python3 bench/bench_serve.py --cli ./$(BUILD)/cli/quillon --c-bench ./$(BUILD)/bench/quillon_bench

# Every fuzz target for FUZZ_SECONDS (default 60) each; only the fuzz programs are built.
fuzz: deps fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_FUZZ=ON -DQUILLON_BENCH=OFF >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	cd $(FUZZ_BUILD) && FUZZ_SECONDS=$(FUZZ_SECONDS) ../fuzz/run_all.sh

install: build
	cmake --install $(BUILD)

# quillonlib_<version>_<arch>.deb in this folder: sudo apt install ./quillonlib_*.deb
package: deps
	@deb=$$(JOBS=$(JOBS) sh cmake/build_package.sh . $(PACKAGE_BUILD)) && cp "$$deb" . && \
	  echo "built $$(basename $$deb)" && dpkg-deb -I "$$deb" | sed -n '/Package:/,$$p'

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(PACKAGE_BUILD)
