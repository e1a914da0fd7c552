#!/usr/bin/env python3
"""Converts WAV files whose headers declare an absurd sample rate, under a memory limit.

A few kilobytes of sound that claim 1 Hz would be resampled to thousands of samples for each
one (to 44.1 kHz: gigabytes of memory, hours of output). Each case writes a mono 16-bit WAV of
the given size declaring the given rate, converts it to FLV (MP3 at 44.1 kHz, as the program
does) with the engine's driver (fennick_convert) under `ulimit -v` (address space), and prints
the exit status, the driver's message, the peak resident memory and whether an FLV came out.
A plausible rate (5512 Hz, FLV's own lowest) is the control that must still convert.

    bench/absurd_rate_bench.py [--limit-mb N] [--driver PATH] [--work DIR]

Without --driver the script builds the driver in build/bench (release, no sanitizers).
"""
import argparse
import os
import resource
import struct
import subprocess
import sys
import tempfile

from convert_bench import build_driver


# declared rate (Hz), file size (bytes)
CASES = [(1, 4500), (1, 17000), (5512, 17000)]




def write_wav(path, rate, size):
    samples = (size - 44) // 2
    data = b"".join(struct.pack("<h", (n * 2000) % 65536 - 32768) for n in range(samples))
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt "
    header += struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16)
    with open(path, "wb") as out:
        out.write(header + b"data" + struct.pack("<I", len(data)) + data)


def convert(driver, wav, flv, limit_bytes):
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (limit_bytes, limit_bytes))

    process = subprocess.Popen([driver, wav, flv], stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, preexec_fn=limit)
    stderr = process.stderr.read().decode(errors="replace")
    _, status, usage = os.wait4(process.pid, 0)
    process.stderr.close()
    return os.waitstatus_to_exitcode(status), stderr.strip(), usage.ru_maxrss // 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit-mb", type=int, default=1024)
    parser.add_argument("--driver")
    parser.add_argument("--work")
    args = parser.parse_args()
    driver = args.driver or build_driver()
    work = args.work or tempfile.mkdtemp(prefix="absurd-rate-")
    print("address space limit: %d MiB" % args.limit_mb)
    print("%-8s %8s %6s %9s %5s  %s" % ("rate", "bytes", "exit", "peak MiB", "flv", "message"))
    for rate, size in CASES:
        wav = os.path.join(work, "declared-%d-%d.wav" % (rate, size))
        flv = wav[:-4] + ".flv"
        write_wav(wav, rate, size)
        if os.path.exists(flv):
            os.remove(flv)
        code, message, peak = convert(driver, wav, flv, args.limit_mb << 20)
        made = "yes" if os.path.exists(flv) else "no"
        print("%-8d %8d %6d %9d %5s  %s" % (rate, size, code, peak, made,
                                            message.splitlines()[-1] if message else ""))


if __name__ == "__main__":
    main()
