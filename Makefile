# Quick start: `make demo` and `make test`. Everything else is a helper of those two.
JOBS   ?= $(shell nproc)
CMAKE  ?= cmake
FUZZ_SECONDS ?= 12

PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all build build-tests asan fuzz-build deps deps-build demo test test-unit test-asan test-fuzz fuzz bench clean install package

all: build

# The packages of everything (build, tests, benchmarks), or of the build alone; as root the
# missing ones are installed, otherwise named.
deps:
	@scripts/install-deps.sh
deps-build:
	@scripts/install-deps.sh --build

# The program, its manual page and its bash completion (build/qarvel, build/qarvel.1,
# build/qarvel.bash-completion); build-tests adds the tests and the benchmarks.
build:
	@$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@$(CMAKE) --build build -j$(JOBS) --target program
build-tests: build
	@$(CMAKE) --build build -j$(JOBS)

# A stripped release build (build-release/, no tests) of the binary, the manual page, the bash
# completion and the sample configuration under $(DESTDIR)$(PREFIX), as the package has them.
install:
	@$(CMAKE) -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@$(CMAKE) --build build-release -j$(JOBS) --target program
	@DESTDIR="$(DESTDIR)" $(CMAKE) --install build-release --strip

# The Debian package, built in a copy of the tree outside it (scripts/build-package.sh).
package:
	@scripts/build-package.sh

asan:
	@$(CMAKE) -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQARVEL_SANITIZE=ON >/dev/null
	@$(CMAKE) --build build-asan -j$(JOBS)

fuzz-build:
	@$(CMAKE) -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQARVEL_FUZZ=ON \
	  -DCMAKE_CXX_COMPILER=clang++ -DFUZZ_SECONDS=$(FUZZ_SECONDS) >/dev/null
	@$(CMAKE) --build build-fuzz -j$(JOBS)

demo: deps-build build
	@scripts/demo.sh build/qarvel

# Every test: unit and integration tests on the normal build, the unit tests again under
# AddressSanitizer and UBSan, then each fuzz target for a bounded time.
test: deps build-tests test-unit asan test-asan fuzz-build test-fuzz

test-unit:
	@cd build && ctest --output-on-failure -j$(JOBS) --timeout 900

test-asan:
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS) -L unit --timeout 900

test-fuzz:
	@cd build-fuzz && ctest --no-tests=ignore --output-on-failure -j$(JOBS) -L fuzz

fuzz:
	@$(MAKE) fuzz-build test-fuzz FUZZ_SECONDS=600

bench: deps build-tests
	@bench/run.sh build

clean:
	rm -rf build build-asan build-fuzz build-release
