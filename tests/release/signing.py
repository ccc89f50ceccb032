#!/usr/bin/env python3
"""scripts/release with a throw-away CA and code-signing certificate, made
here with openssl; nothing of them is kept.

Usage: signing.py --exe PROGRAM --workdir DIR
           checks: the signature verifies against the CA, the sum matches,
           and every way of failing stops with a message and leaves no file
       signing.py --exe PROGRAM --workdir DIR --e2e --holder EXE --template PREFIX
           signs the program and runs the normal end-to-end case with it (Wine)
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
RELEASE = os.path.join(ROOT, "scripts", "release")
NAME = "ZorvikUpdateReport.exe"
PASSWORD = "correct horse"


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_certificates(folder):
    """ca.pem, and signer.p12 (key and certificate signed by the CA, with
    PASSWORD); also notpkcs12.p12, a file of another kind."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(os.path.join(folder, "signer.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=Throw-away test CA", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
            "-subj", "/CN=Throw-away code signer", cwd=folder)
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "signer.pem", "-days", "2", "-extfile", "signer.ext",
            cwd=folder)
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-out", "signer.p12",
            "-passout", "pass:" + PASSWORD, cwd=folder)
    shutil.copy(os.path.join(folder, "ca.pem"), os.path.join(folder, "notpkcs12.p12"))
    return folder


def release(exe, out, *args, env_extra=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith("ZORVIK_SIGN")}
    env.update(env_extra or {})
    return subprocess.run([RELEASE, "--exe", exe, "--out", out, *args], env=env,
                          capture_output=True, text=True)


def password_file(folder, text):
    path = os.path.join(folder, "password-%s.txt" % hashlib.sha1(text.encode()).hexdigest()[:8])
    with open(path, "w") as f:
        f.write(text + "\n")
    return path


class ReleaseTest(unittest.TestCase):
    exe = workdir = None

    @classmethod
    def setUpClass(cls):
        cls.keys = make_certificates(os.path.join(cls.workdir, "keys"))
        cls.cert = os.path.join(cls.keys, "signer.p12")

    def out(self, name):
        folder = os.path.join(self.workdir, name)
        shutil.rmtree(folder, ignore_errors=True)
        return folder

    def assert_sum_matches(self, out):
        with open(os.path.join(out, NAME), "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        with open(os.path.join(out, NAME + ".sha256")) as f:
            self.assertEqual("%s  %s\n" % (digest, NAME), f.read())

    def test_signed_program_verifies_against_the_ca(self):
        # Password through a file and through the environment alike.
        for how, args, env in (
                ("file", ["--cert", self.cert, "--password-file", password_file(self.keys, PASSWORD)], None),
                ("environment", [], {"ZORVIK_SIGN_CERT": self.cert, "ZORVIK_SIGN_PASSWORD": PASSWORD})):
            with self.subTest(password=how):
                out = self.out("signed-" + how)
                run = release(self.exe, out, *args, env_extra=env)
                self.assertEqual(0, run.returncode, run.stderr)
                self.assertIn("signed by", run.stdout)
                self.assertIn(os.path.join(out, NAME), run.stdout)
                self.assert_sum_matches(out)
                self.assertEqual([NAME, NAME + ".sha256"], sorted(os.listdir(out)))
                verify = subprocess.run(["osslsigncode", "verify", "-CAfile",
                                         os.path.join(self.keys, "ca.pem"),
                                         "-in", os.path.join(out, NAME)],
                                        capture_output=True, text=True)
                print(next((line for line in verify.stdout.splitlines()
                            if "Signature verification" in line), verify.stdout[-300:]))
                self.assertEqual(0, verify.returncode, verify.stdout + verify.stderr)
                self.assertIn("Signature verification: ok", verify.stdout)
                self.assertIn("Message digest algorithm  : SHA256", verify.stdout)
                self.assertRegex(verify.stdout, r"Text description: ZorvikUpdateReport\n")

    def test_signature_of_another_ca_does_not_verify(self):
        # The check above could not fail if any signature verified.
        other = make_certificates(os.path.join(self.workdir, "other-keys"))
        out = self.out("signed-other")
        run = release(self.exe, out, "--cert", self.cert,
                      "--password-file", password_file(self.keys, PASSWORD))
        self.assertEqual(0, run.returncode, run.stderr)
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", os.path.join(other, "ca.pem"),
                                 "-in", os.path.join(out, NAME)], capture_output=True, text=True)
        self.assertNotEqual(0, verify.returncode)

    def test_without_certificate_the_same_program_unsigned(self):
        out = self.out("unsigned")
        run = release(self.exe, out)
        self.assertEqual(0, run.returncode, run.stderr)
        self.assertIn("UNSIGNED", run.stdout)
        with open(self.exe, "rb") as a, open(os.path.join(out, NAME), "rb") as b:
            self.assertEqual(a.read(), b.read())
        self.assert_sum_matches(out)

    def test_failures_stop_with_a_message_and_leave_no_file(self):
        wrong = password_file(self.keys, "wrong password")
        right = password_file(self.keys, PASSWORD)
        missing = os.path.join(self.keys, "missing.p12")
        # (name, arguments, message, whether it stops before touching the output folder)
        cases = (
            ("wrong password", ["--cert", self.cert, "--password-file", wrong], "wrong password", False),
            ("no password", ["--cert", self.cert], "needs its password", True),
            ("missing certificate", ["--cert", missing, "--password-file", right],
             "cannot read the certificate", True),
            ("not PKCS#12", ["--cert", os.path.join(self.keys, "notpkcs12.p12"), "--password-file", right],
             "not a PKCS#12 file", False),
            ("signing fails", ["--exe", os.path.join(self.keys, "ca.pem"), "--cert", self.cert,
                               "--password-file", right], "signing failed", False),
            ("missing program", ["--exe", os.path.join(self.keys, "missing.exe")], "no program", True),
        )
        for name, args, message, stops_early in cases:
            with self.subTest(name):
                out = self.out("failed")
                # A release left over from before must not survive a failed run.
                os.makedirs(out)
                for leftover in (NAME, NAME + ".sha256"):
                    with open(os.path.join(out, leftover), "w") as f:
                        f.write("old")
                run = release(self.exe, out, *args)
                self.assertNotEqual(0, run.returncode)
                self.assertIn(message, run.stderr)
                expected = sorted([NAME, NAME + ".sha256"]) if stops_early else []
                self.assertEqual(expected, sorted(os.listdir(out)))


def sign_for_e2e(exe, workdir):
    keys = make_certificates(os.path.join(workdir, "keys"))
    out = os.path.join(workdir, "out")
    run = release(exe, out, "--cert", os.path.join(keys, "signer.p12"),
                  "--password-file", password_file(keys, PASSWORD))
    if run.returncode != 0:
        sys.exit("signing failed: " + run.stderr)
    return os.path.join(out, NAME)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--e2e", action="store_true")
    parser.add_argument("--holder")
    parser.add_argument("--template")
    args, rest = parser.parse_known_args()
    os.makedirs(args.workdir, exist_ok=True)
    if args.e2e:
        if not (args.holder and args.template):
            parser.error("--e2e needs --holder and --template")
        signed = sign_for_e2e(args.exe, args.workdir)
        return subprocess.run([sys.executable, os.path.join(ROOT, "e2e", "test_reporting_run.py"),
                               "--exe", signed, "--holder", args.holder, "--template", args.template,
                               "--workdir", os.path.join(args.workdir, "run"),
                               "ReportingRun.test_normal_session_file"]).returncode
    ReleaseTest.exe, ReleaseTest.workdir = os.path.abspath(args.exe), os.path.abspath(args.workdir)
    result = unittest.main(argv=[sys.argv[0], *rest], verbosity=2, exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
