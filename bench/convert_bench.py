#!/usr/bin/env python3
"""Times our conversion against the ffmpeg command line doing the same conversion.

Makes two clips with ffmpeg (1280x720 and 320x240, H.264 + AAC, about 30 s), converts each
into FLV and SWF (flv1 video, MP3 audio, same sizes, rates and bit rates) with the engine's
driver (fennick_convert, which fills the encoder's records as the application does) and with
ffmpeg, alternating the two, and prints per case and overall the median wall time and peak
memory of each side and their ratios (ours / ffmpeg). The output size travels as the
application sends it, as a filter chain (crop and pad when it differs from the source, then
scale), and ffmpeg gets the same chain.

    bench/convert_bench.py [--runs N] [--seconds S] [--driver PATH] [--work DIR]

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

CLIPS = {
    "720p": "1280x720",
    "240p": "320x240",
}

# name, clip, output extension, output size
CASES = [
    ("720p-to-flv", "720p", "flv", "640x360"),
    ("720p-to-swf", "720p", "swf", "640x360"),
    ("240p-to-flv", "240p", "flv", "320x240"),
    ("240p-to-swf", "240p", "swf", "320x240"),
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


def build_driver():
    build = os.path.join(ROOT, "build", "bench")
    run_checked(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"])
    run_checked(["cmake", "--build", build, "-j4", "--target", "fennick_convert"])
    return os.path.join(build, "bench", "fennick_convert")


def size_filters(source_size, output_size):
    """The filter chain the application builds for an output size without crop."""
    sw, sh = (int(v) for v in source_size.split("x", 1))
    ow, oh = (int(v) for v in output_size.split("x", 1))
    chain = []
    if output_size != source_size:
        chain.append("crop=%d:%d:%d:%d" % (sw, sh, 0, 0))
        if sw > ow * sh / oh:
            pad_w, pad_h = sw, oh * sw / ow
        else:
            pad_w, pad_h = ow * sh / oh, sh
        chain.append("pad=%.2f:%.2f:%.2f:%.2f" % (pad_w, pad_h, (pad_w - sw) / 2,
                                                  (pad_h - sh) / 2))
    chain.append("scale=" + output_size.replace("x", ":", 1))
    return ",".join(chain)


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
    """Wall time in seconds and peak resident memory in KiB of one run."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    errors = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if process.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), errors))
    return wall, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5, help="runs per side and case")
    parser.add_argument("--seconds", type=int, default=30, help="clip length")
    parser.add_argument("--driver", help="fennick_convert to use (default: build it)")
    parser.add_argument("--work", help="folder for clips and outputs (default: a temporary one)")
    args = parser.parse_args()

    if shutil.which("ffmpeg") is None:
        sys.exit("ffmpeg is not installed")
    driver = args.driver or build_driver()
    work = args.work or tempfile.mkdtemp(prefix="fennick-bench-")
    os.makedirs(work, exist_ok=True)

    clips = {}
    for name, size in CLIPS.items():
        clips[name] = os.path.join(work, "clip-%s-%ds.mp4" % (name, args.seconds))
        make_clip(clips[name], size, args.seconds)

    print("%-13s %10s %10s %7s %11s %11s %7s" %
          ("case", "ours s", "ffmpeg s", "time", "ours KiB", "ffmpeg KiB", "memory"))
    time_ratios, memory_ratios = [], []
    for name, clip, ext, size in CASES:
        ours_target = os.path.join(work, "%s-ours.%s" % (name, ext))
        peer_target = os.path.join(work, "%s-ffmpeg.%s" % (name, ext))
        filters = size_filters(CLIPS[clip], size)
        ours, peer = [], []
        for _ in range(args.runs):
            ours.append(measure(ours_command(driver, clips[clip], ours_target, filters)))
            peer.append(measure(ffmpeg_command(clips[clip], peer_target, filters)))
        ours_wall = statistics.median(w for w, _ in ours)
        peer_wall = statistics.median(w for w, _ in peer)
        ours_rss = statistics.median(m for _, m in ours)
        peer_rss = statistics.median(m for _, m in peer)
        time_ratios.append(ours_wall / peer_wall)
        memory_ratios.append(ours_rss / peer_rss)
        print("%-13s %10.3f %10.3f %7.3f %11d %11d %7.3f" %
              (name, ours_wall, peer_wall, time_ratios[-1], ours_rss, peer_rss,
               memory_ratios[-1]))
    print("median ratio (ours / ffmpeg): wall time %.3f, peak memory %.3f" %
          (statistics.median(time_ratios), statistics.median(memory_ratios)))
    if not args.work:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
