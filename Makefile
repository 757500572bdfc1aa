# Two commands: `make run` and `make test`. Both install what is missing
# (Debian or Ubuntu, through apt-get) before they build.
BUILD ?= build/release
PREFIX ?= /usr/local
JOBS ?= 2
CMAKE_FLAGS ?=
ARGS ?=

SAMPLE_DIR := $(BUILD)/sample

.PHONY: all deps test-deps build run test install clean

all: build

deps:
	@bash scripts/install-deps.sh

test-deps:
	@bash scripts/install-deps.sh --test

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

ifeq ($(strip $(ARGS)),)
run: build
	@mkdir -p $(SAMPLE_DIR)
	@cp examples/points.* examples/roads.* examples/areas.* $(SAMPLE_DIR)/
	$(BUILD)/orvtessel $(SAMPLE_DIR)/points.shp TYPE NAME
	$(BUILD)/orvtessel $(SAMPLE_DIR)/roads.shp TYPE NAME
	$(BUILD)/orvtessel $(SAMPLE_DIR)/areas.shp TYPE NAME
	@echo
	@echo "The sample layers were converted to:"
	@echo "  $(SAMPLE_DIR)/points.shp.mp"
	@echo "  $(SAMPLE_DIR)/roads.shp.mp"
	@echo "  $(SAMPLE_DIR)/areas.shp.mp"
else
# ARGS reaches the shell as written: quote a path with spaces inside it,
# ARGS="'my data/roads.shp' TYPE NAME". The program prints the output's
# name (the layer with .mp appended, or the -o file) itself.
run: build
	$(BUILD)/orvtessel $(ARGS)
endif

test: test-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf build
