#!/usr/bin/env python3
"""Checks the built program's PE headers, imports, sections and resources.

Usage: check_executable.py OBJDUMP EXE VERSION

VERSION is the project's version (CMake's PROJECT_VERSION), which the version
resource must carry.
"""
import re
import struct
import subprocess
import sys
import unittest

OBJDUMP, EXE, VERSION = sys.argv[1], sys.argv[2], sys.argv[3]

# DLLs that ship with every supported Windows; anything else would have to be
# installed beside the program.
SYSTEM_DLLS = {
    "advapi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll",
    "shell32.dll", "shlwapi.dll", "user32.dll", "wininet.dll",
}

IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
RT_VERSION = 16
RT_MANIFEST = 24


class PeImage:
    """Just enough of the PE format to reach sections and resources."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "no PE signature"
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directories = optional + 96
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            flags = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
            self.sections.append((name.rstrip(b"\0").decode(), rva, max(vsize, raw_size), raw_ptr, flags))

    def offset(self, rva):
        for _, start, size, raw_ptr, _ in self.sections:
            if start <= rva < start + size:
                return raw_ptr + rva - start
        raise ValueError("RVA %#x is in no section" % rva)

    def resources(self):
        """(type, name, language) -> bytes for every resource."""
        found = {}
        base = self.offset(self.resource_rva)

        def walk(directory, path):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, path + (ident,))
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(rva)
                    found[path + (ident,)] = self.data[start:start + size]

        walk(0, ())
        return found


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
