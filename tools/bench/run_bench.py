#!/usr/bin/env python3
"""Measures the program against floors made for the purpose and writes
docs/benchmarks.md. Every timed figure compares two sides measured in the
same run, in turn, and is the median of the per-round ratios.

Usage: run_bench.py --build BUILD --template PREFIX --workdir DIR --output FILE [--rounds N]
Runs inside a private network namespace (scripts/bench makes one).
"""
import argparse
import datetime
import os
import platform
import re
import shutil
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "e2e"))
sys.path.insert(0, os.path.join(ROOT, "standin-service"))
sys.path.insert(0, HERE)

import linker_map  # noqa: E402
from micro_results import MicroResults  # noqa: E402
from standin_process import StandInService  # noqa: E402
from wine_run import RUN_ONCE_KEY, RUN_ONCE_VALUE, WinePrefix, reg_string, session_file_bytes  # noqa: E402

# The identifier the floor program's messages carry (bench/floor/FloorMessages.h).
SESSION_ID = "{5D3A9C21-7E4B-4F08-A1C6-92B0E8D4F317}"
# The program must not grow past this; executable_checks holds it there too.
SIZE_LIMIT = 245 * 1024  # at most
# DLLs that ship with every supported Windows (tests/app/check_executable.py).
SYSTEM_DLLS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll",
               "shell32.dll", "shlwapi.dll", "user32.dll", "wininet.dll"}
MIB = 1024 * 1024


class BenchError(Exception):
    pass


def ms(seconds):
    return "%.1f ms" % (seconds * 1000)


def us(seconds):
    if seconds < 1e-3:
        return "%.2f µs" % (seconds * 1e6)
    return "%.3f ms" % (seconds * 1e3)


def label(name):
    """An origin from the linker map, as the report names it."""
    return {"dll stuff": "(linker-generated)",
            "objects.a": "the executable's own objects (objects.a)"}.get(name, name)


def verdict(met):
    return "met" if met else "**missed**"


# -- the machine ------------------------------------------------------------

def first_line(command):
    try:
        return subprocess.run(command, capture_output=True, text=True, check=True).stdout.splitlines()[0]
    except (OSError, subprocess.CalledProcessError, IndexError):
        return "unknown"


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo", encoding="utf-8") as file:
        for line in file:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo", encoding="utf-8") as file:
        kib = int(next(line for line in file if line.startswith("MemTotal")).split()[1])
    os_name = platform.system()
    if os.path.exists("/etc/os-release"):
        with open("/etc/os-release", encoding="utf-8") as file:
            fields = dict(line.rstrip("\n").split("=", 1) for line in file if "=" in line)
        os_name = fields.get("PRETTY_NAME", os_name).strip('"')
    if os.path.exists("/etc/debian_version"):
        with open("/etc/debian_version", encoding="utf-8") as file:
            os_name += " (Debian %s)" % file.read().strip()
    commit = first_line(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"])
    # The report itself does not count as a change.
    changes = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no",
                              "--", ".", ":!docs/benchmarks.md"], capture_output=True, text=True)
    if changes.returncode != 0 or changes.stdout.strip():
        commit += " with uncommitted changes"
    return [
        ("CPU", cpu),
        ("Cores", "%d (as the OS reports them; shared with other work)" % os.cpu_count()),
        ("RAM", "%.1f GiB" % (kib / 1024 / 1024)),
        ("OS", "%s, Linux %s" % (os_name, platform.release())),
        ("Wine", first_line(["wine", "--version"]) + ", 32-bit prefix, warm wineserver"),
        ("Compiler", first_line(["i686-w64-mingw32-g++-posix", "--version"])),
        ("Commit", commit),
        ("Date", datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")),
    ]


# -- figures 1 and 2: whole runs ----------------------------------------------

class WholeRuns:
    """Runs the program and the floor in one prefix, each from the same
    starting state: the session file and the RunOnce value in place."""

    def __init__(self, prefix, program, floor):
        self.prefix, self.program, self.floor = prefix, program, floor
        os.makedirs(prefix.session_folder(), exist_ok=True)

    def prepare(self):
        with open(self.prefix.session_file(), "wb") as file:
            file.write(session_file_bytes(SESSION_ID))
        self.prefix.import_reg("[%s]\n%s=%s\n" % (RUN_ONCE_KEY, reg_string(RUN_ONCE_VALUE),
                                                 reg_string("C:\\Zorvik\\ZorvikUpdateReport.exe")))

    def run(self, exe):
        """(wall seconds from starting the Windows program to its end, CPU
        seconds of its process)."""
        self.prepare()
        scratch = os.path.join(self.prefix.path, "..")
        with open(os.path.join(scratch, "run.out"), "wb") as out, \
                open(os.path.join(scratch, "run.err"), "wb") as err:
            started = time.perf_counter()
            process = subprocess.Popen(["wine", exe], env=self.prefix.env, stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=err)
            _, status, usage = os.wait4(process.pid, 0)
            elapsed = time.perf_counter() - started
        process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            raise BenchError("%s ended with %d" % (os.path.basename(exe), process.returncode))
        if os.path.exists(self.prefix.session_file()):
            raise BenchError("%s left the session file" % os.path.basename(exe))
        return elapsed, usage.ru_utime + usage.ru_stime

    def check_cleanup(self, exe):
        self.run(exe)
        values = self.prefix.reg_values(RUN_ONCE_KEY) or {}
        if RUN_ONCE_VALUE in values:
            raise BenchError("%s left the RunOnce value" % os.path.basename(exe))

    def interleaved(self, rounds):
        """`rounds` rounds of program, floor, floor, program (floor first every
        other round): a drift within a round falls on both sides alike."""
        measured = []
        before = cpu_times()
        for round_number in range(rounds):
            first, second = (self.program, self.floor) if round_number % 2 == 0 else (self.floor, self.program)
            runs = {self.program: [], self.floor: []}
            for exe in (first, second, second, first):
                runs[exe].append(self.run(exe))
            measured.append((runs[self.program], runs[self.floor]))
        return Rounds(measured, steal_share(before, cpu_times()))


def load_average():
    """The 1, 5 and 15 minute load averages: work on the machine besides ours."""
    with open("/proc/loadavg", encoding="ascii") as file:
        return " / ".join(file.read().split()[:3])


def cpu_times():
    """The machine's CPU time counters from /proc/stat (user, nice, system,
    idle, iowait, irq, softirq, steal, ...)."""
    with open("/proc/stat", encoding="ascii") as file:
        return [int(value) for value in file.readline().split()[1:]]


def steal_share(before, after):
    """The share of CPU time the hypervisor gave to others in between."""
    spent = [b - a for a, b in zip(before, after)]
    return spent[7] / sum(spent) if sum(spent) else 0.0


class Rounds:
    """Per round, the program's runs and the floor's runs, each run a pair
    (wall seconds, CPU seconds)."""

    def __init__(self, rounds, steal):
        self.rounds, self.steal = rounds, steal

    def ratios(self, index=0):
        """Per round: the program's total over the floor's (0 wall, 1 CPU)."""
        return [sum(run[index] for run in program) / sum(run[index] for run in floor)
                for program, floor in self.rounds]

    def runs(self, side, index=0):
        """Every run of one side (0 program, 1 floor)."""
        return [run[index] for pair in self.rounds for run in pair[side]]


def same_requests(program_records, floor_records):
    keys = ("request_line", "headers", "body_base64")
    return [tuple(r[k] if k != "headers" else tuple(map(tuple, r[k])) for k in keys)
            for r in program_records] == \
           [tuple(r[k] if k != "headers" else tuple(map(tuple, r[k])) for k in keys)
            for r in floor_records]


def closed_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def measure_whole_runs(prefix, program, floor, rounds):
    runs = WholeRuns(prefix, program, floor)
    load = load_average()
    with StandInService() as service:
        prefix.use_proxy(service.port)
        # Warm-up, with everything checked once: both clean up, and the floor
        # posts exactly the program's requests.
        runs.check_cleanup(program)
        runs.check_cleanup(floor)
        warm = service.records()
        if len(warm) != 4 or not all(r["valid"] for r in warm[:2]):
            raise BenchError("the warm-up runs did not post two valid requests each: %r" % warm)
        if not same_requests(warm[:2], warm[2:]):
            raise BenchError("the floor's requests differ from the program's")
        served = runs.interleaved(rounds)
        records = service.records()
        # Four runs a round, two requests a run.
        if len(records) != 4 + 8 * rounds or not all(r["valid"] for r in records):
            raise BenchError("not every measured run posted two accepted requests: %d requests"
                             % len(records))

    port = closed_port()
    prefix.use_proxy(port)
    runs.run(program)
    runs.run(floor)
    refused = runs.interleaved(rounds)
    return {"served": served, "refused": refused, "request": warm[0], "refused_port": port,
            "load": load}


# -- figure 5: size -----------------------------------------------------------

def imports(exe):
    text = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], capture_output=True, text=True,
                          check=True).stdout
    return sorted({name.lower() for name in re.findall(r"DLL Name: (\S+)", text)})


def measure_size(build):
    shipped = os.path.join(build, "bin", "ZorvikUpdateReport.exe")
    reference = os.path.join(build, "bench", "ZorvikUpdateReportLibraryTerminate.exe")
    shipped_map = os.path.join(build, "src", "app", "ZorvikUpdateReport.map")
    reference_map = os.path.join(build, "bench", "ZorvikUpdateReportLibraryTerminate.map")
    sizes, sections = linker_map.contributions(shipped_map)
    reference_sizes, _ = linker_map.contributions(reference_map)
    removed = {name: size - sizes.get(name, 0) for name, size in reference_sizes.items()
               if size > sizes.get(name, 0)}
    return {
        "bytes": os.path.getsize(shipped),
        "reference_bytes": os.path.getsize(reference),
        "imports": imports(shipped),
        "reference_imports": imports(reference),
        "sections": sections,
        "libraries": linker_map.by_library(sizes),
        "members": sizes,
        "removed": removed,
    }


# -- the report -------------------------------------------------------------

def whole_run_section(lines, title, rounds, target, how):
    ratio = statistics.median(rounds.ratios())
    rows = []
    for name, side in (("ZorvikUpdateReport.exe", 0), ("FloorRun.exe", 1)):
        times = rounds.runs(side)
        rows.append("| %s | %d | %s | %s | %s | %s |" % (
            name, len(times), ms(statistics.median(times)), ms(min(times)), ms(max(times)),
            ms(statistics.median(rounds.runs(side, 1)))))
    program, floor = rounds.runs(0), rounds.runs(1)
    lines += ["", "## " + title, "", how, "",
              "| | Runs | Median | Fastest | Slowest | CPU time of the process, median |",
              "|---|---|---|---|---|---|"] + rows + [
              "",
              "Ratio, median of the %d per-round ratios: **%.3f** (target ≤ %.2f: %s). Per round: %s. "
              "Other views of the same runs: ratio of the medians %.3f, of the fastest runs %.3f, "
              "median per-round ratio of the CPU time of the process %.3f. The hypervisor took %.0f %% "
              "of the machine's CPU time meanwhile (steal, from /proc/stat)."
              % (len(rounds.rounds), ratio, target, verdict(ratio <= target),
                 ", ".join("%.2f" % value for value in rounds.ratios()),
                 statistics.median(program) / statistics.median(floor), min(program) / min(floor),
                 statistics.median(rounds.ratios(1)), 100 * rounds.steal)]
    return ratio


def size_section(lines, size):
    lines += ["", "## 5. Size of the release executable", "",
              "`build/bin/ZorvikUpdateReport.exe`: **%d bytes (%.1f KiB)** (limit ≤ 245 KiB: %s). "
              "It imports %s only: the C and C++ runtimes are linked statically."
              % (size["bytes"], size["bytes"] / 1024, verdict(size["bytes"] <= SIZE_LIMIT),
                 ", ".join(size["imports"])),
              "",
              "The program used to link libstdc++'s default terminate handler, which prints the "
              "demangled type of an uncaught exception before it aborts; the linker map (`-Wl,-Map`, "
              "written by the mingw build as `build/src/app/ZorvikUpdateReport.map`) shows that it pulls "
              "in the demangler (`cp-demangle.o`) and, through it, mingw-w64's printf implementation. "
              "`src/app/TerminateHandlerMinGw.cpp`, compiled by the mingw build only, replaces that "
              "handler with one that aborts without the text, which a windowless program has nowhere "
              "to show. The same program linked with the library's handler "
              "(`ZorvikUpdateReportLibraryTerminate.exe`, built in `bench/`), measured in this run: "
              "**%d bytes (%.1f KiB)**, importing %s. The replacement saves %d bytes (%.1f KiB); what "
              "it drops, from the two maps:"
              % (size["reference_bytes"], size["reference_bytes"] / 1024, ", ".join(size["reference_imports"]),
                 size["reference_bytes"] - size["bytes"], (size["reference_bytes"] - size["bytes"]) / 1024),
              "", "| Object | Bytes |", "|---|---|"]
    for name, value in sorted(size["removed"].items(), key=lambda item: -item[1])[:8]:
        lines.append("| %s | %d |" % (label(name), value))
    lines += ["", "Where the bytes of the shipped program go now, by library (input sections placed "
              "in the image, from the map; sections: %s):" % ", ".join(
                  "%s %d" % item for item in size["sections"].items()),
              "", "| Library or object | Bytes |", "|---|---|"]
    for name, value in size["libraries"].most_common(10):
        lines.append("| %s | %d |" % (label(name), value))
    lines += ["", "Largest single objects:", "", "| Object | Bytes |", "|---|---|"]
    for name, value in size["members"].most_common(8):
        lines.append("| %s | %d |" % (label(name), value))


def write_report(path, facts, whole, micro, size, rounds):
    lines = ["# Benchmarks", "",
             "Written by `scripts/bench`; run it again rather than editing this file. Every timed figure "
             "compares two sides measured in the same run, one after the other and in turn "
             "(the side that goes first alternates), and is the median of the ratios of %d rounds."
             % rounds,
             "", "## Machine", "", "| | |", "|---|---|"]
    lines += ["| %s | %s |" % item for item in facts]
    summary = []

    # 1 and 2
    how_served = (
        "The release program against the stand-in metrics service (`standin-service/`), reached "
        "through the prefix's proxy setting, versus `bench/floor/FloorRun.cpp`: a windowless program "
        "built and linked with the same flags that makes the run's platform calls in the same order "
        "and with the same arguments, and nothing else: the shell folder look-up and `PathFileExistsW`, "
        "the session file opened as the reader opens it and read to its end with plain `ReadFile` "
        "calls, the `Opmode` key query, then per report a COM apartment, the SAX reader "
        "(`CoCreateInstance`, `putContentHandler`) and one WinINet POST (`InternetOpenW` "
        "PRECONFIG, `InternetConnectW`, `HttpOpenRequestW` with flags 0x00440200, "
        "`HttpSendRequestW`) with the finished SOAPAction and Content-Type header lines and body "
        "bytes, then the `RunOnce` value's deletion and `DeleteFileW` of the session file. "
        "Each run is timed from starting `wine` to the program's end, with the prefix's "
        "wineserver already running; before each run the session file and the `RunOnce` value are put "
        "back. A round is program, floor, floor, program (the floor first every other round), and its "
        "ratio is the program's two runs over the floor's two, so that a drift within the round "
        "falls on both sides alike. Load average at the start: %s (1, 5, 15 minutes). Checked in the same run: the floor's requests are byte for byte the program's "
        "(request line, headers, body: `%s`, %d body bytes), every measured run posted two "
        "requests the service accepted, and both programs removed the file and the value. The CPU "
        "time is the user and system time of the Windows program's process (from wait4); the "
        "wineserver's share is not in it."
        % (whole["load"], whole["request"]["request_line"], len(whole["request"]["body"].encode("utf-8"))))
    served = whole_run_section(lines, "1. Whole run against the stand-in service", whole["served"],
                               1.10, how_served)
    summary.append(("1. Whole run, service answering", "%.3f × floor" % served, "≤ 1.10 × floor",
                    served <= 1.10))
    how_refused = ("The same two programs with the proxy pointing at a closed loopback port "
                   "(127.0.0.1:%d, nothing listening), so that every `HttpSendRequestW` fails at once "
                   "with a refused connection. Both still clean up; the file's removal is checked "
                   "after every run." % whole["refused_port"])
    refused = whole_run_section(lines, "2. Whole run, service refusing connections", whole["refused"],
                                1.10, how_refused)
    summary.append(("2. Whole run, connection refused", "%.3f × floor" % refused, "≤ 1.10 × floor",
                    refused <= 1.10))

    # 3
    largest = micro.ratio("session.largest", "ReadSessionId", "ReadFile")
    peak = micro.peak_above_idle("session.largest")
    lines += ["", "## 3. ReadSessionId", "",
              "`bench/micro/` (MicroBench.exe, linking the project's libraries, run under Wine in the "
              "same prefix) writes the session file where the reader looks for it and calls "
              "`ReadSessionId` as the entry does, with an empty string. Sides, in turn each round: "
              "`ReadSessionId`; **ReadFile**, the reference: the file opened with the reader's flags and "
              "the same sequence of plain `ReadFile` calls (header, then count, text and terminator of "
              "each record) into one buffer that already exists; *ReadFile into new strings*: the same "
              "reads, each record's text into a string allocated for it with `SysAllocStringByteLen` and "
              "freed before the next, as the reader's strings are; *folder lookup*: "
              "`GetAppDataFolder` and `PathFileExistsW`, the reader's way to the file. Largest legal "
              "file: six records of 0x100000 bytes (%d bytes); typical file: five short texts and a "
              "GUID (%d bytes)." % (micro.value("session.largest", "file", "bytes"),
                                     micro.value("session.typical", "file", "bytes")),
              "", "| File | ReadSessionId | ReadFile | ReadFile into new strings | folder lookup | "
              "ReadSessionId / ReadFile |", "|---|---|---|---|---|---|"]
    for item, name in (("session.largest", "largest"), ("session.typical", "typical")):
        lines.append("| %s | %s | %s | %s | %s | %.2f |" % (
            name, us(micro.median(item, "ReadSessionId")), us(micro.median(item, "ReadFile")),
            us(micro.median(item, "ReadFile into new strings")), us(micro.median(item, "folder lookup")),
            micro.ratio(item, "ReadSessionId", "ReadFile")))
    private_reported = micro.value("platform", "GetProcessMemoryInfo", "private_usage_reported")
    keeps_peaks = micro.value("platform", "GetProcessMemoryInfo", "peak_counter_keeps_peaks")
    lines += ["",
              "Time per call, median over rounds. Largest file: **%.2f × ReadFile** (target ≤ 1.25: %s)."
              % (largest, verdict(largest <= 1.25)),
              "",
              "Peak private bytes. `GetProcessMemoryInfo` with `PROCESS_MEMORY_COUNTERS_EX`, checked "
              "under Wine at the start of the run: `PrivateUsage` is %s, and `PeakPagefileUsage` %s "
              "(4 MiB committed, touched and released must still show in it). %s"
              % ("filled in" if private_reported else "left 0",
                 "keeps a past peak" if keeps_peaks else "does not keep a past peak: it equals "
                 "`PagefileUsage` at the moment of the query",
                 "So a second thread samples the private bytes (`PrivateUsage`, or `PagefileUsage` where "
                 "`PrivateUsage` is 0; Windows reports the same value in both) while the call runs; the "
                 "first sample, taken with that thread already running, is the idle. A peak shorter "
                 "than one sampling interval can be missed, so each figure is the highest of %d calls."
                 % micro.runs("session.largest", "peak_bytes")),
              "",
              "| File | Idle private bytes | Highest peak above idle | Median peak above idle | "
              "Samples per call (median) |", "|---|---|---|---|---|"]
    for item, name in (("session.largest", "largest"), ("session.typical", "typical")):
        lines.append("| %s | %.2f MiB | %.2f MiB | %.2f MiB | %d |" % (
            name, micro.median(item, "ReadSessionId", "idle_bytes") / MIB,
            micro.peak_above_idle(item) / MIB, micro.median_peak_above_idle(item) / MIB,
            micro.median(item, "ReadSessionId", "samples")))
    lines += ["", "Largest file: peak **%.2f MiB** above idle (target < 8 MiB: %s)."
              % (peak / MIB, verdict(peak < 8 * MIB))]
    summary.append(("3. ReadSessionId, largest file, time", "%.2f × ReadFile" % largest,
                    "≤ 1.25 × ReadFile", largest <= 1.25))
    summary.append(("3. ReadSessionId, largest file, peak memory", "%.2f MiB above idle" % (peak / MIB),
                    "< 8 MiB above idle", peak < 8 * MIB))

    # 4
    lines += ["", "## 4. URL escaping and parsing, message composition", "",
              "The same MicroBench, %d calls per side per round. `EscapeUrlText` and `ParseUrl` of "
              "`http://metrics.tarnwell.com/kaldris/Mervo3/mervoservice2.asmx` (the record cleared "
              "first, as the SOAP client does), beside the platform's `InternetCrackUrlW` of the same "
              "URL into caller buffers of the record's sizes; `ComposeMessage` of the "
              "`CountUpdateDownloaded` message of a run (package 11, result 0, a GUID session), beside "
              "copying the finished body into a new `std::string`, the least any composition does. "
              "Allocations are counted by replacing the global `operator new`/`delete` (every form) in "
              "the benchmark executable, over %d calls." % (micro.value("url", "MicroBench", "calls_per_round"),
                                                 micro.value("url", "MicroBench", "counted_calls")),
              "", "| Operation | Time per call | Allocations per call | Reference | Its time | "
              "Its allocations | Ratio |", "|---|---|---|---|---|---|---|"]
    for item, side, reference in (("url.escape", "EscapeUrlText", "InternetCrackUrlW"),
                                  ("url.parse", "ParseUrl", "InternetCrackUrlW"),
                                  ("url.escape_parse", "EscapeUrlText+ParseUrl", "InternetCrackUrlW"),
                                  ("message.compose", "ComposeMessage", "string copy")):
        lines.append("| %s | %s | %g | %s | %s | %g | %.2f |" % (
            side.replace("+", " + "), us(micro.median(item, side)),
            micro.value(item, side, "allocations_per_call"), reference,
            us(micro.median(item, reference)), micro.value(item, reference, "allocations_per_call"),
            micro.ratio(item, side, reference)))
    escape_allocs = micro.value("url.escape", "EscapeUrlText", "allocations_per_call")
    parse_allocs = micro.value("url.parse", "ParseUrl", "allocations_per_call")
    compose_allocs = micro.value("message.compose", "ComposeMessage", "allocations_per_call")
    lines += ["",
              "Allocations per call: `EscapeUrlText` %g (its buffers are fixed arrays on the stack), "
              "`ParseUrl` %g (its work buffer), both together %g; `ComposeMessage` %g, %s."
              % (escape_allocs, parse_allocs,
                 micro.value("url.escape_parse", "EscapeUrlText+ParseUrl", "allocations_per_call"),
                 compose_allocs,
                 "the body it returns, reserved once and not regrown" if compose_allocs == 1
                 else "the body it returns and %g regrowths of it" % (compose_allocs - 1))]
    url_ok = escape_allocs == 0 and parse_allocs == 1
    summary.append(("4. EscapeUrlText + ParseUrl allocations", "%g + %g per call" % (escape_allocs, parse_allocs),
                    "none beyond the one work buffer", url_ok))

    # 5
    size_section(lines, size)
    bad_imports = sorted(set(size["imports"]) - SYSTEM_DLLS)
    summary.append(("5. Release executable size", "%.1f KiB" % (size["bytes"] / 1024), "≤ 245 KiB",
                    size["bytes"] <= SIZE_LIMIT and not bad_imports))

    # Misses, with the measurements that explain them.
    misses = []
    if largest > 1.25:
        lookup = micro.median("session.largest", "folder lookup")
        fresh = micro.median("session.largest", "ReadFile into new strings")
        plain = micro.median("session.largest", "ReadFile")
        reader = micro.median("session.largest", "ReadSessionId")
        string_bytes = micro.value("platform", "SysAllocStringByteLen", "private_bytes_of_untouched_1mib_string")
        misses.append(
            "**ReadSessionId on the largest file (figure 3, time).** Measured in this run: the reads "
            "alone take %s into an existing buffer and %s when each record's text goes into a string "
            "of its own, as the reader must keep it (+%s). The platform fills such a string when it "
            "allocates it: a 1 MiB `SysAllocStringByteLen` without text raised the private bytes by "
            "%.2f MiB before anything was written to it. Finding the file (`GetAppDataFolder` and "
            "`PathFileExistsW`) takes another %s. These two platform costs, which the reader cannot "
            "do without (it keeps each record in a string of its own and finds the file through the "
            "shell), come to %s, %.0f %% of `ReadSessionId`'s %s; against them as the reference the "
            "ratio is %.2f. The rest is the reader's own work, the copy of the 1 MiB identifier "
            "among it."
            % (us(plain), us(fresh), us(fresh - plain), string_bytes / MIB, us(lookup),
               us(fresh + lookup), 100 * (fresh + lookup) / reader, us(reader), reader / (fresh + lookup)))
    for name, ratio, rounds in (("1", served, whole["served"]), ("2", refused, whole["refused"])):
        if ratio > 1.10:
            per_round = rounds.ratios()
            program, floor = rounds.runs(0), rounds.runs(1)
            misses.append(
                "**Whole run (figure %s).** Median per-round ratio %.3f, the rounds ranging from %.2f "
                "to %.2f. In the same runs: fastest program run against fastest floor run %.3f, median "
                "per-round ratio of the process CPU time %.3f; the hypervisor took %.0f %% of the "
                "machine's CPU time meanwhile, and the load average was %s at the start."
                % (name, ratio, min(per_round), max(per_round), min(program) / min(floor),
                   statistics.median(rounds.ratios(1)), 100 * rounds.steal, whole["load"]))
    if peak >= 8 * MIB:
        misses.append("**ReadSessionId peak memory.** %.2f MiB above idle." % (peak / MIB))
    if not url_ok:
        misses.append("**URL allocations.** EscapeUrlText made %g and ParseUrl %g per call."
                      % (escape_allocs, parse_allocs))
    if size["bytes"] > SIZE_LIMIT or bad_imports:
        misses.append("**Size.** %d bytes; imports beyond the system DLLs: %s."
                      % (size["bytes"], ", ".join(bad_imports) or "none"))

    head = ["", "## Summary", "", "| Figure | Measured | Target | |", "|---|---|---|---|"]
    head += ["| %s | %s | %s | %s |" % (name, value, target, verdict(met))
             for name, value, target, met in summary]
    head += ["", "### Where a target was missed", ""]
    head += (["- " + text for text in misses] if misses else ["Nowhere in this run."])
    machine_end = lines.index("## Machine") + 4 + len(facts)
    lines[machine_end:machine_end] = head
    with open(path, "w", encoding="utf-8") as file:
        file.write("\n".join(lines) + "\n")
    return summary


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--template", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--rounds", type=int, default=21)
    options = parser.parse_args()
    if options.rounds < 10:
        parser.error("at least 10 rounds")
    build = os.path.abspath(options.build)
    shutil.rmtree(options.workdir, ignore_errors=True)
    os.makedirs(options.workdir)

    facts = machine()
    prefix = WinePrefix(options.template, os.path.join(options.workdir, "prefix"), debug="-all")
    try:
        print("bench: whole runs (%d rounds each, service answering, then refusing)" % options.rounds)
        whole = measure_whole_runs(prefix, os.path.join(build, "bin", "ZorvikUpdateReport.exe"),
                                   os.path.join(build, "bench", "FloorRun.exe"), options.rounds)
        print("bench: ReadSessionId, URL and message")
        micro = MicroResults()
        for part in ("session", "url"):
            result = prefix.wine(os.path.join(build, "bench", "MicroBench.exe"), part, str(options.rounds))
            if result.exit_code != 0:
                raise BenchError("MicroBench %s failed: %s" % (part, result.stderr.decode("utf-8", "replace")))
            micro.add(result.stdout.decode("utf-8"))
    finally:
        prefix.stop()
    print("bench: size")
    size = measure_size(build)
    summary = write_report(options.output, facts, whole, micro, size, options.rounds)
    print("bench: wrote %s" % options.output)
    for name, value, target, met in summary:
        print("  %-46s %-24s %-30s %s" % (name, value, target, "met" if met else "MISSED"))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as error:
        print("bench: %s" % error, file=sys.stderr)
        sys.exit(1)
