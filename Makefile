# Fennick: `make run` builds the release program and starts it from its program folder;
# `make test` builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the suite.

DEBIAN_PACKAGES := cmake ninja-build g++ pkg-config \
	qt6-base-dev qt6-base-dev-tools libgl-dev \
	libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libavfilter-dev \
	libavdevice-dev libswresample-dev libpostproc-dev \
	libsdl1.2-dev zlib1g-dev libgtest-dev libgmock-dev \
	ffmpeg xvfb xauth imagemagick chromium

# Node.js may come from elsewhere than Debian (with its own npm): install it only when missing.
NODE_PACKAGES := nodejs npm

JOBS ?= $(shell nproc)
DEBUG_DIR := build/debug
RELEASE_DIR := build/release

.PHONY: all deps run test build-debug build-release clean

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

clean:
	rm -rf build
