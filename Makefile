# Entry points: `make check` (the whole test suite under AddressSanitizer and
# UndefinedBehaviorSanitizer), `make build` (plain build).
BUILD_DIR ?= build
CHECK_DIR ?= build-check
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: deps build check clean

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

check: deps
	cmake -S . -B $(CHECK_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON
	cmake --build $(CHECK_DIR) -j $(JOBS)
	cd $(CHECK_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

clean:
	rm -rf $(BUILD_DIR) $(CHECK_DIR)
