"""Runs the real program under Wine in a scratch prefix whose per-user proxy
sends the fixed metrics hosts to a loopback stand-in service.

Shared by the end-to-end suite, the demo and the benchmarks. Expects to run
inside a private network namespace (tools/wine/testnet), where the prefix's
wineserver is started too.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINEPREFIX_TOOL = os.path.join(ROOT, "tools", "wine", "wineprefix")

RUN_ONCE_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\RunOnce"
RUN_ONCE_VALUE = "ZorvikSoftwareUpdate"
OPMODE_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Tarnwell\kaldris"
INTERNET_SETTINGS_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
SAX_READER_CLASS_KEY = r"HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{079AA557-4A18-424A-8EEE-E39F0A8D41B9}"
HEAP_FLAGS_KEY = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager"

# A Windows program that has not ended by then is hung. The program's own
# promise is to end within 60 s of its start, whatever the service does; the
# rest is room for Wine's start and end of it on a busy machine.
HANG_GUARD_S = 120


def windows_path(path):
    """The Wine path of a host path (drive Z: is the host's root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


# What Wine itself writes when a thread of the process can no longer reach its
# server, as happens when a thread starts or sends while the process is being
# torn down: "wine client error:<thread>: <call>: <reason>". Like the SIGSEGV
# in that teardown, it is no output of the program's, which writes none;
# whether the run held is told by its exit code and by what it did.
WINE_TEARDOWN_LINE = re.compile(rb"^wine client error:[0-9a-f]+: .*\n?", re.M)


class RunResult:
    """exit_code is the program's; wine_status is how the wine command ended
    (Python's returncode), which differs from it when Wine's process dies by
    a signal after the program has ended. own_stderr is stderr without Wine's
    teardown lines, which wine_teardown holds."""

    def __init__(self, exit_code, stdout, stderr, wine_status=None):
        self.exit_code, self.stdout, self.stderr = exit_code, stdout, stderr
        self.wine_status = exit_code if wine_status is None else wine_status
        self.wine_teardown = WINE_TEARDOWN_LINE.findall(stderr)
        self.own_stderr = WINE_TEARDOWN_LINE.sub(b"", stderr)

    def heap_errors(self):
        return [line for line in self.stderr.decode("utf-8", "replace").splitlines()
                if ":err:heap" in line or ":warn:heap" in line]


class WinePrefix:
    """A scratch prefix cloned from the build tree's template, with its own
    warm wineserver. Output of every Wine command goes through files: Wine's
    background processes would otherwise hold our pipes open."""

    def __init__(self, template, path, debug="-all,err+heap,warn+heap"):
        self.path = path = os.path.abspath(path)
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG=debug)
        # Wine refuses a prefix of the other kind than WINEARCH names.
        if os.path.isdir(os.path.join(template, "drive_c", "windows", "syswow64")):
            self.env["WINEARCH"] = "win64"
        subprocess.run([WINEPREFIX_TOOL, "clone", template, path], check=True)
        subprocess.run([WINEPREFIX_TOOL, "start"], env=self.env, check=True)
        self._scratch = tempfile.mkdtemp(prefix="wine-run-", dir=os.path.dirname(path))

    def stop(self):
        subprocess.run([WINEPREFIX_TOOL, "stop"], env=self.env)

    def wine(self, *arguments, timeout=HANG_GUARD_S, env=None):
        """Runs a Windows program to its end; env adds variables for this run."""
        out = os.path.join(self._scratch, "out")
        err = os.path.join(self._scratch, "err")
        with open(out, "wb") as stdout, open(err, "wb") as stderr:
            status = subprocess.run(["wine", *arguments], env=dict(self.env, **(env or {})),
                                    stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                    timeout=timeout).returncode
        with open(out, "rb") as stdout, open(err, "rb") as stderr:
            return RunResult(status, stdout.read(), stderr.read())

    def run(self, exe, *arguments, timeout=HANG_GUARD_S, env=None):
        """Runs a program of ours to its end; its exit code is the one Wine's
        server recorded, read through ExitCodeOf (ZORVIK_EXIT_CODE_OF) where
        the test run provides it. The Linux process of a program that has used
        WinINet now and then dies by SIGSEGV in Wine's teardown of WinINet's
        own thread, after the program has ended with its code."""
        launcher = os.environ.get("ZORVIK_EXIT_CODE_OF")
        if not launcher:
            return self.wine(exe, *arguments, timeout=timeout, env=env)
        code_file = os.path.join(self._scratch, "code")
        if os.path.exists(code_file):
            os.remove(code_file)
        result = self.wine(launcher, windows_path(exe), *arguments, timeout=timeout,
                           env=dict(env or {}, ZORVIK_EXIT_CODE_FILE=windows_path(code_file)))
        if os.path.exists(code_file):
            with open(code_file, encoding="ascii") as file:
                result.exit_code = int(file.read())
        return result

    def start(self, *arguments):
        """Starts a Windows program in the background; returns its process."""
        return subprocess.Popen(["wine", *arguments], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def export_key(self, key):
        """The .reg text of a key and its subkeys, for import_reg to restore."""
        path = os.path.join(self._scratch, "export.reg")
        result = self.wine("regedit", "/E", windows_path(path), key)
        if result.exit_code != 0:
            raise RuntimeError("regedit /E failed: %r" % result.stderr)
        with open(path, encoding="utf-16") as f:
            lines = f.read().splitlines()
        return "\n".join(line for line in lines if not line.startswith("Windows Registry Editor"))

    def import_reg(self, text):
        """Applies a .reg text (deletions with [-KEY] and "name"=-)."""
        path = os.path.join(self._scratch, "changes.reg")
        with open(path, "w", encoding="utf-16") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n" + text.replace("\n", "\r\n") + "\r\n")
        result = self.wine("regedit", "/S", windows_path(path))
        if result.exit_code != 0:
            raise RuntimeError("regedit failed: %r" % result.stderr)

    def reg_values(self, key):
        """{name: data text} of the values under a key; None when the key is missing."""
        result = self.wine("reg", "query", key)
        if result.exit_code != 0:
            return None
        values = {}
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2] if len(parts) == 3 else ""
        return values

    def appdata(self):
        """The host path of the user's roaming application-data folder."""
        users = [u for u in glob.glob(os.path.join(self.path, "drive_c", "users", "*"))
                 if os.path.basename(u) != "Public"]
        return os.path.join(users[0], "AppData", "Roaming")

    def session_folder(self):
        return os.path.join(self.appdata(), "ZorvikUpdate")

    def session_file(self):
        return os.path.join(self.session_folder(), "ZorvikUpdate.session")

    def use_proxy(self, port):
        """Routes every WinINet request of the prefix's user to 127.0.0.1:port."""
        self.import_reg("[%s]\n\"ProxyEnable\"=dword:00000001\n\"ProxyServer\"=%s\n"
                        "\"ProxyOverride\"=-\n" % (INTERNET_SETTINGS_KEY, reg_string("127.0.0.1:%d" % port)))


def counted_string(text):
    """One counted UTF-16 record of the session file; None is an absent string."""
    if text is None:
        return (0).to_bytes(4, "little")
    data = text.encode("utf-16-le", "surrogatepass")
    return (len(data) + 2).to_bytes(4, "little") + data + b"\0\0"


def session_file_bytes(identifier, others=("product", "1.0", "en-US", "x86", "channel"),
                       header=(0x5A52, 1)):
    """Two header words and six records, the sixth being the identifier."""
    data = b"".join(word.to_bytes(4, "little") for word in header)
    for text in others:
        data += counted_string(text)
    return data + counted_string(identifier)


def suite_options(*extra):
    """Options every end-to-end suite takes (--exe, --template, --workdir)
    plus the extra ones, each (flag, keyword arguments); the rest is left to
    unittest. The work folder starts empty."""
    parser = argparse.ArgumentParser()
    for flag in ("--exe", "--template", "--workdir"):
        parser.add_argument(flag, required=True)
    for flag, settings in extra:
        parser.add_argument(flag, **settings)
    options, rest = parser.parse_known_args()
    # The flake hunt's choice of cases (scripts/test --flake-hunt --cases).
    cases = os.environ.get("ZORVIK_E2E_CASES", "").split()
    if cases:
        rest = [argument for argument in rest if argument.startswith("-")] + cases
    shutil.rmtree(options.workdir, ignore_errors=True)
    os.makedirs(options.workdir)
    return options, [sys.argv[0], *rest]


def run_suite(arguments):
    unittest.main(module="__main__", argv=arguments, verbosity=2)
