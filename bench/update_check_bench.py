#!/usr/bin/env python3
"""The update check against answers far larger than its files: a gigabyte, an endless stream
and a redirect to endless chunks (three times, since how far memory grows there varies), for
"update.ini" and for "whatsnew.xml", each run under a virtual memory limit
(ulimit -v). Prints each run's outcome, what the server sent, what the cache folder holds
afterwards and the peak memory (VmPeak, VmHWM); fails when a run does not end by itself
within the limit.

    bench/update_check_bench.py [--limit-mib N] [--driver PATH]

Without --driver the script builds the driver in build/bench (release, no sanitizers: the
sanitizers reserve more address space than any limit allows).
"""
import argparse
import os
import subprocess
import sys
import tempfile

from convert_bench import ROOT, run_checked


def build_driver():
    build = os.path.join(ROOT, "build", "bench")
    run_checked(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"])
    run_checked(["cmake", "--build", build, "-j4", "--target", "fennick_update_check"])
    return os.path.join(build, "bench", "fennick_update_check")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--limit-mib", type=int, default=256, help="ulimit -v, in MiB")
    parser.add_argument("--driver", help="fennick_update_check to use (default: build it)")
    args = parser.parse_args()
    driver = args.driver or build_driver()
    failed = False
    for answer in ("gigabyte", "endless") + ("redirect",) * 3:
        for name in ("update.ini", "whatsnew.xml"):
            with tempfile.TemporaryDirectory(prefix="fennick-update-") as cache:
                command = "ulimit -v %d && exec \"$0\" \"$@\"" % (args.limit_mib * 1024)
                run = subprocess.run(["bash", "-c", command, driver, answer, name, cache],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     text=True, timeout=600, check=False)
                print("%s %s (ulimit -v %d MiB): exit %d\n  %s" % (
                    answer, name, args.limit_mib, run.returncode,
                    run.stdout.strip().replace("\n", "\n  ")))
                failed = failed or run.returncode != 0
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
