"""Just enough of the PE format for the package's tests: headers and the resource tree."""

import struct


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ file")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        coff = self.pe + 4
        self.machine, nsections = struct.unpack_from("<HH", data, coff)
        opt_size = struct.unpack_from("<H", data, coff + 16)[0]
        opt = coff + 20
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        dirs = opt + 96
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, dirs + 2 * 8)
        self.sections = []
        at = opt + opt_size
        for i in range(nsections):
            name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
            vsize, rva, rawsize, rawptr = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, rva, max(vsize, rawsize), rawptr, rawsize))
            at += 40

    def offset(self, rva):
        for name, start, size, rawptr, rawsize in self.sections:
            if start <= rva < start + size:
                return rawptr + (rva - start)
        raise ValueError(f"RVA {rva:#x} is in no section")

    def _directory(self, at):
        base = self.offset(self.resource_rva)
        named, ids = struct.unpack_from("<HH", self.data, base + at + 12)
        entries = []
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
            if name & 0x80000000:
                s = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, s)[0]
                key = self.data[s + 2:s + 2 + 2 * length].decode("utf-16-le")
            else:
                key = name
            entries.append((key, bool(target & 0x80000000), target & 0x7FFFFFFF))
        return entries

    def resources(self):
        """{type: {name: {language: (codepage, bytes)}}}; type and name are str or int."""
        out = {}
        if not self.resource_rva:
            return out
        base = self.offset(self.resource_rva)
        for rtype, _, at1 in self._directory(0):
            for rname, _, at2 in self._directory(at1):
                for lang, is_dir, leaf in self._directory(at2):
                    if is_dir:
                        raise ValueError("resource tree deeper than three levels")
                    rva, size, codepage, _ = struct.unpack_from("<IIII", self.data, base + leaf)
                    start = self.offset(rva)
                    out.setdefault(rtype, {}).setdefault(rname, {})[lang] = (
                        codepage, self.data[start:start + size])
        return out
