#!/usr/bin/python3
"""What a reviewer checks in a shipped Windows binary, read with pefile.

    tools/check-binaries.py --arch x86|x64 FILE...

One line a binary: "ok" or "FAIL" with each missing property. Exits 1 when any binary fails.
"""
import argparse
import re
import sys

import pefile

# The Windows KnownDLLs, and ntdll, which every process has mapped: the loader takes them from
# the system folder only. Any other library imported statically is looked for along the search
# path, which for a DLL in a host program starts at the host's folder (a downloads folder, a
# writable application folder), where a planted copy would be loaded in its place. Such a
# library is bound at run time from the system folder instead (support/LazyLibrary.h).
SYSTEM_LIBRARIES = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "gdi32.dll", "gdiplus.dll",
    "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll",
    "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll",
    "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
}

MACHINES = {"x86": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
            "x64": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]}
DYNAMIC_BASE = 0x0040
HIGH_ENTROPY_VA = 0x0020
NX_COMPAT = 0x0100
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
RT_MANIFEST = 24


def section_name(pe, section):
    """The section's name; a long one ("/4") is read from the COFF string table."""
    name = section.Name.rstrip(b"\0").decode("latin-1")
    match = re.fullmatch(r"/(\d+)", name)
    if match and pe.FILE_HEADER.PointerToSymbolTable:
        table = pe.FILE_HEADER.PointerToSymbolTable + 18 * pe.FILE_HEADER.NumberOfSymbols
        start = table + int(match.group(1))
        end = pe.__data__.find(b"\0", start)
        name = pe.__data__[start:end].decode("latin-1")
    return name


def manifests(pe):
    """(resource id, text) of each RT_MANIFEST resource."""
    found = []
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in resources.entries if resources else []:
        if kind.id != RT_MANIFEST:
            continue
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                found.append((name.id, data.decode("utf-8", "replace")))
    return found


def problems(path, arch):
    """What the binary at `path` lacks, as short texts; empty when it passes."""
    pe = pefile.PE(path)
    missing = []
    header = pe.OPTIONAL_HEADER
    flags = header.DllCharacteristics
    program = not pe.is_dll()
    if pe.FILE_HEADER.Machine != MACHINES[arch]:
        missing.append("not an %s binary" % arch)
    relocations = header.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if not flags & DYNAMIC_BASE or relocations.Size == 0:
        missing.append("ASLR (dynamic base with relocations)")
    if not flags & NX_COMPAT:
        missing.append("DEP (NX compatible)")
    if arch == "x64" and not flags & HIGH_ENTROPY_VA:
        missing.append("high-entropy ASLR")
    if header.FileAlignment != header.SectionAlignment:
        missing.append("sections aligned in the file as in memory")
    names = [section_name(pe, section) for section in pe.sections]
    for name, section in zip(names, pe.sections):
        if section.Characteristics & SCN_MEM_WRITE and section.Characteristics & SCN_MEM_EXECUTE:
            missing.append("no writable and executable section (%s)" % name)
    debug = [name for name in names if name.startswith((".debug", ".zdebug", ".stab"))]
    if debug or pe.FILE_HEADER.NumberOfSymbols:
        missing.append("no debug information (%s)" % (" ".join(debug) or "a symbol table"))

    wanted = 1 if program else 2  # a program's manifest is read at its start, a library's at its load
    texts = [text for number, text in manifests(pe) if number == wanted]
    if not texts:
        missing.append("a manifest (resource %d)" % wanted)
    elif not re.search(r"<requestedExecutionLevel\b[^>]*\blevel=\"asInvoker\"", texts[0]):
        missing.append("a manifest with asInvoker")

    imported = [entry.dll.decode("latin-1").lower()
                for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    foreign = sorted(set(name for name in imported if name not in SYSTEM_LIBRARIES))
    if foreign:
        missing.append("imports from system libraries only (%s)" % " ".join(foreign))
    return missing


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", choices=sorted(MACHINES), required=True)
    parser.add_argument("files", nargs="+")
    options = parser.parse_args()
    failed = 0
    for path in options.files:
        try:
            missing = problems(path, options.arch)
        except (OSError, pefile.PEFormatError) as error:
            missing = ["a readable PE file (%s)" % error]
        if missing:
            failed += 1
            print("FAIL %s: %s" % (path, "; ".join(missing)))
        else:
            print("ok   %s" % path)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
