#!/usr/bin/python3
"""Checks the built VelkraInstall.exe: machine, GUI subsystem, ASLR/DEP, resources, imported DLLs and,
for the 32-bit exe, that it imports nothing Windows 2000 lacks; with --release also that its symbols
are stripped into the file its debug link names."""

import os
import struct
import sys
import zlib
import xml.etree.ElementTree as ET

import pefile

MACHINES = {"i686": (0x14C, 0x10B), "x86_64": (0x8664, 0x20B)}  # (FILE_HEADER machine, PE32 / PE32+ magic)
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll",
               "shell32.dll", "comctl32.dll", "ntdll.dll"}
WANTED_NAMES = {"InternalName": "VelkraInstall", "OriginalFilename": "VelkraInstall.exe"}
WANTED_ICONS = [(32, 32, 2, 1), (32, 32, 16, 4), (16, 16, 16, 4)]  # width, height, colours, bits per pixel
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V2, ASM_V3 = "{urn:schemas-microsoft-com:asm.v2}", "{urn:schemas-microsoft-com:asm.v3}"
WS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
WINDOWS_2000_IMPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows-2000-imports.txt")

results = []


def check(passed, what, detail=""):
    results.append(passed)
    print(("ok: " if passed else "FAIL: ") + what + (f" ({detail})" if detail else ""))


def resource(pe, type_id, res_id):
    """The bytes of a resource (any language), or None; Windows falls back across languages too."""
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return None
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.id != type_id:
            continue
        for entry in rtype.directory.entries:
            if entry.id == res_id and entry.directory.entries:
                data = entry.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def check_headers(pe, arch):
    machine, magic = MACHINES[arch]
    check(pe.FILE_HEADER.Machine == machine, f"machine is 0x{machine:x} for {arch}",
          f"found 0x{pe.FILE_HEADER.Machine:x}")
    check(pe.OPTIONAL_HEADER.Magic == magic, f"optional header magic 0x{magic:x}",
          f"found 0x{pe.OPTIONAL_HEADER.Magic:x}")
    check(pe.OPTIONAL_HEADER.Subsystem == 2, "subsystem is WINDOWS_GUI",
          f"found {pe.OPTIONAL_HEADER.Subsystem}")
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    check(flags & 0x40 != 0, "DllCharacteristics has DYNAMIC_BASE", f"0x{flags:04x}")
    check(flags & 0x100 != 0, "DllCharacteristics has NX_COMPAT", f"0x{flags:04x}")
    # Without base relocations the loader cannot move the image, whatever DYNAMIC_BASE says.
    reloc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    stripped = pe.FILE_HEADER.Characteristics & 0x1
    check(reloc.VirtualAddress != 0 and reloc.Size != 0 and not stripped, "base relocations present",
          f"size {reloc.Size}, RELOCS_STRIPPED {bool(stripped)}")


def check_version(pe, version):
    """version: the project version, "major.minor.patch.tweak"; the texts show "major.minor" with
    two digits of minor."""
    numbers = tuple(int(part) for part in version.split("."))
    text = f"{numbers[0]}.{numbers[1]:02d}"
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    for name in ("FileVersion", "ProductVersion"):
        if fixed is None:
            check(False, f"fixed {name} is {version}", "no version resource")
            continue
        ms, ls = getattr(fixed, name + "MS"), getattr(fixed, name + "LS")
        found = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        check(found == numbers, f"fixed {name} is {version}", "found " + ".".join(map(str, found)))
    table = None
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for st in getattr(block, "StringTable", []):
                if st.LangID.decode("ascii", "replace").upper() == "040904B0":
                    table = {k.decode("utf-8", "replace"): v.decode("utf-8", "replace")
                             for k, v in st.entries.items()}
    wanted = dict(WANTED_NAMES, FileVersion=text, ProductVersion=text)
    for key, want in wanted.items():
        found = None if table is None else table.get(key)
        check(found == want, f'StringFileInfo 040904B0 {key} is "{want}"',
              "no 040904B0 table" if table is None else f"found {found!r}")


def check_icons(pe):
    group = resource(pe, RT_GROUP_ICON, 1)
    if group is None or len(group) < 6:
        check(False, "icon group 1 present")
        return
    count = struct.unpack_from("<H", group, 4)[0]
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    listed = sorted((w, h, colours, bits) for w, h, colours, _, _, bits, _, _ in entries)
    check(listed == sorted(WANTED_ICONS), "icon group 1 holds 32x32x2, 32x32x16, 16x16x16", f"found {listed}")
    for w, h, colours, _, _, bits, size, icon_id in entries:
        image = resource(pe, RT_ICON, icon_id)
        what = f"icon {icon_id} ({w}x{h}, {colours} colours) is a {w}x{h*2} DIB of {bits} bpp"
        if image is None or len(image) < 40:
            check(False, what, "missing or too short")
            continue
        hsize, bw, bh, planes, bbits = struct.unpack_from("<IiiHH", image, 0)
        # An icon DIB's height covers the colour bitmap and the AND mask together.
        check(hsize == 40 and (bw, bh, bbits) == (w, 2 * h, bits) and len(image) == size, what,
              f"header size {hsize}, {bw}x{bh}, {bbits} bpp, {len(image)} of {size} bytes")


def check_manifest(pe):
    data = resource(pe, RT_MANIFEST, 1)
    if data is None:
        check(False, "manifest resource 1 present")
        return
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        check(False, "manifest parses as XML", str(e))
        return
    check(True, "manifest resource 1 parses as XML")
    levels = [e.get("level") for e in root.iter() if e.tag in
              (ASM_V2 + "requestedExecutionLevel", ASM_V3 + "requestedExecutionLevel")]
    check(levels == ["requireAdministrator"], "manifest requests requireAdministrator", f"found {levels}")
    # Windows takes the first value it knows from the list, and only in the 2016 namespace.
    dpi = [e.text or "" for e in root.iter(WS_2016 + "dpiAwareness")]
    first = [d.split(",")[0].strip().lower() for d in dpi]
    check(first == ["permonitorv2"], "manifest declares PerMonitorV2 dpiAwareness", f"found {dpi}")
    path = f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/{ASM_V1}assemblyIdentity"
    deps = [(a.get("name"), a.get("version"), (a.get("publicKeyToken") or "").lower())
            for a in root.findall(path)]
    want = ("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df")
    check(want in deps, "manifest depends on Common-Controls 6.0.0.0", f"found {deps}")


def allowed_dll(name):
    name = name.lower()
    return name in SYSTEM_DLLS or name.startswith("api-ms-win-")


def check_imports(pe):
    direct = getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    delayed = getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    dlls = [e.dll.decode("ascii", "replace") for e in direct]
    late = [e.dll.decode("ascii", "replace") for e in delayed]
    print("imported DLLs: " + (", ".join(dlls) or "none"))
    if late:
        print("delay-loaded DLLs: " + ", ".join(late))
    check(bool(dlls), "import table present")
    bad = [d for d in dlls if not allowed_dll(d)]
    check(not bad, "imports only Windows' own DLLs", "not allowed: " + ", ".join(bad) if bad else "")
    bad = [d for d in late if not allowed_dll(d)]
    check(not bad, "delay-loads only Windows' own DLLs", "not allowed: " + ", ".join(bad) if bad else "")
    check(all(name != "IsWow64Process" for _, name in imports(pe)), "does not import IsWow64Process")


def imports(pe):
    """(DLL, function) for each function the exe imports, delay-loaded ones too."""
    return [(e.dll.decode("ascii", "replace").lower(),
             i.name.decode("ascii", "replace") if i.name else f"ordinal {i.ordinal}")
            for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
            for i in e.imports]


def windows_2000_imports():
    """{dll: function names} that the 32-bit exe may import: those Windows 2000 SP4 exports."""
    allowed, dll = {}, None
    with open(WINDOWS_2000_IMPORTS, encoding="ascii") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line.startswith("[") and line.endswith("]"):
                dll = allowed.setdefault(line[1:-1].lower(), set())
            elif line:
                dll.update(line.split())
    return allowed


def check_windows_2000(pe):
    """Windows 2000's loader refuses an exe whose header asks for a later Windows ("not a valid Win32
    application") or that imports a function its DLLs lack; a delay-loaded one fails at its first call."""
    header = pe.OPTIONAL_HEADER
    for what, version in (("subsystem", (header.MajorSubsystemVersion, header.MinorSubsystemVersion)),
                          ("operating system",
                           (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion))):
        check(version <= (5, 0), f"the header's {what} version is that of Windows 2000 or older",
              "found %d.%d" % version)
    allowed = windows_2000_imports()
    unknown = [f"{dll}!{name}" for dll, name in imports(pe) if name not in allowed.get(dll, ())]
    check(not unknown, "imports only functions that Windows 2000 SP4 exports",
          "not known there: " + ", ".join(unknown) + f" (see {os.path.basename(WINDOWS_2000_IMPORTS)})"
          if unknown else "")


def section_names(pe):
    """The sections' names. An image keeps a name longer than eight characters in the COFF string
    table, which follows the symbol table, and names the section "/offset" into it."""
    header = pe.FILE_HEADER
    strings = header.PointerToSymbolTable + 18 * header.NumberOfSymbols
    names = []
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode("ascii", "replace")
        if name[:1] == "/" and name[1:].isdigit() and header.PointerToSymbolTable:
            start = strings + int(name[1:])
            name = pe.__data__[start:pe.__data__.find(b"\0", start)].decode("ascii", "replace")
        names.append(name)
    return names


def check_release(pe, path):
    symbols = pe.FILE_HEADER.NumberOfSymbols
    check(symbols == 0, "no symbol table", f"{symbols} symbols")
    names = section_names(pe)
    debug = [name for name in names if name.startswith((".debug", ".zdebug", ".stab"))]
    check(not debug, "no debug sections", ", ".join(debug))
    if ".gnu_debuglink" not in names:
        check(False, "a debug link to VelkraInstall.exe.debug")
        return
    section = pe.sections[names.index(".gnu_debuglink")]
    # The symbol file's name, NUL, padding to four bytes, then the CRC-32 of the whole file.
    data = section.get_data()[:section.Misc_VirtualSize]
    name = data[:data.find(b"\0")].decode("ascii", "replace")
    crc = struct.unpack_from("<I", data, len(data) - 4)[0]
    check(name == "VelkraInstall.exe.debug", "a debug link to VelkraInstall.exe.debug", f"found {name!r}")
    symbol_file = os.path.join(os.path.dirname(path), name)
    found = None
    if os.path.isfile(symbol_file):
        with open(symbol_file, "rb") as f:
            found = zlib.crc32(f.read())
    check(found == crc, "the debug link's CRC matches the symbol file beside the exe",
          "no such file" if found is None else f"link 0x{crc:08x}, file 0x{found:08x}")


def main():
    release = sys.argv[4:] == ["--release"]
    if len(sys.argv) != 4 + release or sys.argv[2] not in MACHINES:
        print(f"usage: {sys.argv[0]} <path-to-exe> <{'|'.join(MACHINES)}> <version a.b.c.d> [--release]")
        return 2
    try:
        pe = pefile.PE(sys.argv[1])
    except (OSError, pefile.PEFormatError) as e:
        check(False, "file is a PE image", str(e))
    else:
        check_headers(pe, sys.argv[2])
        check_version(pe, sys.argv[3])
        check_icons(pe)
        check_manifest(pe)
        check_imports(pe)
        if sys.argv[2] == "i686":
            check_windows_2000(pe)
        if release:
            check_release(pe, sys.argv[1])
    failed = results.count(False)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
