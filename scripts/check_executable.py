#!/usr/bin/env python3
"""Checks the built updater executable: what it imports, its manifest and its payload.

The updater runs elevated on Windows 2000 SP4 to Windows 11. It may import only
from KnownDLLs, only functions that Windows 2000 has, and must carry its payload
byte for byte, and says which payload it holds: the repository's test tables
or the publisher's supplied files. Usage: check_executable.py <exe> <payload-folder>
"""
import re
import struct
import sys
from pathlib import Path

ALLOWED_DLLS = {"KERNEL32.dll", "ADVAPI32.dll", "USER32.dll", "msvcrt.dll"}
# What every run calls: its exit, the instance mutex, the registry and the boxes.
REQUIRED_IMPORTS = {
    "KERNEL32.dll": {"ExitProcess", "CreateMutexA", "GetCommandLineW"},
    "ADVAPI32.dll": {"RegOpenKeyExA"},
    "USER32.dll": {"MessageBoxA"},
}

# Everything imported must exist on Windows 2000; this list only grows after checking that.
WINDOWS_2000_FUNCTIONS = {
    "KERNEL32.dll": {
        "CloseHandle", "CopyFileExA", "CreateFileA", "CreateFileW", "CreateMutexA", "DeleteCriticalSection",
        "DeleteFileA", "EnterCriticalSection", "ExitProcess", "ExpandEnvironmentStringsW", "FindResourceW",
        "FlushFileBuffers", "FormatMessageW", "FreeLibrary",
        "GetACP", "GetCommandLineA", "GetCommandLineW", "GetCurrentProcess", "GetCurrentProcessId",
        "GetCurrentThreadId", "GetFileAttributesA", "GetFileInformationByHandle", "GetLastError",
        "GetLocalTime", "GetModuleFileNameA",
        "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress", "GetStartupInfoA",
        "GetStartupInfoW", "GetSystemDirectoryA", "GetSystemTimeAsFileTime", "GetTempPathW", "GetTickCount",
        "GetUserDefaultLangID", "GetVersionExW", "GetVolumeInformationA", "InitializeCriticalSection", "IsDBCSLeadByte", "IsValidCodePage",
        "LeaveCriticalSection", "LoadLibraryA", "LoadResource", "LocalAlloc", "LocalFree",
        "LockResource", "MoveFileExA", "MultiByteToWideChar", "OpenProcess", "QueryPerformanceCounter", "ReadFile",
        "SetEndOfFile", "SetFileAttributesA", "SetFileTime",
        "SetLastError", "SetUnhandledExceptionFilter", "SizeofResource", "Sleep", "TlsGetValue",
        "UnhandledExceptionFilter", "VirtualProtect", "VirtualQuery", "WideCharToMultiByte", "WriteFile",
    },
    "ADVAPI32.dll": {
        "AdjustTokenPrivileges", "AllocateAndInitializeSid", "CloseServiceHandle", "ControlService",
        "EqualSid", "FreeSid", "GetTokenInformation", "LookupPrivilegeValueW", "OpenProcessToken",
        "OpenSCManagerW", "OpenServiceA", "QueryServiceStatus", "RegCloseKey", "RegCreateKeyExA",
        "RegDeleteKeyA", "RegDeleteValueA", "RegFlushKey", "RegOpenKeyExA", "RegQueryInfoKeyA", "RegQueryValueExA", "RegSetValueExA", "StartServiceW",
    },
    "USER32.dll": {
        "CharUpperW", "ExitWindowsEx", "GetProcessWindowStation", "GetUserObjectInformationW", "MessageBoxA",
        "MessageBoxW", "wsprintfA", "wvsprintfA",
    },
    "msvcrt.dll": {
        "__getmainargs", "__wgetmainargs", "__initenv", "__winitenv", "__p__commode", "__p__fmode",
        "__p__wcmdln", "__p__acmdln", "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit",
        "_initterm", "_iob", "_onexit", "abort", "atexit", "calloc", "exit", "fprintf", "free",
        "fwrite", "malloc", "memcmp", "memcpy", "memmove", "memset", "realloc", "signal", "strlen",
        "strncmp", "vfprintf", "_errno", "_lock", "_unlock",
    },
}

PAYLOAD_IDS_HEADER = Path(__file__).resolve().parent.parent / "payload" / "payload_ids.h"
PAYLOAD_COUNT = 8


def read_payload_ids(header):
    """The payload resources as {id: path in the payload folder}, from the #defines of payload_ids.h."""
    text = header.read_text()
    ids = {name: int(value) for name, value in re.findall(r"^#define PAYLOAD_ID_(\w+) (\d+)\s*$", text, re.M)}
    files = dict(re.findall(r'^#define PAYLOAD_FILE_(\w+) "([^"]+)"\s*$', text, re.M))
    if len(ids) != PAYLOAD_COUNT or set(ids) != set(files) or len(set(ids.values())) != PAYLOAD_COUNT:
        raise ValueError("%s: expected %d payload resources, each with an id and a file, found ids %s and files %s"
                         % (header, PAYLOAD_COUNT, sorted(ids), sorted(files)))
    return {ids[name]: files[name] for name in ids}


PAYLOAD = read_payload_ids(PAYLOAD_IDS_HEADER)
RT_RCDATA = 10
RT_VERSION = 16
RT_MANIFEST = 24
LANG_JAPANESE = 0x0411
SIZE_LIMIT = 64 * 1024


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directories = optional + 96
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rsize), raddr))

    def offset(self, rva):
        for _, vaddr, size, raddr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError("address %#x outside every section" % rva)

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode()

    def imports(self):
        rva, _ = self.directories[1]
        found = {}
        entry = self.offset(rva)
        while True:
            lookup, _, _, name, thunk = struct.unpack_from("<IIIII", self.data, entry)
            if name == 0:
                return found
            names = found.setdefault(self.text(name), [])
            cursor = self.offset(lookup or thunk)
            while True:
                item = struct.unpack_from("<I", self.data, cursor)[0]
                if item == 0:
                    break
                names.append("#%d" % (item & 0xFFFF) if item & 0x80000000 else self.text(item + 2))
                cursor += 4
            entry += 20

    def resources(self):
        """Yields (type, id, language, bytes) for every resource with numeric names."""
        rva, _ = self.directories[2]
        if rva == 0:
            return
        base = self.offset(rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield ident, target

        for type_id, type_dir in entries(0):
            for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
                for lang_id, leaf in entries(name_dir & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    yield type_id, name_id, lang_id, self.data[start:start + size]


def check(exe_path, payload_folder):
    data = Path(exe_path).read_bytes()
    image = PeImage(data)
    problems = []
    if image.machine != 0x14C or image.magic != 0x10B:
        problems.append("not a 32-bit x86 image")
    if image.subsystem != 2:
        problems.append("not a GUI executable (subsystem %d)" % image.subsystem)
    if not image.dll_characteristics & 0x0040:
        problems.append("ASLR (dynamic base) not enabled")
    if not image.dll_characteristics & 0x0100:
        problems.append("DEP (NX compatible) not enabled")
    if image.characteristics & 0x0001:
        problems.append("relocations stripped: ASLR cannot move the image")
    # A signature grows with the signer's chain; the limit is on the program.
    unsigned = len(data) - image.directories[4][1]
    if unsigned >= SIZE_LIMIT:
        problems.append("executable is %d bytes without its signature, limit %d" % (unsigned, SIZE_LIMIT))

    # An image that links no code of the program still has a manifest and resources.
    for dll, names in sorted(REQUIRED_IMPORTS.items()):
        for name in sorted(names - set(image.imports().get(dll, []))):
            problems.append("does not import %s!%s: the program's code is missing" % (dll, name))
    for dll, names in sorted(image.imports().items()):
        if dll not in ALLOWED_DLLS:
            problems.append("imports from %s (%s)" % (dll, ", ".join(names)))
            continue
        allowed = WINDOWS_2000_FUNCTIONS[dll]
        for name in names:
            if name not in allowed:
                problems.append("imports %s!%s, not known to exist on Windows 2000" % (dll, name))

    resources = list(image.resources())
    manifests = [blob for kind, _, _, blob in resources if kind == RT_MANIFEST]
    if len(manifests) != 1:
        problems.append("expected one manifest, found %d" % len(manifests))
    else:
        manifest = manifests[0].decode("utf-8", "replace")
        if 'level="requireAdministrator"' not in manifest or 'uiAccess="false"' not in manifest:
            problems.append("manifest does not request requireAdministrator without uiAccess")
        if "urn:schemas-microsoft-com:asm.v3" not in manifest:
            problems.append("manifest trustInfo not in the asm.v3 namespace")

    rcdata = {(name, lang): blob for kind, name, lang, blob in resources if kind == RT_RCDATA}
    for ident, relative in sorted(PAYLOAD.items()):
        expected = (Path(payload_folder) / relative).read_bytes()
        if (ident, LANG_JAPANESE) not in rcdata:
            problems.append("RCDATA %d missing under language 0x0411" % ident)
        elif rcdata[(ident, LANG_JAPANESE)] != expected:
            problems.append("RCDATA %d differs from %s" % (ident, relative))
    extra = sorted(set(name for name, _ in rcdata) - set(PAYLOAD))
    if extra:
        problems.append("unexpected RCDATA ids %s" % extra)
    if len(rcdata) != len(PAYLOAD):
        problems.append("payload stored %d times, expected once per id" % len(rcdata))
    versions = [blob for kind, _, _, blob in resources if kind == RT_VERSION]
    return problems, len(data), image.imports(), payload_mark(versions[0] if versions else b"")


def payload_mark(version_resource):
    """The version resource's SpecialBuild text: a test payload says so there; the supplied files have none."""
    # A String entry is its header, the key with its terminator, padding, then the value.
    text = version_resource.decode("utf-16-le", "replace")
    key = text.find("SpecialBuild\0")
    if key < 0:
        return None
    return text[key + len("SpecialBuild\0"):].lstrip("\0").split("\0")[0]


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    problems, size, imports, mark = check(sys.argv[1], sys.argv[2])
    for problem in problems:
        print("executable check: " + problem)
    if problems:
        return 1
    count = sum(len(names) for names in imports.values())
    print("executable ok: %d bytes, %d imports from %s, manifest and %d payload resources in place"
          % (size, count, ", ".join(sorted(imports)), len(PAYLOAD)))
    if mark is None:
        print("payload: the publisher's supplied files (no test mark in the version resource)")
    else:
        print('payload: TEST TABLES, marked "%s" in the version resource' % mark)
    return 0


if __name__ == "__main__":
    sys.exit(main())
