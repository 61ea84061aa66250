"""A small model of Windows behind the calls our programs import: the registry, files with their
mappings and views, message boxes, the version and the process's end.

Each call's arguments are checked against what the program is documented to pass; anything else
stops the run with the call printed. The model keeps the state a test judges afterwards: the
boxes shown, the exit code and the files' bytes.
"""
from pe_machine import Fault

HKEY_LOCAL_MACHINE = 0x80000002
KEY_ALL_ACCESS = 0xF003F
GENERIC_READ_WRITE = 0xC0000000
OPEN_EXISTING = 3
FILE_ATTRIBUTE_NORMAL = 0x80
PAGE_READWRITE = 4
FILE_MAP_WRITE = 2
INVALID_HANDLE_VALUE = 0xFFFFFFFF
MAX_PATH = 260
IDOK = 1

ERROR_FILE_NOT_FOUND = 2
ERROR_ACCESS_DENIED = 5
ERROR_SHARING_VIOLATION = 32
ERROR_FILENAME_EXCED_RANGE = 206
ERROR_MORE_DATA = 234
ERROR_FILE_INVALID = 1006

INSTALL_KEY = b"Software\\Halcyra\\Rally\\1.00"
CAPTION = b"Patch Velmora Rally for Windows 2000 - Version 1.1"
BOX_STYLES = {0x10, 0x30, 0x40, 0x41}

WINDOWS_2000 = {"platform": 2, "major": 5, "minor": 0, "build": 2195}
WINDOWS_98 = {"platform": 1, "major": 4, "minor": 10, "build": 0x040A07CE}


def fold(path):
    """A Windows path as the file system compares it: any case, runs of separators as one."""
    folded = path.lower().replace(b"/", b"\\")
    while b"\\\\" in folded:
        folded = folded.replace(b"\\\\", b"\\")
    return folded


def require(condition, what):
    if not condition:
        raise Fault(what)


class GameFile:
    def __init__(self, data, held=False, read_only=False):
        self.data = bytearray(data)
        self.held = held            # open elsewhere with share mode 0, as the running game holds it
        self.read_only = read_only


class Windows:
    """The system one run sees. registry: {key: {value name: data}}, under HKEY_LOCAL_MACHINE;
    files: {path: GameFile}; answers: what the user presses in boxes that have a Cancel button."""

    def __init__(self, registry=None, files=None, answers=(), version=WINDOWS_2000):
        self.registry = {fold(k): {n.lower(): v for n, v in values.items()} for k, values in (registry or {}).items()}
        self.files = {fold(p): f for p, f in (files or {}).items()}
        self.answers = list(answers)
        self.version = version
        self.boxes = []
        self.last_error = 0
        self.handles = {}   # handle -> ("key", values) | ("file", GameFile) | ("mapping", file handle)
        self.views = {}     # address -> (mapping handle, length)
        self.next_handle = 0x44

    def _new_handle(self, what):
        handle = self.next_handle
        self.next_handle += 4
        self.handles[handle] = what
        return handle

    def _handle(self, handle, kind):
        what = self.handles.get(handle)
        require(what is not None and what[0] == kind, f"{handle:#x} is not an open {kind}")
        return what

    def _fail(self, error, result):
        self.last_error = error
        return result

    # advapi32
    def RegOpenKeyExA(self, m, key, subkey, options, access, result):
        require(key == HKEY_LOCAL_MACHINE, "the key is not HKEY_LOCAL_MACHINE")
        require(m.read_string(subkey) == INSTALL_KEY, f"subkey {m.read_string(subkey)!r}")
        require(options == 0 and access == KEY_ALL_ACCESS, "not options 0 and KEY_ALL_ACCESS")
        require(m.writable(result, 4), "no place for the key")
        values = self.registry.get(fold(INSTALL_KEY))
        if values is None:
            return ERROR_FILE_NOT_FOUND
        m.write(result, (self._new_handle(("key", values))).to_bytes(4, "little"))
        return 0

    def RegQueryValueExA(self, m, key, name, reserved, kind, data, size):
        values = self._handle(key, "key")[1]
        require(m.read_string(name) == b"HDPath", f"value {m.read_string(name)!r}")
        require(reserved == 0 and kind == 0, "reserved or type asked for")
        require(int.from_bytes(m.read(size, 4), "little") == 255, "the size is not 255")
        require(m.writable(data, 256) and m.read(data, 256) == bytes(256), "not a zeroed 256-byte buffer")
        stored = values.get(b"hdpath")
        if stored is None:
            return ERROR_FILE_NOT_FOUND
        if len(stored) > 255:
            m.write(size, len(stored).to_bytes(4, "little"))
            return ERROR_MORE_DATA
        m.write(data, stored)
        m.write(size, len(stored).to_bytes(4, "little"))
        return 0

    def RegCloseKey(self, m, key):
        self._handle(key, "key")
        del self.handles[key]
        return 0

    # kernel32
    def CreateFileA(self, m, name, access, share, security, disposition, flags, template):
        require((access, share, security, disposition, flags, template) ==
                (GENERIC_READ_WRITE, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0),
                "not read-write, share mode 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL")
        path = m.read_string(name)
        if len(path) >= MAX_PATH:
            return self._fail(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE)
        file = self.files.get(fold(path))
        if file is None:
            return self._fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE)
        if file.held or any(w[0] == "file" and w[1] is file for w in self.handles.values()):
            return self._fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE)
        if file.read_only:
            return self._fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE)
        return self._new_handle(("file", file))

    def GetFileSize(self, m, handle, high):
        require(high == 0, "the high part asked for")
        return len(self._handle(handle, "file")[1].data)

    def GetLastError(self, m):
        return self.last_error

    def CreateFileMappingA(self, m, handle, security, protect, high, low, name):
        file = self._handle(handle, "file")[1]
        require((security, protect, high, low, name) == (0, PAGE_READWRITE, 0, 0, 0),
                "not PAGE_READWRITE over the whole file, unnamed")
        if not file.data:
            return self._fail(ERROR_FILE_INVALID, 0)
        return self._new_handle(("mapping", handle))

    def MapViewOfFile(self, m, mapping, access, high, low, length):
        file_handle = self._handle(mapping, "mapping")[1]
        require((access, high, low, length) == (FILE_MAP_WRITE, 0, 0, 0), "not FILE_MAP_WRITE of the whole file")
        data = self.handles[file_handle][1].data
        address = m.map_view(data)
        self.views[address] = (mapping, len(data))
        return address

    def UnmapViewOfFile(self, m, address):
        require(address in self.views, f"{address:#x} is not a view")
        mapping, length = self.views.pop(address)
        file = self.handles[self.handles[mapping][1]][1]
        file.data[:] = m.unmap_view(address, length)  # the view's writes reach the file
        return 1

    def CloseHandle(self, m, handle):
        what = self.handles.get(handle)
        require(what is not None and what[0] in ("file", "mapping"), f"{handle:#x} is not an open handle")
        if what[0] == "mapping":
            require(all(v[0] != handle for v in self.views.values()), "the mapping closed before its view")
        else:
            require(all(w != ("mapping", handle) for w in self.handles.values()), "the file closed before its mapping")
        del self.handles[handle]
        return 1

    def ExitProcess(self, m, code):
        require(not self.handles and not self.views, f"still open at the end: {self.handles} {self.views}")
        m.exit_code = code
        return 0

    def GetVersionExA(self, m, info):
        require(int.from_bytes(m.read(info, 4), "little") == 148, "dwOSVersionInfoSize is not 148")
        v = self.version
        fields = [148, v["major"], v["minor"], v["build"], v["platform"]]
        m.write(info, b"".join(f.to_bytes(4, "little") for f in fields) + bytes(128))
        return 1

    # user32
    def MessageBoxA(self, m, owner, text, caption, style):
        require(owner == 0, "an owner window")
        require(m.read_string(caption) == CAPTION, f"caption {m.read_string(caption)!r}")
        require(style in BOX_STYLES, f"style {style:#x}")
        self.boxes.append((m.read_string(text), style))
        if style & 0xF == 0:
            return IDOK
        require(self.answers, "a box that nobody answers")
        return self.answers.pop(0)

    def imports(self, *names):
        """The allowed list for Machine.load: {(DLL, name): (argument count, handler)}."""
        table = {"RegOpenKeyExA": ("ADVAPI32", 5), "RegQueryValueExA": ("ADVAPI32", 6),
                 "RegCloseKey": ("ADVAPI32", 1), "CreateFileA": ("KERNEL32", 7), "GetFileSize": ("KERNEL32", 2),
                 "GetLastError": ("KERNEL32", 0), "CreateFileMappingA": ("KERNEL32", 6),
                 "MapViewOfFile": ("KERNEL32", 5), "UnmapViewOfFile": ("KERNEL32", 1),
                 "CloseHandle": ("KERNEL32", 1), "ExitProcess": ("KERNEL32", 1),
                 "GetVersionExA": ("KERNEL32", 1), "MessageBoxA": ("USER32", 4)}
        return {(table[n][0], n): (table[n][1], getattr(Windows, n).__get__(self)) for n in names}


class VgaDac:
    """The VGA DAC behind ports 0x3C7 (read index) and 0x3C9 (data), as a program reaches it where
    the system allows port I/O: each read gives the next colour component of a grey ramp."""

    def __init__(self):
        self.component = 0

    def out(self, port, size, value):
        if port == 0x3C7:
            self.component = 3 * (value & 0xFF)

    def in_(self, port, size):
        if port != 0x3C9:
            return 0xFF
        entry, self.component = self.component // 3, (self.component + 1) % 768
        return entry >> 2  # six bits a component


RELEASE_IMPORTS = ("RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey", "CreateFileA", "GetFileSize",
                   "GetLastError", "CreateFileMappingA", "MapViewOfFile", "UnmapViewOfFile", "CloseHandle",
                   "ExitProcess", "MessageBoxA")
