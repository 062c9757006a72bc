#!/usr/bin/env python3
"""Makes the Windows release: dist/parlotrim-VERSION-windows-x64.zip and dist/SHA256SUMS.

The archive holds, in one folder parlotrim-VERSION/, the program the Windows build made, the
Japanese read-me and LICENSES/ with the notices of everything linked into the program. That list
comes from the linker's map: each object and archive member that went into parlotrim.exe is
either this project's (built in the build folder), Qt's (with the third-party code of Qt's
source that the member was compiled from, headers included, as the record of Qt's build tells
and Qt's qt_attribution.json files name it), or a file of a Debian package, whose copyright
file goes along. An input that is none of
these, or a member of a bundled library that no attribution covers, stops the release.

The archive is the same byte for byte for the same program and sources: sorted entries, one time
stamp (the commit's), fixed attributes, and deflate at one level.
"""
import argparse
import gzip
import io
import json
import os
import re
import subprocess
import sys
import time
import zipfile
from collections import defaultdict
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import check_release  # noqa: E402

GCC_EXCEPTION = "GCC RUNTIME LIBRARY EXCEPTION"


def fail(message):
    sys.exit(f"release: {message}")


def read_text(path):
    """A text file of a source or a package: UTF-8, or else Latin-1 as older notices are."""
    data = Path(path).read_bytes()
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("latin-1")


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def project_version(source):
    m = re.search(r"project\(\s*Parlotrim\s+VERSION\s+(\d+\.\d+)",
                  (source / "CMakeLists.txt").read_text(encoding="utf-8"))
    if not m:
        fail("no project VERSION in CMakeLists.txt")
    return m.group(1)


def git(source, *args):
    return subprocess.run(["git", "-C", str(source), *args], check=True, capture_output=True,
                          text=True).stdout.strip()


# --- What the linker put into the program ---------------------------------------------------

def link_inputs(map_path, build):
    """{input file: set of archive members (empty for a plain object)} of everything that
    contributed to the program, from GNU ld's map."""
    text = map_path.read_text(encoding="utf-8", errors="replace")
    inputs = defaultdict(set)

    def norm(p):
        return Path(os.path.normpath(p if os.path.isabs(p) else build / p))

    # Members pulled out of archives, and the plain objects given on the command line.
    for archive, member in re.findall(r"^(\S+\.a)\(([^)\s]+)\)", text, re.M):
        inputs[norm(archive)].add(member)
    for obj in re.findall(r"^LOAD (\S+\.(?:o|obj))$", text, re.M):
        inputs[norm(obj)]
    if not inputs:
        fail(f"{map_path}: no inputs in the link map")
    return inputs


def package_of(path):
    """The Debian package that owns a file, or None."""
    for candidate in dict.fromkeys([str(path), os.path.realpath(path)]):
        r = subprocess.run(["dpkg-query", "-S", candidate], capture_output=True, text=True)
        if r.returncode == 0:
            return r.stdout.split(":")[0].split(",")[0].strip()
    return None


def package_copyright(package):
    doc = Path("/usr/share/doc") / package
    copyright_file = doc / "copyright"
    if not copyright_file.is_file() or not read_text(copyright_file).strip():
        fail(f"package {package} has no copyright file ({copyright_file})")
    version, summary = subprocess.run(
        ["dpkg-query", "-W", "-f=${Version}\t${binary:Summary}", package], check=True,
        capture_output=True, text=True).stdout.split("\t", 1)
    # Packages of one source share one copyright file through a link of their doc folder.
    return Path(os.path.realpath(doc)).name, copyright_file, f"{version} ({summary})"


# --- Qt's third-party code ------------------------------------------------------------------

def load_attributions(qt_source):
    """Qt's attribution entries, each with the set of files of Qt's source it covers: its Files,
    else its Path, else the folder of its qt_attribution.json."""
    entries = []
    for json_path in sorted((qt_source / "src").rglob("qt_attribution.json")):
        data = json.loads(json_path.read_text(encoding="utf-8"), strict=False)
        for e in data if isinstance(data, list) else [data]:
            folder = json_path.parent
            if e.get("Files"):
                covered = {folder / f for f in re.split(r"[\s,]+", e["Files"]) if f}
            else:
                root = folder / e.get("Path", ".")
                covered = {root} if root.is_file() else {p for p in root.rglob("*") if p.is_file()}
            entries.append({"entry": e, "folder": folder,
                            "covered": {Path(os.path.normpath(p)) for p in covered}})
    return entries


def load_deps(path):
    """{object file name: [(object path, files it was compiled from)]} from the record of Qt's
    build (ninja -t deps): the source and every header the compiler read for each object."""
    objects = defaultdict(list)
    files = None
    with gzip.open(path, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith(" "):
                files.add(Path(os.path.normpath(line.strip())))
            elif line.strip():
                obj = line.split(":")[0]
                files = set()
                objects[Path(obj).name].append((obj, files))
    return objects


def attribution_notice(item):
    e, folder = item["entry"], item["folder"]
    lines = [e.get("Name", e["Id"])]
    for key in ("Version", "Homepage", "License", "LicenseId", "QtUsage"):
        if e.get(key):
            lines.append(f"{key}: {e[key]}")
    if e.get("Copyright"):
        lines += ["", e["Copyright"].strip()]
    text = "\n".join(lines) + "\n"
    files = e.get("LicenseFiles") or ([e["LicenseFile"]] if e.get("LicenseFile") else [])
    for f in files:
        licence = folder / f
        if not licence.is_file():
            fail(f"{e['Id']}: licence file {licence} is missing")
        text += "\n" + "-" * 72 + "\n\n" + read_text(licence)
    return text


# --- The notices ----------------------------------------------------------------------------

def collect_notices(inputs, build, source, qt_prefix, qt_source, qt_version):
    """{path in LICENSES/: text}, index rows (path, what it covers) and the read-me's list."""
    notices, index, listed = {}, [], []
    notices["Parlotrim-LICENSE.txt"] = (source / "LICENSE").read_text(encoding="utf-8")
    index.append(("Parlotrim-LICENSE.txt", "Parlotrim itself (MIT)"))

    attributions = load_attributions(qt_source)
    deps_record = qt_prefix / "objects-deps.txt.gz"
    if not deps_record.is_file():
        fail(f"{deps_record} is missing: the Qt in the cache was built before what its objects "
             "were compiled from was recorded; remove its .complete file for "
             "scripts/windows/setup.sh to build it again")
    deps = load_deps(deps_record)
    qt_members = 0
    matched = defaultdict(set)  # attribution index -> (library, member) it covers
    packages = {}  # doc folder -> (copyright file, [package version], [inputs])
    for path, members in sorted(inputs.items()):
        if build in path.parents:
            continue  # this project's objects and libraries
        if qt_prefix in path.parents:
            bundled = path.name.startswith("libQt6Bundled")
            for member in sorted(members or {path.name}):
                qt_members += 1
                if member not in deps:
                    fail(f"{path.name}({member}) is in the program, but Qt's build has no "
                         "record of what it was compiled from")
                # An object's name may stand for several of Qt's objects: all of them count.
                files = set().union(*(f for _, f in deps[member]))
                hits = [i for i, a in enumerate(attributions) if a["covered"] & files]
                if bundled and not hits:
                    fail(f"{path.name}({member}) is in the program, but no qt_attribution.json "
                         "covers its source: add its notice")
                for i in hits:
                    matched[i].add((path.name, member))
            continue
        package = package_of(path)
        if package is None:
            fail(f"{path} is linked into the program, but belongs to no package, to Qt or to "
                 "this project: no notice for it")
        doc, copyright_file, version = package_copyright(package)
        rec = packages.setdefault(doc, (copyright_file, set(), []))
        rec[1].add(f"{package} {version}")
        rec[2].append(path.name)

    if not qt_members:
        fail("no Qt in the link map")
    qt_dir = "Qt/"
    for name in ("LGPL-3.0-only.txt", "GPL-3.0-only.txt"):
        notices[qt_dir + name] = read_text(qt_source / "LICENSES" / name)
    index.append((qt_dir + "LGPL-3.0-only.txt", f"Qt {qt_version} (qtbase), used under the "
                  "GNU LGPL version 3, which adds to the GNU GPL version 3 (GPL-3.0-only.txt)"))
    for name in ("configure-options.txt", "config.summary"):
        record = qt_prefix / name
        if not record.is_file():
            fail(f"{record} is missing: the Qt in the cache was built before its configuration "
                 "was recorded; remove its .complete file for scripts/windows/setup.sh to "
                 "build it again")
        notices[qt_dir + name] = record.read_text(encoding="utf-8")
    index.append((qt_dir + "configure-options.txt", "how that Qt was configured and built "
                  "(config.summary: Qt's own summary of its configuration)"))
    notices[qt_dir + "debian-copyright.txt"] = read_text(qt_source / "debian" / "copyright")
    index.append((qt_dir + "debian-copyright.txt", "copyright of the whole qtbase source package"))
    listed.append(f"Qt {qt_version}（qtbase）")

    for i in sorted(matched, key=lambda i: attributions[i]["entry"]["Id"]):
        e = attributions[i]["entry"]
        name = f"{qt_dir}3rdparty/{e['Id']}.txt"
        notices[name] = attribution_notice(attributions[i])
        libraries = sorted({lib for lib, _ in matched[i]})
        index.append((name, f"{e.get('Name', e['Id'])} {e.get('Version', '')}".strip()
                      + f", in Qt: {len(matched[i])} linked objects, of {' '.join(libraries)}"))
        listed.append(f"{e.get('Name', e['Id'])} {e.get('Version', '')}".strip()
                      + "（Qt に含まれるもの）")

    # Files compiled into the program's resources that come from a package: Qt's Japanese
    # texts for the standard buttons.
    cache = (build / "CMakeCache.txt").read_text(encoding="utf-8")
    for var, path in re.findall(r"^(PARLOTRIM_\w+):FILEPATH=(.+)$", cache, re.M):
        package = package_of(path)
        if package is None:
            fail(f"{path} ({var}) is in the program, but belongs to no package")
        doc, copyright_file, version = package_copyright(package)
        rec = packages.setdefault(doc, (copyright_file, set(), []))
        rec[1].add(f"{package} {version}")
        rec[2].append(Path(path).name)

    for doc, (copyright_file, pkgs, names) in sorted(packages.items()):
        text = read_text(copyright_file)
        if any(re.fullmatch(r"libgcc.*\.a|libstdc\+\+\.a|libsupc\+\+\.a|crt(begin|end)\.o", n)
               for n in names) and GCC_EXCEPTION not in text:
            fail(f"{copyright_file} lacks the {GCC_EXCEPTION}, yet GCC's run-time is linked")
        name = f"{doc}.txt"
        notices[name] = text
        index.append((name, ", ".join(sorted(pkgs)) + ": " + " ".join(sorted(set(names)))))
        listed.extend(sorted(pkgs))
    return notices, index, listed


# --- The archive ----------------------------------------------------------------------------

def make_zip(files, stamp):
    """A zip of {name: bytes}: sorted, one time stamp, fixed attributes."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name in sorted(files):
            info = zipfile.ZipInfo(name, date_time=stamp)
            # Made on Unix, with plain modes: unzip takes the names of entries made on MS-DOS
            # for code page 437 despite their UTF-8 flag, and the modes keep files readable.
            info.create_system = 3
            mode = 0o755 if name.endswith(".exe") else 0o644
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, files[name], compresslevel=9)
    return out.getvalue()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", type=Path, required=True)
    ap.add_argument("--build", type=Path, required=True)
    ap.add_argument("--qt-prefix", type=Path, required=True)
    ap.add_argument("--qt-source", type=Path, required=True)
    ap.add_argument("--qt-version", required=True)
    ap.add_argument("--out", type=Path, required=True)
    a = ap.parse_args()
    source, build = a.source.resolve(), a.build.resolve()
    qt_prefix, qt_source = a.qt_prefix.resolve(), a.qt_source.resolve()

    version = project_version(source)
    exe = (build / "app" / "parlotrim.exe").read_bytes()
    inputs = link_inputs(build / "app" / "parlotrim.map", build)
    notices, index, listed = collect_notices(inputs, build, source, qt_prefix, qt_source,
                                             a.qt_version)

    commit = git(source, "rev-parse", "HEAD")
    if git(source, "status", "--porcelain", "--untracked-files=no"):
        commit += "（コミットしていない変更あり）"
    stamp = time.gmtime(int(git(source, "log", "-1", "--format=%ct")))[:6]
    qt_package = (qt_prefix / "configure-options.txt").read_text(encoding="utf-8").splitlines()[0]
    qt_package = re.sub(r"^Source: Debian source package qt6-base ", "", qt_package)

    template = (source / "scripts" / "release" / "readme-ja.txt").read_text(encoding="utf-8")
    readme = (template.replace("@VERSION@", version).replace("@COMMIT@", commit)
              .replace("@QT_SOURCE@", qt_package)
              .replace("@NOTICES@", "\n".join("・" + line for line in listed)))
    width = max(len(n) for n, _ in index)
    licence_index = ("LICENSES: the notices of what parlotrim.exe holds, made from its link map.\n"
                     "LICENSES: parlotrim.exe に組み込まれているもののライセンスと著作権表示\n\n"
                     + "".join(f"{n.ljust(width)}  {what}\n" for n, what in index))

    folder = f"parlotrim-{version}/"
    bom = b"\xef\xbb\xbf"
    files = {folder + "parlotrim.exe": exe,
             folder + check_release.README_NAME: bom + crlf(readme).encode("utf-8"),
             folder + "LICENSES/README.txt": bom + crlf(licence_index).encode("utf-8")}
    for name, text in notices.items():
        files[folder + "LICENSES/" + name] = crlf(text).encode("utf-8")
    archive = make_zip(files, stamp)
    name = check_release.archive_name(version)
    sums = check_release.sums_line(name, archive)

    # Nothing is written unless the archive passes every check.
    print("Checking the archive before writing it:")
    if not check_release.report(check_release.archive_checks(archive, sums, version, exe)):
        fail("the archive failed its checks; nothing written")
    a.out.mkdir(parents=True, exist_ok=True)
    (a.out / name).write_bytes(archive)
    (a.out / "SHA256SUMS").write_text(sums, encoding="utf-8")
    print(f"{a.out / name}: {len(archive)} bytes, {len(files)} files")
    print(sums, end="")


if __name__ == "__main__":
    main()
