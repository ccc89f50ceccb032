#!/usr/bin/env python3
"""One line per folder of src/ from gcovr's JSON summary: lines and branches
run of those there are, and the whole below.

Usage: summary.py SUMMARY_JSON"""
import collections
import json
import sys


def share(covered, total):
    return "%5d/%-5d %5.1f %%" % (covered, total, 100.0 * covered / total if total else 100.0)


def main():
    with open(sys.argv[1], encoding="utf-8") as file:
        files = json.load(file)["files"]
    folders = collections.defaultdict(lambda: [0, 0, 0, 0])
    for entry in files:
        parts = entry["filename"].replace("\\", "/").split("/")
        folder = "/".join(parts[:2]) if len(parts) > 2 else parts[0]
        for slot, key in enumerate(("line_covered", "line_total", "branch_covered", "branch_total")):
            folders[folder][slot] += entry[key]
            folders["all of src/"][slot] += entry[key]
    print("%-14s %-20s %-20s" % ("folder", "lines run", "branches run"))
    for folder in sorted(folders, key=lambda name: (name == "all of src/", name)):
        lines_run, lines, branches_run, branches = folders[folder]
        print("%-14s %-20s %-20s" % (folder, share(lines_run, lines), share(branches_run, branches)))


if __name__ == "__main__":
    main()
