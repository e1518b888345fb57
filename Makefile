# The two everyday commands: `make run` and `make test`. Both install what is missing first:
# each target names the sets of packages it needs (scripts/install-deps lists them).
BUILD_DIR      ?= build
SANITIZE_DIR   ?= build-sanitize
TSAN_DIR       ?= build-tsan
TSAN_TESTS     := file_history_store history_file form1
BUILD_TYPE     ?= RelWithDebInfo
PREFIX         ?= /usr/local
JOBS           ?= $(shell nproc)
MAKEFLAGS      += --no-print-directory
DEPS           := run

.PHONY: all deps configure build run test test-sanitize test-tsan bench mutate install deb clean

all: build

deps:
	@scripts/install-deps $(DEPS)

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Builds only the program, so the first start does not wait for the tests.
run: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target tavik
	@scripts/run-tavik $(BUILD_DIR)/tavik

test test-sanitize test-tsan: DEPS := run test
bench: DEPS := run test bench
mutate: DEPS := run test mutate
deb: DEPS := run deb

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The same tests, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DTAVIK_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	@ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

# The tests of the history's store and of the window, whose writes run on a thread of their
# own, built with ThreadSanitizer.
test-tsan: deps
	@cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DTAVIK_TSAN=ON >/dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_TESTS)
	@TSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/tsan.supp:halt_on_error=1 \
	    ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) -R '^($(subst $() ,|,$(TSAN_TESTS)))$$'

bench: build
	@bench/run-all $(BUILD_DIR)

# The mutation check of the tests, on the sources changed since SINCE (default HEAD); not part of
# `make test`: it builds and tests once per mutant. MUTATE_ARGS passes more, e.g. --sample 40.
SINCE ?= HEAD
mutate: deps
	@scripts/mutate --since $(SINCE) $(MUTATE_ARGS)

install: build
	@cmake --install $(BUILD_DIR)

# The Debian package, in build-deb/, checked with lintian.
deb: deps
	@scripts/build-deb

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) build-deb build-mutate
