#!/usr/bin/env python3
"""What a Windows user downloads: scripts/release run twice gives the same zip, and the zip holds
the release as built, a README.txt that Notepad shows well, and sums that match.
Usage: release_zip_test.py SOURCE BUILT_EXE WORKDIR"""
import hashlib
import os
import shutil
import subprocess
import sys
import zipfile

source, built_exe, work = sys.argv[1:]
failures = []


def check(name, ok, detail=""):
    print(("ok    " if ok else "FAIL  ") + name + ("" if ok else ": " + detail))
    if not ok:
        failures.append(name)


shutil.rmtree(work, ignore_errors=True)
zips = []
for run in ("one", "two"):
    out = subprocess.run([os.path.join(source, "scripts", "release"), os.path.join(work, run)],
                         check=True, capture_output=True, text=True).stdout.strip().splitlines()[-1]
    zips.append(out if os.path.isabs(out) else os.path.join(source, out))
one, two = (open(z, "rb").read() for z in zips)
check("the zip is named for the version and the target", os.path.basename(zips[0]) == "quorvant-1.1-win32.zip",
      zips[0])
check("two runs give the same zip", one == two, f"{len(one)} and {len(two)} bytes")

archive = zipfile.ZipFile(zips[0])
names = [info.filename for info in archive.infolist()]
check("members in order", names == ["quorvant.exe", "README.txt", "SHA256SUMS"], str(names))
check("no extra fields", all(info.extra == b"" for info in archive.infolist()))
check("every member intact", archive.testzip() is None)
members = {name: archive.read(name) for name in names}

with open(built_exe, "rb") as f:
    check("quorvant.exe is the build's", members.get("quorvant.exe") == f.read())

readme = members.get("README.txt", b"")
check("README.txt is plain ASCII", all(b < 0x80 for b in readme))
check("README.txt has CR LF line ends and no other",
      readme.endswith(b"\r\n") and readme.count(b"\n") == readme.count(b"\r\n") == readme.count(b"\r"))
text = readme.decode("ascii", "replace")
for needed in ("rally.exe", "Windows 2000", "keeps no copy", "Patch failed. Code pattern not found.",
               "Patch already applied.", "isn't installed", "read-only", "1.1"):
    check(f"README.txt speaks of {needed!r}", needed in text)

sums = members.get("SHA256SUMS", b"").decode().splitlines()
expected = [f"{hashlib.sha256(members[n]).hexdigest()}  {n}" for n in ("quorvant.exe", "README.txt")]
check("SHA256SUMS matches the members", sums == expected, "\n".join(sums))

print(f"zip {hashlib.sha256(one).hexdigest()}  {os.path.basename(zips[0])}")
print("release zip checks: " + ("all passed" if not failures else f"{len(failures)} failed"))
sys.exit(1 if failures else 0)
