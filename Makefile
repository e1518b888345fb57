# The two everyday commands: `make run` and `make test`. Both install what is missing first.
BUILD_DIR      ?= build
SANITIZE_DIR   ?= build-sanitize
BUILD_TYPE     ?= RelWithDebInfo
PREFIX         ?= /usr/local
JOBS           ?= $(shell nproc)
MAKEFLAGS      += --no-print-directory

.PHONY: all deps configure build run test test-sanitize bench install deb clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Builds only the program, so the first start does not wait for the tests.
run: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target tavik
	@scripts/run-tavik $(BUILD_DIR)/tavik

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The same tests, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DTAVIK_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	@ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

bench: build
	@bench/run-all $(BUILD_DIR)

install: build
	@cmake --install $(BUILD_DIR)

# The Debian package, in build-deb/, checked with lintian.
deb: deps
	@scripts/build-deb

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) build-deb
