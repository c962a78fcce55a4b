# Thin driver around CMake. Every package the build needs is installed here,
# so a fresh Debian machine only needs `make run` or `make test` as root.

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 60
PACKAGES   := cmake g++ make pkg-config libhidapi-dev libgtest-dev libgmock-dev libbenchmark-dev \
              python3 python3-numpy python3-pytest nlohmann-json3-dev libboost-dev chromium \
              libmosquitto-dev mosquitto python3-paho-mqtt
FUZZ_PACKAGES := clang libclang-rt-14-dev

.PHONY: all deps fuzz-deps build asan-build tsan run test bench fuzz install clean format

all: build

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
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

test: build asan-build tsan
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

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

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
