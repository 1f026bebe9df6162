# Two commands matter on a fresh machine: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
PREFIX     ?= /usr/local
DESTDIR    ?=
DEBDIR     ?= $(BUILD)-deb

.PHONY: all deps configure build test test-asan run demo bench fuzz tidy install deb clean

all: build

deps:
	@bash scripts/deps.sh

$(BUILD)/build.ninja: CMakeLists.txt
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DCONSOLEW_SANITIZE=ON -DCONSOLEW_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

run: build
	@bash scripts/run.sh $(BUILD)/consolew $(ARGS)

demo: build
	@bash scripts/demo.sh $(BUILD) $(ARGS)

bench: build
	@bash scripts/bench.sh $(BUILD)

# libFuzzer targets under ASan+UBSan (clang-14), each run FUZZ_SECONDS seconds.
fuzz:
	@bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# clang-tidy (.clang-tidy) over the core sources; any finding fails.
tidy: build
	@bash scripts/tidy.sh $(BUILD)

# consolew and board-sim into $(DESTDIR)$(PREFIX)/bin. The build must exist
# (made by `make build` when it does not); nothing is configured again here,
# so `sudo make install` after `make build` writes only the installed files.
install:
	@test -f $(BUILD)/CMakeCache.txt || $(MAKE) build
	cmake --build $(BUILD) -j $(JOBS) --target consolew board-sim
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# consolew_VERSION_amd64.deb (and consolew-board-sim) in $(DEBDIR), built with
# debhelper from the build tree, checked with lintian.
deb:
	@test -f $(BUILD)/CMakeCache.txt || $(MAKE) build
	cmake --build $(BUILD) -j $(JOBS) --target consolew board-sim
	@bash scripts/deb.sh $(BUILD) $(DEBDIR)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(DEBDIR)
