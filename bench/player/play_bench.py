#!/usr/bin/env python3
"""Processor time of playback: our player against mpv playing the same clip.

Makes a 720p H.264 + AAC clip with ffmpeg, plays it to its end with the player's driver
(fennick_play: pictures and sound on SDL's dummy drivers) and with mpv (null video and sound
outputs, which still decode and keep real time; and its software SDL output, which converts
and draws every picture as we do), in turn, and prints per side the median processor time
(user + system) per second of playback and the median of the runs' ratios ours / mpv.
The goal is a ratio of at most 1.0 against the null output.

    bench/player/play_bench.py [--runs N] [--seconds S] [--driver PATH] [--work DIR]

Without --driver the script builds the driver in build/bench-player (release, no sanitizers).
mpv is installed from Debian's packages when it is missing.
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def run_checked(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), result.stdout))


def ensure_mpv():
    if shutil.which("mpv"):
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    run_checked(sudo + ["apt-get", "update"])
    run_checked(sudo + ["apt-get", "install", "-y", "--no-install-recommends", "mpv"])


def build_release(folder, target):
    """Builds a target in build/FOLDER (release, no sanitizers); returns the build folder."""
    build = os.path.join(ROOT, "build", folder)
    run_checked(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"])
    run_checked(["cmake", "--build", build, "-j4", "--target", target])
    return build


def build_driver():
    return os.path.join(build_release("bench-player", "fennick_play"), "bench", "player",
                        "fennick_play")


def make_clip(path, seconds):
    if os.path.exists(path):
        return
    run_checked([
        "ffmpeg", "-nostdin", "-y", "-loglevel", "error",
        "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=%s" % seconds,
        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=%s" % seconds,
        "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
        "-c:a", "aac", "-b:a", "128k", "-shortest", path])


def cpu_seconds(command, env=None):
    """Processor time of the command and its children."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            env=env)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), result.stderr))
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--driver")
    parser.add_argument("--work")
    args = parser.parse_args()

    ensure_mpv()
    driver = args.driver or build_driver()
    work = args.work or tempfile.mkdtemp(prefix="fennick-play-bench-")
    clip = os.path.join(work, "clip720p_%ss.mp4" % args.seconds)
    make_clip(clip, args.seconds)

    env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    mpv = ["mpv", "--no-config", "--ao=null", "--really-quiet"]
    sides = [
        ("fennick_play", [driver, clip], env),
        ("mpv, null output", mpv + ["--vo=null", clip], None),
        # Like for like: SDL's software renderer converts and draws every picture, as we do.
        ("mpv, software SDL", mpv + ["--vo=sdl", "--sdl-sw", clip], env),
    ]
    runs = {name: [] for name, _, _ in sides}
    for _ in range(args.runs):
        for name, command, environment in sides:
            runs[name].append(cpu_seconds(command, environment) / args.seconds)
    ours = runs["fennick_play"]
    print("720p H.264 + AAC, %d s, %d runs: processor time per second of playback (median)" %
          (args.seconds, args.runs))
    for name, _, _ in sides:
        line = "  %-18s %.3f s" % (name + ":", statistics.median(runs[name]))
        if runs[name] is not ours:
            # The ratio of each run's pair, not of two medians.
            ratio = statistics.median(o / t for o, t in zip(ours, runs[name]))
            line += "   ours / this: %.2f" % ratio
        print(line)

if __name__ == "__main__":
    main()
