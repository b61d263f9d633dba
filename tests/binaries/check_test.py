"""The binary check over this build's shipped binaries, the list library in every language among
them, and over copies of one with a property taken away, which it must catch. Run by ctest with
BIN, ARCH and LANGUAGES; FAIL marks a failure."""
import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile

import pefile

here = os.path.dirname(os.path.abspath(__file__))
tool = os.path.join(here, "..", "..", "tools", "check-binaries.py")
spec = importlib.util.spec_from_file_location("check_binaries", tool)
check = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check)

bin_dir, arch = os.environ["BIN"], os.environ["ARCH"]
with open(os.path.join(bin_dir, "..", "shipped.txt")) as listing:
    shipped = [os.path.join(bin_dir, name) for name in listing.read().split()]
languages = [os.path.join(bin_dir, "lang", language, "kvabappmgr.dll") for language in os.environ["LANGUAGES"].split()]
failures = 0


def expect(what, condition):
    global failures
    print("  %s  %s" % ("ok  " if condition else "FAIL", what))
    failures += not condition


print("the shipped binaries")
result = subprocess.run([sys.executable, tool, "--arch", arch] + shipped + languages, capture_output=True, text=True)
print(result.stdout, end="")
expect("all %d pass, with the list library in each of %d languages" % (len(shipped), len(languages)),
       result.returncode == 0 and len(shipped) == 12 and len(languages) >= 3 and all(map(os.path.isfile, languages)))


def altered(source, change):
    """A copy of `source` with `change(pe)` applied, and what the check says of it."""
    pe = pefile.PE(source)
    change(pe)
    path = os.path.join(work, os.path.basename(source))
    pe.write(path)
    return "; ".join(check.problems(path, arch))


def clear(flag):
    def change(pe):
        pe.OPTIONAL_HEADER.DllCharacteristics &= ~flag
    return change


def writable_code(pe):
    pe.sections[0].Characteristics |= check.SCN_MEM_WRITE


def user32_renamed(pe):
    entry = next(entry for entry in pe.DIRECTORY_ENTRY_IMPORT if entry.dll.lower() == b"user32.dll")
    pe.set_bytes_at_rva(entry.struct.Name, b"user3x.dll")


def manifest_level(pe):
    pe.set_bytes_at_offset(pe.__data__.find(b'"asInvoker"'), b'"asInvokeX"')


work = tempfile.mkdtemp()
try:
    print("copies with a property taken away")
    monitor = os.path.join(bin_dir, "kvabpanelmon.exe")
    library = os.path.join(bin_dir, "kvabappmgr.dll")
    expect("no dynamic base", "ASLR" in altered(monitor, clear(check.DYNAMIC_BASE)))
    expect("no NX", "DEP" in altered(library, clear(check.NX_COMPAT)))
    if arch == "x64":
        expect("no high-entropy ASLR", "high-entropy" in altered(monitor, clear(check.HIGH_ENTROPY_VA)))
    expect("writable code", "writable and executable section (.text)" in altered(library, writable_code))
    expect("a library beside the program (user32.dll -> user3x.dll)",
           "user3x.dll" in altered(monitor, user32_renamed))
    expect("elevation asked for", "asInvoker" in altered(library, manifest_level))
    # A test program of the build: neither stripped nor given a manifest.
    unshipped = "; ".join(check.problems(os.path.join(bin_dir, "kvabtest_binaries.exe"), arch))
    expect("debug information and no manifest", "no debug information (" in unshipped and ".debug_info" in unshipped
           and "a manifest (resource 1)" in unshipped)
    other = "x64" if arch == "x86" else "x86"
    expect("the other architecture", ("not an %s binary" % other) in "; ".join(check.problems(monitor, other)))
finally:
    shutil.rmtree(work)
sys.exit(1 if failures else 0)
