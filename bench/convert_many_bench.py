#!/usr/bin/env python3
"""A long list of short clips converted as the conversion window does it, under the usual soft
limit of open files (ulimit -n 1024): prints how many entries were converted, the resident memory
before the run, at its peak and after it, and the open descriptors before and after.

    bench/convert_many_bench.py [--entries N] [--files-limit N] [--driver PATH]

Without --driver the script builds the driver in build/bench (release, no sanitizers).
"""
import argparse
import os
import subprocess
import sys
import tempfile

from convert_bench import make_clip
from convert_plan_bench import build_driver


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--entries", type=int, default=400)
    parser.add_argument("--files-limit", type=int, default=1024, help="ulimit -n")
    parser.add_argument("--driver", help="fennick_convert_plan to use (default: build it)")
    args = parser.parse_args()
    driver = args.driver or build_driver()
    with tempfile.TemporaryDirectory(prefix="fennick-many-") as work:
        clip = os.path.join(work, "clip.mp4")
        make_clip(clip, "320x240", 1)
        # One name per entry, so that every entry writes a file of its own.
        inputs = []
        for i in range(args.entries):
            inputs.append(os.path.join(work, "clip%04d.mp4" % i))
            os.symlink(clip, inputs[-1])
        output = os.path.join(work, "out")
        os.mkdir(output)
        command = "ulimit -n %d && exec \"$0\" \"$@\"" % args.files_limit
        run = subprocess.run(["bash", "-c", command, driver, output, "320x240", "320x240"] + inputs,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                             check=False)
        written = sum(1 for name in os.listdir(output) if name.endswith(".flv"))
        print("%d entries (ulimit -n %d): exit %d, %d files written\n  %s" % (
            args.entries, args.files_limit, run.returncode, written,
            run.stderr.strip().replace("\n", "\n  ")))
    sys.exit(run.returncode)


if __name__ == "__main__":
    main()
