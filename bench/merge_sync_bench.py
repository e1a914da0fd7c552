#!/usr/bin/env python3
"""Sound against picture across the joins of a merge, by the flash-and-beep method.

Makes clips in four kinds (320x240 at 25 fps with 44.1 kHz AAC, 640x360 at 30 fps MPEG-4 with
48 kHz MP3, 176x144 at 15 fps with 22.05 kHz mono AAC, 240x320 at 24 fps with 32 kHz AAC), each
second of which starts with a white flash and a beep at the same instant; merges them, the kinds
in turn, as the main window does (fennick_merge), and finds every flash and every beep in the
merged FLV. Prints, per input, how far the sound leads the picture (ms, negative: it lags) at
each of its flashes, and the range over the whole file.

    bench/merge_sync_bench.py [--inputs N] [--seconds S] [--driver PATH] [--work DIR]

Without --driver the script builds the driver in build/bench (release, no sanitizers).
"""
import argparse
import array
import os
import subprocess
import sys
import tempfile

import convert_bench
from convert_bench import run_checked

# size, frame rate, video codec, sample rate, channels, audio codec, container
KINDS = [
    ("320x240", 25, "libx264", 44100, "stereo", "aac", "mp4"),
    ("640x360", 30, "mpeg4", 48000, "stereo", "libmp3lame", "avi"),
    ("176x144", 15, "libx264", 22050, "mono", "aac", "mp4"),
    ("240x320", 24, "libx264", 32000, "stereo", "aac", "mp4"),
]
FLASH = 0.1  # s of white and of beep at the start of every second
LIGHT = 128  # mean luma above which a picture is a flash
LOUD = 3000  # peak above which a window of sound is a beep (a tenth of full scale)
WINDOW = 32  # samples per window of sound


def build_driver():
    return convert_bench.build_driver("fennick_merge")


def make_clip(path, kind, seconds):
    size, rate, vcodec, sample_rate, layout, acodec, _ = kind
    # Counted in pictures: the time of the first picture of a second may fall a hair short of it.
    video = ("color=c=0x202020:s=%s:r=%d:d=%d,drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:"
             "enable='lt(mod(n,%d),%g)'" % (size, rate, seconds, rate, rate * FLASH))
    sound = ("aevalsrc='if(lt(mod(t,1),%g),0.5*sin(2*PI*1000*t),0)':s=%d:c=%s:d=%d"
             % (FLASH, sample_rate, layout, seconds))
    run_checked(["ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-f", "lavfi", "-i", video,
                 "-f", "lavfi", "-i", sound, "-c:v", vcodec, "-pix_fmt", "yuv420p",
                 "-c:a", acodec, path])


def probe_lines(graph, entries):
    output = subprocess.run(["ffprobe", "-v", "error", "-f", "lavfi", "-i", graph,
                             "-show_entries", entries, "-of", "csv=p=0"],
                            stdout=subprocess.PIPE, text=True, check=True).stdout
    for line in output.splitlines():
        time, value = line.split(",")[:2]
        yield float(time), float(value)


def onsets(samples, above):
    """The times at which the value rises past the level."""
    times, was = [], False
    for time, value in samples:
        now = above(value)
        if now and not was:
            times.append(time)
        was = now
    return times


def flashes(path):
    return onsets(probe_lines("movie=%s,signalstats" % path,
                              "frame=pts_time:frame_tags=lavfi.signalstats.YAVG"),
                  lambda luma: luma > LIGHT)


def first_sound(path):
    """The sample rate and the time of the first sound decoded."""
    output = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                             "stream=sample_rate:frame=pts_time", "-read_intervals", "%+1",
                             "-of", "default=nw=1", path],
                            stdout=subprocess.PIPE, text=True, check=True).stdout.splitlines()
    rate = next(line for line in output if line.startswith("sample_rate="))
    time = next(line for line in output if line.startswith("pts_time="))
    return int(rate.split("=")[1]), float(time.split("=")[1])


def beeps(path):
    """A player plays the sound one sample after the other, whatever the packets' times say: the
    times of the beeps are counted in samples from the first one's time."""
    rate, start = first_sound(path)
    raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0",
                          "-ac", "1", "-f", "s16le", "-"],
                         stdout=subprocess.PIPE, check=True).stdout
    samples = array.array("h", raw)
    windows = ((start + n / rate, max(abs(v) for v in samples[n:n + WINDOW]))
               for n in range(0, len(samples) - WINDOW, WINDOW))
    return onsets(windows, lambda peak: peak > LOUD)


def leads(path):
    """(flash time, ms by which the beep nearest to it comes first) for every flash."""
    sounds = beeps(path)
    result = []
    for flash in flashes(path):
        nearest = min(sounds, key=lambda beep: abs(beep - flash))
        result.append((flash, (flash - nearest) * 1000))
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--inputs", type=int, default=20)
    parser.add_argument("--seconds", type=int, default=4, help="length of each input")
    parser.add_argument("--driver", help="fennick_merge to use (default: build it)")
    parser.add_argument("--work", help="folder for clips and output (default: a temporary one)")
    args = parser.parse_args()
    driver = args.driver or build_driver()
    work = args.work or tempfile.mkdtemp(prefix="fennick-merge-sync-")
    clips = []
    for n, kind in enumerate(KINDS):
        clips.append(os.path.join(work, "kind%d-%ds.%s" % (n, args.seconds, kind[-1])))
        if not os.path.exists(clips[-1]):
            make_clip(clips[-1], kind, args.seconds)
    inputs = [clips[n % len(KINDS)] for n in range(args.inputs)]
    out = os.path.join(work, "out")
    os.makedirs(out, exist_ok=True)
    for name in os.listdir(out):
        os.remove(os.path.join(out, name))
    run = subprocess.run([driver, out] + inputs, stdout=subprocess.PIPE, text=True, check=False)
    if run.returncode != 0:
        sys.exit("the merge failed")
    merged = run.stdout.strip()
    own = [[lead for _, lead in leads(clip)] for clip in clips]
    for n, kind in enumerate(KINDS):
        print("kind %d (%s at %d fps): the input's own lead %+.0f..%+.0f ms" % (
            n, kind[0], kind[1], min(own[n]), max(own[n])))
    measured = leads(merged)
    added = []
    for n in range(args.inputs):
        # Each input has a flash at the start of each of its seconds, in turn.
        part = [lead for _, lead in measured[n * args.seconds:(n + 1) * args.seconds]]
        kind = n % len(KINDS)
        added += [lead - own[kind][i] for i, lead in enumerate(part)]
        print("input %2d (kind %d): lead %s ms" % (
            n, kind, " ".join("%+.0f" % v for v in part)))
    values = [lead for _, lead in measured]
    print("%d flashes of %d; sound leads by %+.0f..%+.0f ms, by %+.0f..%+.0f ms more than in the "
          "inputs" % (len(values), args.inputs * args.seconds, min(values), max(values),
                      min(added), max(added)))


if __name__ == "__main__":
    main()
