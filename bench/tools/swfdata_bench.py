#!/usr/bin/env python3
"""Time of the settings compiler ("swfdata.dll") against the number of settings.

Writes settings sources of 12,500 to 100,000 variables (ints with repeating values, strings,
numbers), compiles each with the tool and prints per size the median processor time and the
growth against the size before it: about 2 per doubling means linear time, 4 quadratic.

    bench/tools/swfdata_bench.py [--runs N] [--tool PATH] [--work DIR]

Without --tool the script builds the tool in build/bench-tools (release, no sanitizers).
"""
import argparse
import os
import statistics
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench", "player"))
from play_bench import build_release, cpu_seconds  # noqa: E402
SIZES = [12500, 25000, 50000, 100000]


def build_tool():
    return os.path.join(build_release("bench-tools", "swfdata"), "bin", "LibAV", "swfdata.dll")


def write_source(path, count):
    with open(path, "w") as out:
        out.write("package\n{\n    import flash.display.MovieClip;\n"
                  "    public class S extends MovieClip\n    {\n")
        for i in range(count):
            kind = i % 3
            if kind == 0:
                out.write("        public var v%d:int=%d;\n" % (i, i % 1000))
            elif kind == 1:
                out.write("        public var v%d:String=\"text %d\";\n" % (i, i))
            else:
                out.write("        public var v%d:Number=%d.5;\n" % (i, i))
        out.write("        function S()\n        {\n        }\n    }\n}\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--tool")
    parser.add_argument("--work")
    args = parser.parse_args()

    tool = args.tool or build_tool()
    work = args.work or tempfile.mkdtemp(prefix="fennick-swfdata-bench-")
    previous = None
    print("settings   median processor time   growth")
    for count in SIZES:
        source = os.path.join(work, "settings_%d.dat" % count)
        write_source(source, count)
        output = os.path.join(work, "settings_%d.swf" % count)
        command = [tool, "-X", "400", "-Y", "400", "-T", "9", source, "-o", output]
        median = statistics.median(cpu_seconds(command) for _ in range(args.runs))
        growth = "" if previous is None else "x%.2f" % (median / previous)
        print("%8d   %8.3f s                %s" % (count, median, growth))
        previous = median


if __name__ == "__main__":
    main()
