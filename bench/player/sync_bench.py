#!/usr/bin/env python3
"""Synchronisation figures of the player: how far each picture shown is from the sound's clock.

Makes a 5 s 320x240 H.264 + AAC clip with ffmpeg and plays it to its end with the driver
(fennick_play, SDL's dummy drivers) in three ways: against the sound at real time, against
the external (wall) clock, and with a sound device at 0.77 of real time. Prints per way, over
the runs, the median of the median drifts, the largest drift seen and the median pace of the
pictures. With --load every processor is kept busy meanwhile, as on a loaded build machine.

    bench/player/sync_bench.py [--runs N] [--load] [--driver PATH] [--work DIR]

Without --driver the script builds the driver in build/bench-player (release, no sanitizers).
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

from play_bench import build_driver, run_checked

MODES = ["audio", "external", "slow"]


def make_clip(path):
    if os.path.exists(path):
        return
    run_checked([
        "ffmpeg", "-nostdin", "-y", "-loglevel", "error",
        "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=5",
        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=5",
        "-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-pix_fmt", "yuv420p",
        "-c:a", "aac", "-b:a", "96k", "-shortest", path])


def measure(driver, clip, mode):
    env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    result = subprocess.run([driver, clip, mode], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, env=env)
    if result.returncode != 0:
        sys.exit("failed: %s %s\n%s" % (driver, mode, result.stderr))
    return {key: float(value) for key, value in
            (field.split("=") for field in result.stdout.split())}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--load", action="store_true")
    parser.add_argument("--driver")
    parser.add_argument("--work")
    args = parser.parse_args()

    driver = args.driver or build_driver()
    work = args.work or tempfile.mkdtemp(prefix="fennick-sync-bench-")
    clip = os.path.join(work, "sync_5s.mp4")
    make_clip(clip)

    busy = [subprocess.Popen(["sh", "-c", "while :; do :; done"])
            for _ in range(os.cpu_count() if args.load else 0)]
    try:
        print("5 s 320x240 H.264 + AAC, %d runs%s" % (args.runs, ", every processor busy"
                                                      if args.load else ""))
        for mode in MODES:
            runs = [measure(driver, clip, mode) for _ in range(args.runs)]
            print("  %-8s median drift %6.1f ms   largest %6.1f ms   pace %.3f   pictures %d"
                  % (mode, statistics.median(r["median_ms"] for r in runs),
                     max(r["largest_ms"] for r in runs),
                     statistics.median(r["pace"] for r in runs),
                     min(r["pictures"] for r in runs)))
    finally:
        for process in busy:
            process.kill()


if __name__ == "__main__":
    main()
