#!/usr/bin/env python3
"""Checks a Windows release archive of Parlotrim and its SHA256SUMS.

Used twice: make_release.py checks the archive in memory before it writes anything, and run on
its own (check_release.py dist/parlotrim-1.30-windows-x64.zip) it checks the files that were
written, against the program the Windows tests ran. Each check prints one line; the last line
counts them, and the exit status is 1 when one failed.
"""
import hashlib
import io
import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

README_NAME = "はじめにお読みください.txt"
OBJDUMP = "x86_64-w64-mingw32-objdump"
WINDRES = "x86_64-w64-mingw32-windres"

# DLLs every 64-bit Windows 10 and 11 has, and API sets its loader resolves (since Windows 8).
# Anything else (a compiler's run-time, a Qt DLL, zlib1) would have to lie beside the program,
# which ships alone.
SYSTEM_DLLS = {
    "api-ms-win-core-synch-l1-2-0.dll", "api-ms-win-core-winrt-l1-1-0.dll",
    "api-ms-win-core-winrt-string-l1-1-0.dll",
    "advapi32.dll", "authz.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll",
    "d2d1.dll", "d3d11.dll", "d3d12.dll", "d3d9.dll", "dwmapi.dll", "dwrite.dll", "dxgi.dll",
    "gdi32.dll", "imm32.dll", "kernel32.dll", "mpr.dll", "msvcrt.dll", "netapi32.dll",
    "ntdll.dll", "ole32.dll", "oleaut32.dll", "secur32.dll", "setupapi.dll", "shcore.dll",
    "shell32.dll", "shlwapi.dll", "user32.dll", "userenv.dll", "uxtheme.dll", "version.dll",
    "winmm.dll", "ws2_32.dll", "wtsapi32.dll",
}


def archive_name(version):
    return f"parlotrim-{version}-windows-x64.zip"


def sums_line(name, data):
    return f"{hashlib.sha256(data).hexdigest()}  {name}\n"


def _run(cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True,
                          errors="replace").stdout


def exe_checks(exe, version):
    """The program's PE header, imports and version resource."""
    major, minor = version.split(".")
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "parlotrim.exe"
        path.write_bytes(exe)
        headers = _run([OBJDUMP, "-p", str(path)])
        resources = _run([WINDRES, "-O", "rc", "-i", str(path)])
    m = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", headers, re.M)
    yield "exe: subsystem is GUI (no console window)", bool(m) and int(m.group(1), 16) == 2, \
        m.group(0) if m else "no Subsystem line"
    m = re.search(r"^Magic\s+(\w+)", headers, re.M)
    yield "exe: 64-bit (PE32+)", bool(m) and m.group(1) == "020b", m.group(0) if m else "no Magic"
    dlls = sorted({d.lower() for d in re.findall(r"DLL Name: (\S+)", headers)})
    others = [d for d in dlls if d not in SYSTEM_DLLS]
    yield "exe: imports only system DLLs", bool(dlls) and not others, \
        ("not system: " + " ".join(others)) if others else " ".join(dlls)
    m = re.search(r"^Time/Date\s+(.*)$", headers, re.M)
    yield "exe: no link time stamp", bool(m) and "1970" in m.group(1), \
        m.group(0) if m else "no Time/Date line"
    fixed = f"{int(major)}, {int(minor)}, 0, 0"
    wanted = [f"FILEVERSION {fixed}", f"PRODUCTVERSION {fixed}",
              f'VALUE "FileVersion", "{version}"', f'VALUE "ProductVersion", "{version}"']
    missing = [w for w in wanted if w not in resources]
    yield f"exe: version resource says {version}", not missing, \
        ("missing: " + "; ".join(missing)) if missing else fixed


def readme_checks(data, version):
    """The read-me as Notepad opens it: UTF-8 with a BOM, CR LF, the version, nothing left out."""
    yield "read-me: UTF-8 BOM", data.startswith(b"\xef\xbb\xbf"), data[:3].hex()
    try:
        text = data[3:].decode("utf-8")
        yield "read-me: decodes as UTF-8", True, f"{len(text)} characters"
    except UnicodeDecodeError as e:
        yield "read-me: decodes as UTF-8", False, str(e)
        return
    bad = len(re.findall(r"\r(?!\n)|(?<!\r)\n", text))
    yield "read-me: every line ends in CR LF", bad == 0 and text.endswith("\r\n"), \
        f"{bad} other line ends"
    yield f"read-me: names version {version}", f"バージョン {version}" in text, ""
    left = re.findall(r"@[A-Z_]+@", text)
    yield "read-me: every field filled in", not left, " ".join(left)


def archive_checks(archive, sums, version, exe=None):
    """Every check of one archive (bytes) and its SHA256SUMS (text). exe: the program the
    archive must hold, byte for byte."""
    folder = f"parlotrim-{version}/"
    try:
        z = zipfile.ZipFile(io.BytesIO(archive))
        infos = z.infolist()
    except zipfile.BadZipFile as e:
        yield "archive: opens as zip", False, str(e)
        return
    names = [i.filename for i in infos]
    outside = [n for n in names if not n.startswith(folder)]
    yield f"archive: everything in {folder}", bool(names) and not outside, " ".join(outside)
    yield "archive: entries in name order", names == sorted(names), ""
    dates = {i.date_time for i in infos}
    yield "archive: one fixed time stamp", len(dates) == 1, str(sorted(dates))
    yield "archive: entries pass their CRC", z.testzip() is None, ""
    files = {n[len(folder):]: z.read(n) for n in names if n.startswith(folder)}

    got = files.get("parlotrim.exe")
    yield "archive: parlotrim.exe", got is not None, ""
    if got is not None:
        if exe is not None:
            yield "exe: the program the Windows tests ran", got == exe, \
                f"{len(got)} bytes in the archive, {len(exe)} built"
        yield from exe_checks(got, version)

    readme = files.get(README_NAME)
    yield f"archive: {README_NAME}", readme is not None, ""
    if readme is not None:
        yield from readme_checks(readme, version)

    licences = {n: d for n, d in files.items() if n.startswith("LICENSES/")}
    for wanted in ("LICENSES/Parlotrim-LICENSE.txt", "LICENSES/Qt/LGPL-3.0-only.txt",
                   "LICENSES/Qt/GPL-3.0-only.txt", "LICENSES/Qt/configure-options.txt",
                   "LICENSES/Qt/config.summary",
                   "LICENSES/README.txt"):
        yield f"archive: {wanted}", wanted in licences, ""
    empty = [n for n, d in licences.items() if not d.strip()]
    yield f"licences: all {len(licences)} files hold text", bool(licences) and not empty, \
        " ".join(empty)
    strays = [n for n in files if n not in ("parlotrim.exe", README_NAME)
              and not n.startswith("LICENSES/")]
    yield "archive: nothing else", not strays, " ".join(strays)

    expected = sums_line(archive_name(version), archive)
    yield "SHA256SUMS: matches the archive", sums == expected, sums.strip()


def report(results):
    """Prints one line a check and the count; True when all passed."""
    passed = failed = 0
    for name, ok, detail in results:
        print(f"{'ok  ' if ok else 'FAIL'} {name}" + (f" ({detail})" if detail else ""))
        passed += ok
        failed += not ok
    print(f"{passed} passed, {failed} failed")
    return failed == 0


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: check_release.py ARCHIVE [PROGRAM]")
    path = Path(sys.argv[1])
    m = re.fullmatch(r"parlotrim-(\d+\.\d+)-windows-x64\.zip", path.name)
    if not m:
        sys.exit(f"{path.name}: not a release archive's name")
    sums = (path.parent / "SHA256SUMS").read_text(encoding="utf-8")
    exe = Path(sys.argv[2]).read_bytes() if len(sys.argv) == 3 else None
    sys.exit(0 if report(archive_checks(path.read_bytes(), sums, m.group(1), exe)) else 1)


if __name__ == "__main__":
    main()
