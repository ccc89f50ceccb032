#!/usr/bin/env python3
"""Builds the program twice, in two scratch folders and at two different
times, and fails unless the two executables are the same bytes.

Usage: reproducible_build.py --source DIR --toolchain FILE --workdir DIR

The first build takes its PE time stamp from the commit, the second from
SOURCE_DATE_EPOCH set to the commit's time: both roads must give the same file.
Only the program's target is built, without tests and benchmarks.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "app"))
from pe_image import PeImage  # noqa: E402


def build(source, toolchain, folder, epoch):
    env = dict(os.environ)
    env.pop("SOURCE_DATE_EPOCH", None)
    if epoch is not None:
        env["SOURCE_DATE_EPOCH"] = str(epoch)
    shutil.rmtree(folder, ignore_errors=True)
    subprocess.run(["cmake", "-S", source, "-B", folder, "-DCMAKE_TOOLCHAIN_FILE=" + toolchain,
                    "-DCMAKE_BUILD_TYPE=Release", "-DZORVIK_BUILD_TESTS=OFF",
                    "-DZORVIK_BUILD_BENCH=OFF"], env=env, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", folder, "--target", "ZorvikUpdateReport", "-j2"],
                   env=env, check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(folder, "bin", "ZorvikUpdateReport.exe"), "rb") as f:
        return f.read()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--toolchain", required=True)
    parser.add_argument("--workdir", required=True)
    args = parser.parse_args()

    commit_time = subprocess.run(["git", "-C", args.source, "log", "-1", "--format=%ct"],
                                 capture_output=True, text=True, check=True).stdout.strip()
    first_dir = os.path.join(args.workdir, "first")
    second_dir = os.path.join(args.workdir, "second-elsewhere")
    first = build(args.source, args.toolchain, first_dir, None)
    time.sleep(2)  # a clock-derived time stamp would differ by now
    second = build(args.source, args.toolchain, second_dir, int(commit_time))

    failures = []
    if first != second:
        offset = next((i for i, (a, b) in enumerate(zip(first, second)) if a != b),
                      min(len(first), len(second)))
        failures.append("the two builds differ: %d and %d bytes, first difference at offset %#x "
                        "(%d) in %s: %s vs %s" % (
                            len(first), len(second), offset, offset, PeImage(first).section_at(offset),
                            first[offset:offset + 16].hex(), second[offset:offset + 16].hex()))
    timestamp = PeImage(first).timestamp
    if timestamp != int(commit_time):
        failures.append("PE time stamp %d is not the commit's time %s" % (timestamp, commit_time))
    for folder in (args.source, first_dir, second_dir, os.path.expanduser("~")):
        path = os.path.realpath(folder).encode()
        for encoded in (path, path.decode().encode("utf-16-le")):
            if encoded in first or encoded in second:
                failures.append("the program names the folder %s" % folder)

    for failure in failures:
        print("FAIL:", failure)
    if failures:
        return 1
    print("Two builds, %d bytes each, are identical; PE time stamp %d (the commit's time)"
          % (len(first), timestamp))
    return 0


if __name__ == "__main__":
    sys.exit(main())
