"""Just enough of the PE format to reach a program's headers, sections and
resources: shared by the executable checks and the reproducibility test."""
import struct


class PeImage:
    """Just enough of the PE format to reach sections and resources."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "no PE signature"
        self.machine, sections, self.timestamp, _, _, optional_size, _ = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directories = optional + 96
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = self.headers_end = optional + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            flags = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
            self.sections.append((name.rstrip(b"\0").decode(), rva, max(vsize, raw_size), raw_ptr, flags))

    def section_at(self, offset):
        """The name of the section whose file bytes hold an offset, or a word
        for the headers or for bytes outside every section."""
        if offset < self.headers_end + 40 * len(self.sections):
            return "the headers"
        for name, _, size, raw_ptr, _ in self.sections:
            if raw_ptr <= offset < raw_ptr + size:
                return "section " + name
        return "no section"

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
