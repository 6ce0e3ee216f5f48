# The two commands of the README: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps configure build run test bench format clean

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	@if [ -x $(BUILD)/bin/quillomare ]; then exec $(BUILD)/bin/quillomare; \
	else echo "Built the core and its tests; the program itself is not built yet."; fi

test: build
	@bash scripts/run-tests $(BUILD) $(JOBS)

bench: build
	@$(BUILD)/bin/quillomare-bench $(BENCH_ARGS)

format:
	@find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD)
