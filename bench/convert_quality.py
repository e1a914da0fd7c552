#!/usr/bin/env python3
"""What the parallel encoders give against one encoder and against the ffmpeg command line.

Converts the cases of convert_bench.py (same clips, settings and filter chains), and clips as a
camera or a disc gives them (grain on moving detail: MPEG-2 720x576 of 5 s, interlaced MPEG-2 of
3 s, MJPEG 640x480 of 4 s, or all of --camera-seconds), three times: with our engine as it runs
(the video in groups on several encoder instances), with our engine on one thread ("threads=1":
one encoder), and with ffmpeg. Prints per case each side's video bytes, the parallel side's bytes
against the serial side's, each side's PSNR against the source through the same filter chain, and
whether the video packets' time stamps and key flags equal the serial side's and ffmpeg's.

    bench/convert_quality.py [--seconds S] [--long-seconds S] [--camera-seconds S]
                             [--cases A,B] [--driver PATH] [--work DIR]
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

import convert_bench as bench


GRAIN = ",noise=alls=4:allf=t+u"
LIFE = ("life=size=720x576:rate=50:seed=7:mold=10:ratio=0.3:death_color=#203040:"
        "life_color=#c0a060,gblur=sigma=2,noise=alls=5:allf=t+u")

# name, file, seconds, lavfi source, ffmpeg's video codec arguments, size
CAMERA_CASES = [
    ("mpeg2-5s-to-flv", "camera-mpeg2", 5, "testsrc2=size=720x576:rate=25" + GRAIN,
     ["-c:v", "mpeg2video", "-b:v", "8M", "-c:a", "mp2"], "720x576"),
    ("mpeg2i-3s-to-flv", "camera-mpeg2i", 3, LIFE + ",tinterlace=interleave_top,setfield=tff",
     ["-c:v", "mpeg2video", "-flags", "+ilme+ildct", "-top", "1", "-b:v", "8M", "-c:a", "mp2"],
     "720x576"),
    ("mjpeg-4s-to-flv", "camera-mjpeg", 4, "mandelbrot=size=640x480:rate=25" + GRAIN,
     ["-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p", "-c:a", "pcm_s16le"], "640x480"),
]


def make_camera_clip(path, seconds, source, codec):
    if not os.path.exists(path):
        output_of(["ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-f", "lavfi", "-i", source,
                   "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t",
                   str(seconds)] + codec + [path])


def output_of(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), result.stdout))
    return result.stdout


def video_packets(path):
    """Each video packet's time, size and key flag."""
    lines = output_of(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                       "packet=pts,flags,size", "-of", "csv=p=0", path]).split()
    return [tuple(line.split(",")) for line in lines]


def psnr(path, source, filters):
    text = output_of(["ffmpeg", "-nostdin", "-i", path, "-i", source, "-lavfi",
                      "[1:v]%s[ref];[0:v][ref]psnr" % filters, "-f", "null", "-"])
    return float(re.search(r"average:([0-9.]+|inf)", text).group(1))


def compare(driver, work, name, source, filters, ext):
    """One case's line: bytes, PSNR and packet times of the parallel, serial and ffmpeg sides."""
    outputs = [os.path.join(work, "%s-%s.%s" % (name, side, ext))
               for side in ("parallel", "serial", "ffmpeg")]
    output_of(bench.ours_command(driver, source, outputs[0], filters))
    output_of(bench.ours_command(driver, source, outputs[1], filters) +
              ["ExtOptions", "threads=1"])
    output_of(bench.ffmpeg_command(source, outputs[2], filters))
    packets = [video_packets(path) for path in outputs]
    sizes = [sum(int(size) for _, size, _ in side) for side in packets]
    timing = [[(pts, flags) for pts, _, flags in side] for side in packets]
    same = "same" if timing[0] == timing[1] == timing[2] else "DIFFERENT"
    scores = [psnr(path, source, filters) for path in outputs]
    print("%-17s %9d %9d %9d %6.3f  %7.3f %7.3f %7.3f  %s" %
          (name, sizes[0], sizes[1], sizes[2], sizes[0] / sizes[1], scores[0], scores[1],
           scores[2], same))
    sys.stdout.flush()


def main():
    parser = bench.case_arguments(__doc__, 60)
    parser.add_argument("--camera-seconds", type=int,
                        help="length of every camera clip (default: each its own, 3 to 5)")
    args = parser.parse_args()

    chosen = args.cases.split(",") if args.cases else None
    cases = [c for c in bench.CASES if not chosen or c[0] in chosen]
    cameras = [c for c in CAMERA_CASES if not chosen or c[0] in chosen]
    driver = args.driver or bench.build_driver()
    work = args.work or tempfile.mkdtemp(prefix="fennick-quality-")
    os.makedirs(work, exist_ok=True)

    print("%-17s %9s %9s %9s %6s  %7s %7s %7s  %s" %
          ("case", "parallel", "serial", "ffmpeg", "bytes", "psnr p", "psnr s", "psnr f",
           "times and keys"))
    for name, clip, ext, size in cases:
        source_size, long_clip = bench.CLIPS[clip]
        seconds = args.long_seconds if long_clip else args.seconds
        source = os.path.join(work, "clip-%s-%ds.mp4" % (clip, seconds))
        bench.make_clip(source, source_size, seconds)
        compare(driver, work, name, source, bench.size_filters(source_size, size), ext)
    for name, clip, seconds, lavfi, codec, size in cameras:
        seconds = args.camera_seconds or seconds
        extension = "avi" if "mjpeg" in codec else "mpg"
        source = os.path.join(work, "%s-%ds.%s" % (clip, seconds, extension))
        make_camera_clip(source, seconds, lavfi, codec)
        compare(driver, work, name, source, bench.size_filters(size, size), "flv")
    if not args.work:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
