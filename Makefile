PYTHON ?= python3
BUILD  ?= build
JOBS   ?= $(shell nproc)
export PYTHONPATH := $(CURDIR)/python

.PHONY: all build demo test test-py test-cpp bench bootstrap clean

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

bench: build
	PYTHON=$(PYTHON) scripts/bootstrap bench
	$(PYTHON) bench/run.py $(BENCH)

clean:
	rm -rf $(BUILD) python/tessra/_tessra_rust*.so
