# Fennick: `make run` builds the release program and starts it from its program folder;
# `make test` builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the suite;
# `make tsan` builds with ThreadSanitizer and runs the threaded suites.

DEBIAN_PACKAGES := cmake ninja-build g++ pkg-config \
	qt6-base-dev qt6-base-dev-tools libgl-dev qt6-declarative-dev qt6-webengine-dev libx11-dev \
	libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libavfilter-dev \
	libavdevice-dev libswresample-dev libpostproc-dev \
	libsdl1.2-dev zlib1g-dev libgtest-dev libgmock-dev \
	ffmpeg xvfb xauth xdotool libxcb1-dev imagemagick chromium python3-dbusmock dbus openbox

# Node.js may come from elsewhere than Debian (with its own npm): install it only when missing.
NODE_PACKAGES := nodejs npm

JOBS ?= $(shell nproc)
DEBUG_DIR := build/debug
RELEASE_DIR := build/release
TSAN_DIR := build/tsan
# The suites whose work runs on threads of their own: the engine's, the player's and the
# application's. The suppressions name third-party libraries only.
TSAN_SUITES := ^(engine_tests|player_tests|app_core_tests|app_tests)$$
TSAN_SUPPRESSIONS := $(CURDIR)/tests/player/tsan.supp

.PHONY: all deps run test tsan build-debug build-release build-tsan clean

all: build-release

deps:
	@missing=""; \
	for p in $(DEBIAN_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	command -v npm >/dev/null 2>&1 || missing="$$missing $(NODE_PACKAGES)"; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  if [ "$$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi; \
	  $$SUDO apt-get update -qq && \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build-release: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_DIR) -j $(JOBS)

build-debug: deps
	cmake -S . -B $(DEBUG_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFENNICK_SANITIZE=ON
	cmake --build $(DEBUG_DIR) -j $(JOBS)

run: build-release
	cd $(RELEASE_DIR)/bin && ./fennick

test: build-debug
	cd $(DEBUG_DIR) && ctest --output-on-failure -j $(JOBS)

build-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFENNICK_TSAN=ON
	cmake --build $(TSAN_DIR) -j $(JOBS)

tsan: build-tsan
	cd $(TSAN_DIR) && TSAN_OPTIONS="suppressions=$(TSAN_SUPPRESSIONS) second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) -L '$(TSAN_SUITES)'

clean:
	rm -rf build
