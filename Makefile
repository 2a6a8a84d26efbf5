BUILD_DIR ?= build
JOBS ?= 2

.PHONY: setup configure build test run bench package package-windows clean

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

run: build
	@scripts/run-console.sh $(BUILD_DIR)

package: build
	@cd $(BUILD_DIR) && cpack -G DEB

package-windows:
	@scripts/package-windows.sh build-windows

bench: build
	@scripts/run-bench.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz build-windows
