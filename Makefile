# The two commands of the README:
#   make run    builds (Release) and runs the server on PORT (8080) in run/
#   make test   builds and runs every test, and checks the formatting
# PANEL_APP names the panel built into the server, app/panels/<name>.cpp:
# `make run PANEL_APP=greenhouse` runs the example panel.
PORT ?= 8080
PANEL_APP ?= demo
JOBS ?= $(shell nproc)
CMAKE ?= cmake
CTEST ?= ctest
SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null | grep -v '^graphics/font_.*_table.cpp')

.PHONY: all build run test browser-setup test-unit test-sanitize test-asan test-tsan format format-check setup clean fuzz fuzz-ci lint soak \
        arm test-arm install deb

all: build

setup:
	@tools/setup.sh base

build: setup
	$(CMAKE) -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPANEL_TESTS=OFF -DPANEL_APP=$(PANEL_APP)
	$(CMAKE) --build build/release -j $(JOBS)

run: build
	@mkdir -p run
	@[ -f run/work.bmp ] || build/release/make-picture run/work.bmp
	cd run && ../build/release/panel-server -p $(PORT)

test: test-unit format-check

# Chromium, node and npm from Debian, and the pinned node packages (installed
# again whenever package-lock.json is newer than what is installed).
browser-setup:
	@tools/setup.sh browser
	@[ tests/browser/node_modules/.package-lock.json -nt tests/browser/package-lock.json ] || (cd tests/browser && npm ci --no-audit --no-fund)

test-unit: setup browser-setup
	$(CMAKE) -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build build/test -j $(JOBS)
	cd build/test && $(CTEST) -j $(JOBS) --output-on-failure

# AddressSanitizer + UndefinedBehaviorSanitizer over every test, and
# ThreadSanitizer over the server tests.
test-sanitize: test-asan test-tsan

test-asan: setup browser-setup
	$(CMAKE) -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DPANEL_SANITIZE=address
	$(CMAKE) --build build/asan -j $(JOBS)
	cd build/asan && $(CTEST) -j $(JOBS) --output-on-failure

test-tsan: setup
	$(CMAKE) -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DPANEL_SANITIZE=thread
	$(CMAKE) --build build/tsan -j $(JOBS)
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1 $(CTEST) -j $(JOBS) -L 'server|door|app' --output-on-failure

# 32-bit ARM Linux (armhf), cross-built with Debian's arm-linux-gnueabihf
# compilers. `make arm` builds as a firmware recipe does, with the compilers
# alone (no emulator) and only what is installed, lays the install out under
# build/arm/stage (DESTDIR, prefix /usr) and puts what a device needs into
# build/arm/device: the stripped server (libcrypto and the C++ runtime linked
# in), its panel-key link, a work.bmp and the service unit. `make test-arm`
# builds every test for armhf and runs it under qemu-arm.
ARM_TRIPLE = arm-linux-gnueabihf
ARM_CONFIGURE = $(CMAKE) --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/armhf.cmake
ARM_COMPILERS_ONLY = $(CMAKE) --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/armhf-compilers.cmake
ARM_EMULATOR = qemu-arm -L /
ARM_DEVICE = build/arm/device
ARM_STAGE = build/arm/stage

arm:
	@tools/setup.sh base arm
	$(ARM_COMPILERS_ONLY) -S . -B build/arm -DCMAKE_BUILD_TYPE=Release -DPANEL_INSTALL_ONLY=ON \
	  -DPANEL_STATIC=ON -DPANEL_APP=$(PANEL_APP)
	$(CMAKE) --build build/arm -j $(JOBS)
	rm -rf $(ARM_STAGE) $(ARM_DEVICE)
	DESTDIR=$(CURDIR)/$(ARM_STAGE) $(CMAKE) --install build/arm --prefix /usr --strip
	@mkdir -p $(ARM_DEVICE)
	cp -P $(ARM_STAGE)/usr/bin/panel-server $(ARM_STAGE)/usr/bin/panel-key \
	  $(ARM_STAGE)/usr/share/panel-server/work.bmp \
	  $(ARM_STAGE)/usr/lib/systemd/system/panel-server.service $(ARM_DEVICE)/
	$(ARM_EMULATOR) $(ARM_DEVICE)/panel-server --version
	$(ARM_TRIPLE)-size $(ARM_DEVICE)/panel-server
	@$(ARM_TRIPLE)-readelf -d $(ARM_DEVICE)/panel-server | grep NEEDED
	@ls -l $(ARM_DEVICE)

test-arm:
	@tools/setup.sh base arm
	$(ARM_CONFIGURE) -S . -B build/test-arm -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build build/test-arm -j $(JOBS)
	cd build/test-arm && $(CTEST) -j $(JOBS) --output-on-failure

# The build's install rules (the server, panel-key, the default picture, the
# service unit, an example settings file) from the Release build, stripped,
# under PREFIX (default /usr/local) and DESTDIR as usual.
PREFIX ?= /usr/local
install: build
	DESTDIR=$(DESTDIR) $(CMAKE) --install build/release --prefix $(PREFIX) --strip

# Debian packages into build/deb (tools/make-deb.sh): armhf from the device
# build (make arm) and one for this machine's own architecture from the
# Release build, each checked with lintian (an error or a warning fails).
# Their version is the release and the last commit; `make deb VERSION=...`
# (on the command line only) gives one of your own.
DEB_ARCH = $(shell dpkg --print-architecture)
DEB_VERSION = $(if $(filter command line,$(origin VERSION)),$(VERSION))
deb: arm build
	@tools/setup.sh deb
	@mkdir -p build/deb && rm -f build/deb/*.deb
	PANEL_DEB_VERSION=$(DEB_VERSION) tools/make-deb.sh build/arm build/deb armhf $(ARM_EMULATOR)
	[ "$(DEB_ARCH)" = armhf ] || PANEL_DEB_VERSION=$(DEB_VERSION) tools/make-deb.sh build/release build/deb $(DEB_ARCH)
	lintian --fail-on error,warning build/deb/*.deb
	@ls -l build/deb

# Every fuzz harness for FUZZ_SECONDS (default 60) each, from a copy of the
# committed seed corpus; findings land in build/fuzz/findings.
FUZZ_SECONDS ?= 60
fuzz:
	@tools/setup.sh fuzz
	CC=clang CXX=clang++ $(CMAKE) -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPANEL_SANITIZE=address -DPANEL_FUZZ=ON -DPANEL_TESTS=OFF
	$(CMAKE) --build build/fuzz -j $(JOBS)
	tools/run-fuzz.sh build/fuzz $(FUZZ_SECONDS)

# Builds (Release) and runs every benchmark, each writing its results to
# build/bench/results/<name>.json, then prints the ratios to the floors and the
# rates of the whole run (tools/bench_summary.py). BENCH_ARGS go to every
# benchmark.
.PHONY: bench bench-ci counts
BENCH_ARGS ?=
bench:
	@tools/setup.sh bench
	$(CMAKE) -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DPANEL_TESTS=OFF -DPANEL_BENCH=ON
	$(CMAKE) --build build/bench -j $(JOBS)
	@rm -rf build/bench/results && mkdir -p build/bench/results
	for b in build/bench/bench/*_bench; do \
	  $$b $(BENCH_ARGS) --benchmark_out=build/bench/results/$$(basename $$b).json \
	    --benchmark_out_format=json || exit 1; \
	done
	@echo; python3 tools/bench_summary.py build/bench/results/*.json

# The short pass that CI runs: every benchmark for a few iterations, enough to
# show that each one runs and that the summary reads them all. Its figures are
# too short to quote.
bench-ci:
	$(MAKE) bench BENCH_ARGS=--benchmark_min_time=0.01

# The server on loopback under one to five streaming clients (tools/load.sh):
# idle, then CLICKS clicks on the panel, on a 640 x 480 and a 1024 x 600
# picture. Each server is stopped when its measurement ends.
CLIENTS ?= 5
CLICKS ?= 20
.PHONY: load
load: build
	tools/load.sh build/release $(CLIENTS) $(CLICKS) 10

# Instructions per operation on the host (callgrind) and on 32-bit ARM
# (qemu-arm's execution log), and the ARM server's static memory.
counts:
	@tools/setup.sh bench arm
	$(CMAKE) -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPANEL_TESTS=OFF
	$(CMAKE) --build build/release -j $(JOBS) --target op-count
	$(ARM_COMPILERS_ONLY) -S . -B build/arm -DCMAKE_BUILD_TYPE=Release -DPANEL_INSTALL_ONLY=OFF \
	  -DPANEL_TESTS=OFF -DPANEL_STATIC=ON
	$(CMAKE) --build build/arm -j $(JOBS) --target op-count panel-server
	python3 tools/count_instructions.py --host build/release/op-count --arm build/arm/op-count
	$(ARM_TRIPLE)-size build/arm/panel-server

# The short pass that CI runs: 20 s per harness.
fuzz-ci:
	$(MAKE) fuzz FUZZ_SECONDS=20

# Clients connecting, clicking, vanishing and reconnecting against the server
# for SOAK_SECONDS (default 180) after a short warm-up; fails unless the
# server's descriptors, threads and resident memory end where they started.
SOAK_SECONDS ?= 180
soak: setup
	$(CMAKE) -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build build/test -j $(JOBS) --target panel-soak
	build/test/panel-soak $(SOAK_SECONDS)

# clang-tidy over the system's code (not tests, tools or generated tables).
lint:
	@tools/setup.sh lint
	$(CMAKE) -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	tools/lint.sh build/test

# Regenerates the committed glyph tables from graphics/fonts/*.txt.
.PHONY: fonts
fonts:
	$(CMAKE) -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPANEL_TESTS=OFF
	$(CMAKE) --build build/release -j $(JOBS) --target fontconv
	build/release/fontconv graphics/fonts/font_8x8.txt graphics/font_8x8_table.cpp
	build/release/fontconv graphics/fonts/font_5x7.txt graphics/font_5x7_table.cpp

# A picture to check by eye: every glyph of both fonts and a sample of every
# shape, as build/testcard.bmp and build/testcard.png.
.PHONY: testcard
testcard: setup
	$(CMAKE) -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPANEL_TESTS=OFF
	$(CMAKE) --build build/release -j $(JOBS) --target testcard
	build/release/testcard build/testcard.bmp build/testcard.png

format:
	clang-format -i $(SOURCES)

format-check:
	@clang-format --dry-run -Werror $(SOURCES) && echo "formatting: clean"

clean:
	rm -rf build
