#!/usr/bin/env python3
"""Every allocation of a normal run, and every call of an imported function
that can fail, failing in turn: the program built with the fault injector
(faults/FaultInjector.cpp), one run per fault, in one warm prefix against one
stand-in service. Then the same for what the deadline's waiting thread does
against a service that never answers: its waits, the clean-up and the end of
the process.

Usage: test_fault_sweep.py --exe FAULTS_EXE --deadline SECONDS --template PREFIX
                           --workdir DIR [--coverage]
(--deadline is the one the test build was made with; --coverage says it is a
coverage build)

Each run must end with exit code 0, print nothing (no heap diagnostic
either), post only exact requests and at most the run's two, and remove the
RunOnce value and the session file but for the one whose removal the fault
was part of; a run that returns from its entry must leave nothing open that
the injector tracks and none of its threads running. A run whose fault is in
how it keeps its deadline (the waiting thread's, or the main thread's calls
that start, wake and wait for it) must still post both reports. A run ended
by the deadline must end, on its own clock, no earlier than its cut-off and
within seconds of its deadline, and clean up once. Last, the hand-over: the
main thread comes to the clean-up while the waiting thread is doing it, and
the run ends only once it is done.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "standin-service"))

from standin_process import StandInService  # noqa: E402
from wine_run import (HANG_GUARD_S, OPMODE_KEY, WinePrefix, session_file_bytes,  # noqa: E402
                      suite_options, windows_path)

GUID = "{6F1D2C3B-8A4E-4B7F-9C0D-1E2F3A4B5C6D}"
FALLBACK = "{3E9B6824-12DB-43CA-983D-B1A32D32F509}"
REQUEST_LINE = "POST http://metrics.tarnwell.com:80/kaldris/Mervo3/mervoservice2.asmx HTTP/1.1"
OPERATIONS = {"CountUpdateDownloaded": "0", "CountUpdateInstalled": "8"}
# In the deadline's sweep the process looks old enough for its deadline to
# come this long after it starts. On its own clock it must not abandon the
# report under way before the cut-off (the last twelfth of the run is left
# for the clean-up), and must have ended within a margin of the deadline: the
# margin is for a busy machine's start-up of the program and its clean-up.
DEADLINE_LEFT_MS = 6000
DEADLINE_MARGIN_MS = 10000
# A timed wait may end a little early: by up to a clock tick (16 ms) on
# Windows, and by a few milliseconds under Wine, whose server reads its clock
# once per turn of its loop.
TIMER_GRAIN_MS = 50

# The calls with which the run keeps its deadline, on the main thread.
DEADLINE_CALLS = {"GetProcessTimes", "CreateEventW", "CreateThread", "SetEvent",
                  "WaitForSingleObject"}

# Imports the injector leaves alone: none can fail in a way the program sees.
LEFT_OUT = {
    "return nothing, or cannot fail": """DeleteCriticalSection EnterCriticalSection
        InitializeCriticalSection LeaveCriticalSection GetCurrentProcess GetCurrentProcessId
        GetCurrentThread GetCurrentThreadId GetLastError SetLastError GetSystemTimeAsFileTime
        GetTickCount64 IsDebuggerPresent OutputDebugStringA Sleep SysStringLen free memchr memcmp
        memcpy memmove memset strcmp strlen strncmp strstr wcscmp wcslen wcsncmp _errno _ultoa _setjmp
        _setjmp3""",
    "FALSE means held by another thread, not a failure": "TryEnterCriticalSection",
    "fails only for an index the runtime never allocated": "TlsGetValue",
    "never return": "RaiseException abort longjmp _amsg_exit _endthreadex _cexit",
    "the C runtime's data, not calls": """_commode _fmode _wcmdln __winitenv __iob_func _iob
        __p__commode __p__fmode __p__wcmdln""",
    "called by the C runtime's start-up before any program code runs": """__set_app_type
        __setusermatherr __wgetmainargs _initterm GetStartupInfoW SetUnhandledExceptionFilter""",
    "the x64 unwinder's own steps": """RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx
        RtlVirtualUnwind __C_specific_handler""",
    "print the runtime's fatal errors; no one reads their result": "fprintf printf vfprintf fwrite",
    "the injector's own, before it hooks anything": "GetEnvironmentVariableW",
}
# A coverage build's runtime writes its counts as the process ends, after the
# injector's report, or while the injector stops counting.
LEFT_OUT_IN_COVERAGE_BUILDS = """IsDBCSLeadByteEx __mb_cur_max _access _fdopen _getpid _lock
    _locking _mkdir _open _unlock atoi fclose fopen fputc fread fseek getenv localeconv setlocale
    strcat strchr strerror"""
LEFT_OUT_NAMES = {name for names in LEFT_OUT.values() for name in names.split()}


def read_report(path):
    report = {"calls": {}, "watcher-calls": {}, "tracked": {}, "unhooked": [], "open": {},
              "sequence": [], "watcher-sequence": []}
    with open(path, encoding="ascii") as file:
        for line in file:
            key, *values = line.split()
            if key in ("calls", "watcher-calls", "tracked", "open"):
                report[key][values[0]] = int(values[1])
            elif key in ("unhooked", "sequence", "watcher-sequence"):
                report[key].append(values[0])
            else:
                report[key] = values[0]
    return report


def removal_windows(sequence):
    """The positions, in a run's order of calls and allocations on one thread,
    that belong to removing the RunOnce value and to deleting the session
    file; none where that thread does not clean up."""
    if "DeleteFileW" not in sequence:
        return range(0), range(0)
    value_start = max(i for i, name in enumerate(sequence) if name == "RegOpenKeyExW")
    file_start = sequence.index("SHGetFolderPathW")
    return (range(value_start, sequence.index("RegCloseKey", value_start) + 1),
            range(file_start, sequence.index("DeleteFileW", file_start) + 1))


def request_problems(records):
    operations = [record.get("operation") for record in records]
    if operations not in ([], ["CountUpdateDownloaded"], ["CountUpdateInstalled"], list(OPERATIONS)):
        return ["requests %s, not the run's reports in order" % operations]
    problems = []
    for record in records:
        expected = {"PackageId": "11", "ResultId": OPERATIONS[record["operation"]],
                    "Session": records[0]["values"].get("Session")}
        if not record["valid"] or record["request_line"] != REQUEST_LINE or \
                record["values"] != expected or expected["Session"] not in (GUID, FALLBACK):
            problems.append("request not exact: %s %s %s" % (record["request_line"], record["values"],
                                                             record["reasons"]))
    return problems


def run(prefix, service, options, fault, deadline, left_ms=None, **extra):
    """One run with one fault; with deadline, the process aged for its
    deadline to come soon, and checked for it (left_ms: aged so that this is
    left, unchecked); extra names further ZORVIK_FAULT_ settings:
    (report, problems apart from the clean-up)."""
    os.makedirs(prefix.session_folder(), exist_ok=True)
    if extra.pop("session", True):
        with open(prefix.session_file(), "wb") as file:
            file.write(session_file_bytes(GUID))
    elif os.path.exists(prefix.session_file()):
        os.remove(prefix.session_file())
    report_path = os.path.join(options.workdir, "report.txt")
    if os.path.exists(report_path):
        os.remove(report_path)
    seen = len(service.records())
    env = {"ZORVIK_FAULT": fault, "ZORVIK_FAULT_REPORT": windows_path(report_path)}
    if deadline or left_ms is not None:
        env["ZORVIK_FAULT_DEADLINE"] = str(DEADLINE_LEFT_MS if deadline else left_ms)
    env.update(("ZORVIK_FAULT_" + name.upper(), value) for name, value in extra.items())
    try:
        result = prefix.run(options.exe, env=env, timeout=HANG_GUARD_S)
    except subprocess.TimeoutExpired:
        return None, ["still running after %d s" % HANG_GUARD_S]
    records = service.records()[seen:]
    problems = request_problems(records)
    reported = os.path.exists(report_path)
    # Wine's teardown lines are not the program's output in a run that got to
    # its end (the injector reports there); in one that did not, they count.
    printed = result.own_stderr if reported else result.stderr
    if result.exit_code != 0 or result.stdout or printed:
        problems.append("exit code %#x (Wine's process: %d), printed %r %r" % (
            result.exit_code & 0xFFFFFFFF, result.wine_status, result.stdout[:200],
            printed[:300]))
    if reported and result.wine_teardown:
        print("sweep: %s: Wine wrote %r" % (fault, result.wine_teardown))
    if not reported:
        return None, problems + ["no report"]
    report = read_report(report_path)
    report["file"] = os.path.exists(prefix.session_file())
    report["posted"] = len(records)
    if report["ended"] == "normally":
        problems += ["%d %s left open" % (count, kind) for kind, count in report["open"].items() if count]
        # The waiting thread reads the run's deadline object until it ends.
        if report["running-threads"] != "0":
            problems.append("returned with %s of its threads still running" % report["running-threads"])
    if report["refused-closes"] != "0":
        problems.append("%s closes of what was not open" % report["refused-closes"])
    if deadline:
        problems += deadline_problems(report, "quietly", cut_off_ms(options))
    return report, problems


def cut_off_ms(options, deadline=DEADLINE_LEFT_MS):
    """When a run whose deadline comes at deadline ms on its own clock may
    abandon its report: the last twelfth of the build's deadline is kept for
    the clean-up."""
    return max(0, deadline - options.deadline * 1000 // 12)


def deadline_problems(report, ended, earliest, deadline=DEADLINE_LEFT_MS):
    """A run the deadline watched: how it ended, no earlier than it may on its
    own clock and within a margin of its deadline, having cleaned up once."""
    problems = []
    if report["ended"] != ended:
        problems.append("ended %s, not %s" % (report["ended"], ended))
    age = int(report["age-ms"])
    if not earliest - TIMER_GRAIN_MS <= age <= deadline + DEADLINE_MARGIN_MS:
        problems.append("ended %d ms after its start, where %d ms was the earliest and its deadline "
                        "was at %d ms" % (age, earliest, deadline))
    for removal in ("RegDeleteValueW", "DeleteFileW"):
        calls = report["calls"].get(removal, 0) + report["watcher-calls"].get(removal, 0)
        if calls > 1:
            problems.append("%s called %d times" % (removal, calls))
    return problems


def sweep(prefix, service, options, deadline, session=True):
    """The counting run, then one run per fault of what it counted:
    (counting run's report, cases, failed faults, each run's age at its end
    in ms). Exits when the counting run itself does not hold. On the
    deadline's path, only the waiting thread's part is swept: the main
    thread's is that of a normal run. Without a session file, only the
    allocations: the fallback identifier's road differs from the file's in
    what it allocates alone."""
    normal, problems = run(prefix, service, options, "count", deadline, session=session)
    if normal is None or problems or normal["runonce"] != "absent" or normal["file"]:
        sys.exit("sweep: the %s run does not hold: %s" % ("deadline's" if deadline else "normal",
                                                          problems))
    cases = []
    for side, prefix_text in (("", ""), ("watcher-", "watcher ")):
        if deadline and not side:
            continue
        allocations = int(normal[side + "allocations"])
        cases += [(prefix_text + "alloc %d" % k, side, "allocation", k)
                  for k in range(1, allocations + 1)]
        cases += [(prefix_text + "call %s %d" % (name, k), side, name, k)
                  for name, count in normal[side + "calls"].items() for k in range(1, count + 1)
                  if session]
    failed, ages = [], []
    for fault, side, name, k in cases:
        report, problems = run(prefix, service, options, fault, deadline, session=session)
        if report is not None:
            ages.append(int(report["age-ms"]))
            sequence = normal[side + "sequence"]
            at = [i for i, entry in enumerate(sequence) if entry == name][k - 1]
            value_window, file_window = removal_windows(sequence)
            if report["fired"] != "1":
                problems.append("the fault was never met")
            if report["runonce"] != "absent" and at not in value_window:
                problems.append("the RunOnce value is left")
            if report["file"] and at not in file_window:
                problems.append("the session file is left")
            # The deadline is there to abandon a report that hangs, not a run
            # that works: a failure in how the run keeps its deadline must not
            # cost a run whose service answers any of its reports.
            if not deadline and (side or name in DEADLINE_CALLS) and report["posted"] != 2:
                problems.append("%d of the 2 reports posted" % report["posted"])
            if report["ended"] != "normally" and not deadline:
                print("sweep: %s: the run ended itself, quietly" % fault)
        if problems:
            failed.append(fault)
            print("sweep: %s%s: %s" % ("deadline's path, " if deadline else
                                       "" if session else "no session file, ", fault,
                                       "; ".join(problems)))
    return normal, cases, failed, ages


# Runs the deadline watches, each set up one way. In the hand-overs one
# thread comes to the clean-up while the other is doing it, held there by the
# injector until the one comes to wait for it, or for good: then the one
# waiting ends the run at the deadline, the session file left (its deletion
# is what never finished). A held waiting thread took over at the cut-off
# while the main thread's report was under way (the service holds the answer
# until then); a held main thread claimed the clean-up first. Then two
# starts: after the deadline has passed, and after a clock set back.
# (row, settings: fault, hold, how much of the deadline is left at the start
# in ms or how much later than now the process was created, service mode;
# then how the run must end, the earliest it may, and how many reports it
# posts)
WATCHED = [
    ("the main thread comes while the waiting thread cleans up",
     dict(hold="watcher-until-main", mode="held"), "quietly", "cut-off", (2,)),
    ("the waiting thread's clean-up never ends",
     dict(hold="watcher-for-good", mode="held"), "quietly", "deadline", (2,)),
    ("the waiting thread's clean-up never ends, and the main thread's wait fails",
     dict(hold="watcher-for-good", mode="held", fault="call WaitForSingleObject 1"),
     "quietly", "deadline", (2,)),
    ("the waiting thread comes while the main thread cleans up",
     dict(hold="main-until-watcher", mode="ok"), "normally", "cut-off", (2,)),
    ("the main thread's clean-up never ends",
     dict(hold="main-for-good", mode="ok"), "quietly", "deadline", (2,)),
    ("the main thread's clean-up never ends, and the waiting thread's wait fails",
     dict(hold="main-for-good", mode="ok", fault="watcher call WaitForSingleObject 2"),
     "quietly", "deadline", (2,)),
    ("a start after the deadline", dict(left=0, mode="silent"), "quietly", "start", (0, 1)),
    ("a start just after a clock set back a minute",
     dict(younger=60000, mode="ok"), "normally", "start", (2,)),
]


def watched_runs(prefix, options):
    """Each row of WATCHED: a list of (row, problems)."""
    results = []
    for row, settings, ended, earliest, posted in WATCHED:
        release = os.path.join(options.workdir, "hold.release")
        if os.path.exists(release):
            os.remove(release)
        mode = settings.get("mode")
        arguments = ("--mode", mode) + (("--release-file", release) if mode == "held" else ())
        # The process's deadline on its own clock, and its cut-off.
        left = settings.get("left", DEADLINE_LEFT_MS)
        if "younger" in settings:
            left = options.deadline * 1000 + settings["younger"]
        deadline = min(left, options.deadline * 1000)
        cut_off = cut_off_ms(options, deadline)
        extra = {}
        if "hold" in settings:
            extra.update(hold=settings["hold"], release=windows_path(release))
        with StandInService(*arguments) as service:
            prefix.use_proxy(service.port)
            report, problems = run(prefix, service, options, settings.get("fault", "count"),
                                   deadline=False, left_ms=left, **extra)
        if report is not None:
            hold_for_good = settings.get("hold", "").endswith("for-good")
            if "hold" in settings and report["handed-over"] != "1":
                problems.append("the other thread did not come while the clean-up was under way")
            if report["posted"] not in posted:
                problems.append("%d of the 2 reports posted" % report["posted"])
            if report["runonce"] != "absent":
                problems.append("the RunOnce value is left")
            if report["file"] != hold_for_good:
                problems.append("the session file is %s" % ("left" if report["file"] else "gone"))
            problems += deadline_problems(report, ended,
                                          {"start": 0, "cut-off": cut_off, "deadline": deadline}[earliest],
                                          deadline)
        results.append((row, problems))
    return results


def main():
    options, _ = suite_options(("--deadline", {"type": int, "required": True}),
                               ("--coverage", {"action": "store_true"}))
    prefix = WinePrefix(options.template, os.path.join(options.workdir, "prefix"))
    try:
        # Opmode 2 keeps the default host, and the run reads it to the end.
        prefix.import_reg("[%s]\n\"Opmode\"=dword:00000002\n" % OPMODE_KEY)
        with StandInService() as service:
            prefix.use_proxy(service.port)
            normal, cases, failed, _ = sweep(prefix, service, options, deadline=False)
            _, fallback_cases, fallback_failed, _ = sweep(prefix, service, options,
                                                          deadline=False, session=False)
        # The deadline's path: the service never answers, so the waiting
        # thread abandons the first report, cleans up and ends the process.
        with StandInService("--mode", "silent") as silent:
            prefix.use_proxy(silent.port)
            watched, watched_cases, watched_failed, ages = sweep(prefix, silent, options,
                                                                 deadline=True)
        watched_rows = watched_runs(prefix, options)
    finally:
        prefix.stop()
    allocations = int(normal["allocations"]) + int(normal["watcher-allocations"])
    left_out = LEFT_OUT_NAMES | set(LEFT_OUT_IN_COVERAGE_BUILDS.split() if options.coverage else ())
    unclassified = sorted(set(normal["unhooked"]) - left_out)
    called = [name for name in normal["calls"]
              if normal["calls"][name] or normal["watcher-calls"][name]]
    print("sweep: %d allocations in a normal run; %d imported functions hooked, %d of them called "
          "(%d call points); %d imports left out" % (
              allocations, len(normal["calls"]) + len(normal["tracked"]), len(called),
              len(cases) - allocations, len(normal["unhooked"])))
    print("sweep: %d runs with a fault, %d held, %d did not" % (len(cases), len(cases) - len(failed),
                                                              len(failed)))
    print("sweep: without a session file, %d allocations: %d held, %d did not" % (
        len(fallback_cases), len(fallback_cases) - len(fallback_failed), len(fallback_failed)))
    watched_allocations = int(watched["watcher-allocations"])
    print("sweep: the deadline's path: %d allocations, %d call points (%s)" % (
        watched_allocations, len(watched_cases) - watched_allocations,
        ", ".join(name for name, count in watched["watcher-calls"].items() if count)))
    print("sweep: %d runs with a fault on the deadline's path, %d held, %d did not; they ended "
          "%d to %d ms after their start (cut-off at %d ms, deadline at %d ms)" % (
              len(watched_cases), len(watched_cases) - len(watched_failed), len(watched_failed),
              min(ages, default=0), max(ages, default=0),
              cut_off_ms(options), DEADLINE_LEFT_MS))
    rows_failed = [row for row, problems in watched_rows if problems]
    for row, problems in watched_rows:
        if problems:
            print("sweep: %s: %s" % (row, "; ".join(problems)))
    print("sweep: %d runs of the deadline's hand-overs and starts, %d held, %d did not" % (
        len(watched_rows), len(watched_rows) - len(rows_failed), len(rows_failed)))
    if unclassified:
        print("sweep: imports neither hooked nor left out with a reason: %s" % ", ".join(unclassified))
    sys.exit(1 if failed or fallback_failed or watched_failed or rows_failed or unclassified else 0)


if __name__ == "__main__":
    main()
