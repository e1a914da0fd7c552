#!/usr/bin/env bash
# Installs the harness's npm packages (the Flash runtime and the browser driver, no browser
# download) into DEST from the committed package files; does nothing when DEST already holds
# exactly what the lock file names.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dest="$1"
mkdir -p "$dest"
if cmp -s "$here/package-lock.json" "$dest/package-lock.json" && [ -f "$dest/node_modules/.package-lock.json" ]; then
  exit 0
fi
cp "$here/package.json" "$here/package-lock.json" "$dest/"
cd "$dest"
# npm's cache and logs stay beside the packages, out of the home of whoever builds.
npm_config_cache="$dest/npm-cache" npm_config_update_notifier=false \
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
test -x /usr/bin/chromium || { echo "chromium is missing: run 'make test', which installs it" >&2; exit 1; }
