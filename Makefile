PYTHON ?= python3
BUILD  ?= build
JOBS   ?= $(shell nproc)
export PYTHONPATH := $(CURDIR)/python

.PHONY: all build demo test test-py test-cpp bench bootstrap clean sanitize format fuzz

all: build

$(BUILD)/.bootstrapped: scripts/bootstrap
	PYTHON=$(PYTHON) scripts/bootstrap
	@mkdir -p $(BUILD) && touch $@

bootstrap: $(BUILD)/.bootstrapped

$(BUILD)/build.ninja: CMakeLists.txt | $(BUILD)/.bootstrapped
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$$(command -v $(PYTHON))

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(PYTHON) examples/demo.py

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(PYTHON) -m pytest -q tests

# ASan + UBSan build in its own tree, with its own copy of the package beside it. -O1 and line
# tables only: the build is most of the run's time on a 2-core CI machine.
SAN_BUILD ?= build-sanitize
SAN_PKG   := $(CURDIR)/$(SAN_BUILD)/python
SAN_CXX    = $$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' $(SAN_BUILD)/CMakeCache.txt)
# Huge requests must fail as they do in a normal build, not abort. CPython frees little at
# exit, so leaks are checked in the C++ tests only; its objects come from malloc so that our
# reads of them are checked too.
SAN_ASAN  := allocator_may_return_null=1:detect_stack_use_after_return=1
SAN_UBSAN := UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

sanitize: | $(BUILD)/.bootstrapped
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSRA_SANITIZE=ON \
	    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
	    -DTESSRA_PACKAGE_DIR=$(SAN_PKG)/tessra -DPython_EXECUTABLE=$$(command -v $(PYTHON))
	cmake --build $(SAN_BUILD) -j $(JOBS)
	for f in python/tessra/*.py; do ln -sf $(CURDIR)/$$f $(SAN_PKG)/tessra/; done
	cd $(SAN_BUILD) && ASAN_OPTIONS=$(SAN_ASAN) $(SAN_UBSAN) ctest --output-on-failure -j $(JOBS)
	ASAN_OPTIONS=$(SAN_ASAN):detect_leaks=0 $(SAN_UBSAN) PYTHONPATH=$(SAN_PKG) PYTHONMALLOC=malloc \
	    LD_PRELOAD="$$($(SAN_CXX) -print-file-name=libasan.so) $$($(SAN_CXX) -print-file-name=libstdc++.so)" \
	    $(PYTHON) -m pytest -q tests

# The CSV fuzz run at length: one process a job, each on its own range of seeds. A failure
# prints the FUZZ_SEED that repeats it.
FUZZ_CASES ?= 2000000
fuzz: build
	seq 1 $(JOBS) | xargs -P $(JOBS) -I{} env FUZZ_SEED={}000000001 FUZZ_CASES=$(FUZZ_CASES) \
	    $(BUILD)/tessra_core_tests --gtest_filter='CsvFuzz.*' --gtest_brief=1

bench: build
	PYTHON=$(PYTHON) scripts/bootstrap bench
	$(PYTHON) bench/run.py $(BENCH)

# Rewrites the tracked C++ sources in the style of .clang-format.
format:
	git ls-files -z '*.cpp' '*.hpp' | xargs -0 clang-format -i

clean:
	rm -rf $(BUILD) $(SAN_BUILD) python/tessra/_tessra_rust*.so
