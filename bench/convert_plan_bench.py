#!/usr/bin/env python3
"""Times eight files converted as the conversion window does it against the ffmpeg command line
converting the same files one after another with the same settings.

Makes eight clips with ffmpeg (H.264 + AAC), converts them all with fennick_convert_plan (the
window's task building: the defaults of a new list entry, the plan's filter chain, one encoder
running the tasks one after another, its events served on the main thread) and then with one
ffmpeg run per file given the same filter chain, codecs and bit rates; repeats, and prints the
median wall time and peak memory of each side and their ratios (ours / ffmpeg).

    bench/convert_plan_bench.py [--runs N] [--seconds S] [--files N] [--driver PATH] [--work DIR]

Without --driver the script builds the driver in build/bench (release, no sanitizers).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

import convert_bench
from convert_bench import make_clip, measure

SOURCE_SIZE = "640x360"
OUTPUT_SIZE = "320x240"


def build_driver():
    return convert_bench.build_driver("fennick_convert_plan")


def ours_command(driver, folder, clips):
    return [driver, folder, SOURCE_SIZE, OUTPUT_SIZE] + clips


def plan_chains(command):
    """An untimed first run of ours (it warms the caches): each output with its filter chain."""
    listing = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             text=True, check=True).stdout
    return [line.split("\t") for line in listing.splitlines()]


def ffmpeg_command(source, target, filters):
    return ["ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i", source,
            "-c:v", "flv", "-c:a", "libmp3lame", "-vf", filters, "-b:v", "512000",
            "-b:a", "96000", "-ar", "44100", "-ac", "2", "-sn", target]


def measure_sequence(commands):
    """Wall time summed and the largest peak memory over commands run one after another."""
    results = [measure(command) for command in commands]
    return sum(w for w, _ in results), max(m for _, m in results)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=3, help="runs per side")
    parser.add_argument("--seconds", type=int, default=10, help="clip length")
    parser.add_argument("--files", type=int, default=8, help="files per run")
    parser.add_argument("--driver", help="fennick_convert_plan to use (default: build it)")
    parser.add_argument("--work", help="folder for clips and outputs (default: a temporary one)")
    args = parser.parse_args()

    if shutil.which("ffmpeg") is None:
        sys.exit("ffmpeg is not installed")
    driver = args.driver or build_driver()
    work = args.work or tempfile.mkdtemp(prefix="fennick-plan-bench-")
    ours_folder = os.path.join(work, "ours")
    peer_folder = os.path.join(work, "ffmpeg")
    for folder in (ours_folder, peer_folder):
        os.makedirs(folder, exist_ok=True)
    clips = []
    for n in range(args.files):
        clips.append(os.path.join(work, "clip%d-%ds.mp4" % (n, args.seconds)))
        make_clip(clips[-1], SOURCE_SIZE, args.seconds)

    ours_run = ours_command(driver, ours_folder, clips)
    peer_runs = [ffmpeg_command(clip, os.path.join(peer_folder, os.path.basename(target)), chain)
                 for clip, (target, chain) in zip(clips, plan_chains(ours_run))]
    ours, peer = [], []
    for _ in range(args.runs):
        ours.append(measure(ours_run))
        peer.append(measure_sequence(peer_runs))
    ours_wall = statistics.median(w for w, _ in ours)
    peer_wall = statistics.median(w for w, _ in peer)
    ours_rss = statistics.median(m for _, m in ours)
    peer_rss = statistics.median(m for _, m in peer)
    print("%d files of %d s, %s to %s" % (args.files, args.seconds, SOURCE_SIZE, OUTPUT_SIZE))
    print("%-8s %10s %12s" % ("side", "wall s", "peak KiB"))
    print("%-8s %10.3f %12d" % ("ours", ours_wall, ours_rss))
    print("%-8s %10.3f %12d" % ("ffmpeg", peer_wall, peer_rss))
    print("ratio (ours / ffmpeg): wall time %.3f, peak memory %.3f" %
          (ours_wall / peer_wall, ours_rss / peer_rss))
    if not args.work:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
