#!/usr/bin/env python3
"""Checks the built program's PE headers, imports, sections and resources.

Usage: check_executable.py OBJDUMP EXE VERSION

VERSION is the project's version (CMake's PROJECT_VERSION), which the version
resource must carry.
"""
import os
import re
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_image import PeImage  # noqa: E402

OBJDUMP, EXE, VERSION = sys.argv[1], sys.argv[2], sys.argv[3]

# DLLs that ship with every supported Windows; anything else would have to be
# installed beside the program.
SYSTEM_DLLS = {
    "advapi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll",
    "shell32.dll", "shlwapi.dll", "user32.dll", "wininet.dll",
}

# The shipped program must not grow past this (it is 239.0 KiB as GCC makes it).
SIZE_LIMIT = 245 * 1024

IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
RT_VERSION = 16
RT_MANIFEST = 24


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.headers = subprocess.run([OBJDUMP, "-p", EXE], check=True, capture_output=True,
                                     text=True).stdout
        with open(EXE, "rb") as f:
            cls.image = PeImage(f.read())

    def test_is_a_32_bit_windows_gui_program(self):
        self.assertRegex(self.headers, r"file format pei-i386")
        self.assertRegex(self.headers, r"Magic\s+010b\s+\(PE32\)")
        self.assertRegex(self.headers, r"Subsystem\s+00000002\s+\(Windows GUI\)")
        self.assertEqual(0x14C, self.image.machine)

    def test_size_stays_within_its_limit(self):
        self.assertLessEqual(os.path.getsize(EXE), SIZE_LIMIT)

    def test_imports_only_windows_system_dlls(self):
        imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", self.headers)}
        self.assertIn("kernel32.dll", imports)
        self.assertEqual(set(), imports - SYSTEM_DLLS, "imports beyond the system DLLs")

    def test_aslr_and_dep_are_on(self):
        flags = self.image.dll_characteristics
        self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "no ASLR (--dynamicbase)")
        self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "no DEP (--nxcompat)")

    def test_no_section_is_writable_and_executable(self):
        for name, _, _, _, flags in self.image.sections:
            both = IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_WRITE
            self.assertNotEqual(both, flags & both, "section %s is writable and executable" % name)

    def test_manifest_runs_as_invoker_without_ui_access(self):
        manifests = [data for (kind, name, _), data in self.image.resources().items()
                     if kind == RT_MANIFEST and name == 1]
        self.assertEqual(1, len(manifests), "one manifest with ID 1")
        text = manifests[0].decode("utf-8")
        self.assertRegex(text, r'<requestedExecutionLevel\s+level="asInvoker"\s+uiAccess="false"\s*/>')
        self.assertEqual(4, len(re.findall(r"<supportedOS Id=", text)), "Windows 7, 8, 8.1, 10/11")

    def test_version_resource_carries_the_project_version(self):
        versions = [data for (kind, _, _), data in self.image.resources().items() if kind == RT_VERSION]
        self.assertEqual(1, len(versions))
        resource = versions[0]
        strings = resource.decode("utf-16-le", errors="replace")
        self.assertIn("VS_VERSION_INFO", strings)
        parts = [int(part) for part in VERSION.split(".")]
        parts += [0] * (4 - len(parts))
        dotted = ".".join(map(str, parts))
        # The text values, each key followed by padding and its value.
        for key in ("FileVersion", "ProductVersion"):
            with self.subTest(key):
                found = re.findall(key + r"\0+([^\0]*)\0", strings)
                self.assertEqual([dotted], found)
        # VS_FIXEDFILEINFO: signature, structure version, then the file and
        # product versions as two DWORDs each (major.minor, patch.build).
        fixed = resource.find(struct.pack("<I", 0xFEEF04BD))
        self.assertGreater(fixed, 0, "no VS_FIXEDFILEINFO")
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", resource, fixed + 8)
        packed = (parts[0] << 16 | parts[1], parts[2] << 16 | parts[3])
        self.assertEqual(packed, (file_ms, file_ls), "FILEVERSION")
        self.assertEqual(packed, (product_ms, product_ls), "PRODUCTVERSION")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
