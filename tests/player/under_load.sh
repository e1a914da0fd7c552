#!/bin/sh
# Runs the player's timing tests ten times in a row while every processor is kept busy, as on
# a loaded build machine: the tests must hold there too.
#
#     tests/player/under_load.sh [BUILD_DIR] [CTEST_REGEX]
set -eu
build=${1:-build/debug}
pattern=${2:-'^(Synchronisation\.|Playback\.PositionsFollow|SoundOutput\.PauseWrites)'}
busy=""
stop_busy() { [ -z "$busy" ] || kill $busy; }
trap stop_busy EXIT
for _ in $(seq "$(nproc)"); do
  sh -c 'while :; do :; done' &
  busy="$busy $!"
done
cd "$build"
ctest -R "$pattern" --repeat until-fail:10 --output-on-failure
