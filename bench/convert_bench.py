#!/usr/bin/env python3
"""Times our conversion against the ffmpeg command line doing the same conversion.

Makes the clips with ffmpeg (1280x720 and 320x240 of --seconds, 640x360 of --long-seconds;
H.264 + AAC), converts each into FLV or SWF (flv1 video, MP3 audio, same sizes, rates and bit
rates) with the engine's driver (fennick_convert, which fills the encoder's records as the
application does) and with ffmpeg, in pairs that alternate which side goes first, and prints
per case the median of the pairs' ratios (ours / ffmpeg) of wall time, CPU time (user + system)
and peak memory, with each side's medians beside them and the machine's one-minute load average
before the case (the wall-time ratio means little on a busy machine). The output size travels as the
application sends it, as a filter chain (crop when it differs from the source, then scale and
pad, or pad and scale where the picture falls between pixels), and ffmpeg gets the same chain.

    bench/convert_bench.py [--runs N] [--seconds S] [--long-seconds S] [--cases A,B]
                           [--driver PATH] [--work DIR] [--realtime]

With --realtime both sides run at a real-time priority (chrt -f 10; root only), so that the other
processes of a busy machine barely delay either.

Without --driver the script builds the driver in build/bench (release, no sanitizers).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# name: size, and whether it is the long clip
CLIPS = {
    "720p": ("1280x720", False),
    "240p": ("320x240", False),
    "360p-long": ("640x360", True),
}

# name, clip, output extension, output size
CASES = [
    ("720p-to-flv", "720p", "flv", "1280x720"),
    ("720p-to-flv360", "720p", "flv", "640x360"),
    ("720p-to-swf", "720p", "swf", "640x360"),
    ("240p-to-flv", "240p", "flv", "320x240"),
    ("240p-to-swf", "240p", "swf", "320x240"),
    ("long-360p-to-flv", "360p-long", "flv", "640x360"),
]

RATE = "25"
VIDEO_BITRATE = "512000"
AUDIO_BITRATE = "96000"
SAMPLE_RATE = "44100"
CHANNELS = "2"


def run_checked(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), result.stdout))


def make_clip(path, size, seconds):
    if os.path.exists(path):
        return
    run_checked([
        "ffmpeg", "-nostdin", "-y", "-loglevel", "error",
        "-f", "lavfi", "-i", "testsrc2=size=%s:rate=25:duration=%s" % (size, seconds),
        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=%s" % seconds,
        "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
        "-c:a", "aac", "-b:a", "128k", "-shortest", path])


def build_driver(target="fennick_convert"):
    """Builds one of bench/'s drivers in a release tree of its own; gives the program's path."""
    build = os.path.join(ROOT, "build", "bench")
    run_checked(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"])
    run_checked(["cmake", "--build", build, "-j4", "--target", target])
    return os.path.join(build, "bench", target)


def size_filters(source_size, output_size):
    """The filter chain the application builds for an output size without crop."""
    sw, sh = (int(v) for v in source_size.split("x", 1))
    ow, oh = (int(v) for v in output_size.split("x", 1))
    if output_size == source_size:
        return "scale=%d:%d" % (ow, oh)
    chain = ["crop=%d:%d:0:0:exact=1" % (sw, sh)]
    place = exact_place(sw, sh, ow, oh)
    if place:
        x, y, w, h = place
        chain.append("scale=%d:%d" % (w, h))
        if (w, h) != (ow, oh):
            chain.append("pad=%d:%d:%d:%d" % (ow, oh, x, y))
        return ",".join(chain)
    if sw > ow * sh / oh:
        pad_w, pad_h = sw, oh * sw / ow
    else:
        pad_w, pad_h = ow * sh / oh, sh
    chain.append("pad=%.2f:%.2f:%.2f:%.2f" % (pad_w, pad_h, (pad_w - sw) / 2, (pad_h - sh) / 2))
    chain.append("scale=%d:%d" % (ow, oh))
    return ",".join(chain)


def exact_place(sw, sh, ow, oh):
    """Where the picture lands in the output on whole, even pixels, or None."""
    pw, ph = ow, oh
    if sw * oh > ow * sh:
        if sh * ow % sw:
            return None
        ph = sh * ow // sw
    else:
        if sw * oh % sh:
            return None
        pw = sw * oh // sh
    x, y = (ow - pw) // 2, (oh - ph) // 2
    return (x, y, pw, ph) if all(v % 2 == 0 for v in (x, y, pw, ph)) else None


def ours_command(driver, source, target, filters):
    return [driver, source, target,
            "VideoCodec", "flv", "AudioCodec", "libmp3lame", "VideoFilters", filters,
            "FrameRate", RATE, "VideoBitrate", VIDEO_BITRATE, "AudioBitrate", AUDIO_BITRATE,
            "AudioSampleRate", SAMPLE_RATE, "AudioChannels", CHANNELS]


def ffmpeg_command(source, target, filters):
    return ["ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i", source,
            "-c:v", "flv", "-c:a", "libmp3lame", "-vf", filters, "-r", RATE,
            "-b:v", VIDEO_BITRATE, "-b:a", AUDIO_BITRATE, "-ar", SAMPLE_RATE, "-ac", CHANNELS,
            target]


def measure(command):
    """Wall time (s), CPU time (user + system, s) and peak resident memory (KiB) of one run."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    errors = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if process.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), errors))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def case_arguments(description, long_seconds):
    """The arguments that choose the clips, the cases, the driver and the work folder."""
    parser = argparse.ArgumentParser(description=description,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=10, help="length of the short clips")
    parser.add_argument("--long-seconds", type=int, default=long_seconds,
                        help="length of the long clip")
    parser.add_argument("--cases", help="comma-separated case names (default: all)")
    parser.add_argument("--driver", help="fennick_convert to use (default: build it)")
    parser.add_argument("--work", help="folder for clips and outputs (default: a temporary one)")
    return parser


def main():
    parser = case_arguments(__doc__, 600)
    parser.add_argument("--runs", type=int, default=5, help="pairs of runs per case")
    parser.add_argument("--realtime", action="store_true",
                        help="run both sides at a real-time priority (root only)")
    args = parser.parse_args()
    priority = ["chrt", "-f", "10"] if args.realtime else []

    if shutil.which("ffmpeg") is None:
        sys.exit("ffmpeg is not installed")
    cases = [c for c in CASES if not args.cases or c[0] in args.cases.split(",")]
    driver = args.driver or build_driver()
    work = args.work or tempfile.mkdtemp(prefix="fennick-bench-")
    os.makedirs(work, exist_ok=True)

    clips = {}
    for name in {clip for _, clip, _, _ in cases}:
        size, long_clip = CLIPS[name]
        seconds = args.long_seconds if long_clip else args.seconds
        clips[name] = os.path.join(work, "clip-%s-%ds.mp4" % (name, seconds))
        make_clip(clips[name], size, seconds)

    print("%-17s %8s %8s %6s  %8s %8s %6s  %9s %9s %6s  %5s" %
          ("case", "ours s", "peer s", "wall", "ours cpu", "peer cpu", "cpu", "ours KiB",
           "peer KiB", "memory", "load"))
    for name, clip, ext, size in cases:
        ours_target = os.path.join(work, "%s-ours.%s" % (name, ext))
        peer_target = os.path.join(work, "%s-ffmpeg.%s" % (name, ext))
        filters = size_filters(CLIPS[clip][0], size)
        ours_command_line = priority + ours_command(driver, clips[clip], ours_target, filters)
        peer_command_line = priority + ffmpeg_command(clips[clip], peer_target, filters)
        load = os.getloadavg()[0]
        pairs = []
        for run in range(args.runs):
            # Alternating which side goes first evens out warm caches and drifting load.
            if run % 2 == 0:
                ours, peer = measure(ours_command_line), measure(peer_command_line)
            else:
                peer, ours = measure(peer_command_line), measure(ours_command_line)
            pairs.append((ours, peer))
        ratios = [statistics.median(o[k] / p[k] for o, p in pairs) for k in range(3)]
        medians = [(statistics.median(o[k] for o, _ in pairs),
                    statistics.median(p[k] for _, p in pairs)) for k in range(3)]
        print("%-17s %8.2f %8.2f %6.3f  %8.2f %8.2f %6.3f  %9d %9d %6.3f  %5.2f" %
              (name, medians[0][0], medians[0][1], ratios[0], medians[1][0], medians[1][1],
               ratios[1], medians[2][0], medians[2][1], ratios[2], load))
        sys.stdout.flush()
    if not args.work:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
