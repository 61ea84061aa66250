#!/usr/bin/env python3
"""Packs the release for Windows users: quorvant.exe, README.txt and SHA256SUMS, in that order.

The zip is the same bytes on every run from the same sources: each member carries the one time
stamp given (the source commit's), fixed attributes and no extra fields.
Usage: release_zip.py EXE PLAYER_README OUT.zip EPOCH
"""
import hashlib
import sys
import time
import zipfile


def member(name, epoch):
    info = zipfile.ZipInfo(name, date_time=time.gmtime(epoch)[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 0  # MS-DOS: no Unix owner or mode bits
    info.external_attr = 0
    return info


def main(exe_path, readme_path, out_path, epoch):
    epoch = max(int(epoch), 315532800)  # a zip cannot date anything before 1980
    with open(exe_path, "rb") as f:
        exe = f.read()
    with open(readme_path, "rb") as f:
        text = f.read().replace(b"\r\n", b"\n")
    text.decode("ascii")  # plain ASCII, or no release
    readme = text.replace(b"\n", b"\r\n")  # Notepad's line ends
    files = [("quorvant.exe", exe), ("README.txt", readme)]
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in files).encode()
    files.append(("SHA256SUMS", sums))
    with zipfile.ZipFile(out_path, "w") as archive:
        for name, data in files:
            archive.writestr(member(name, epoch), data, compresslevel=9)


if __name__ == "__main__":
    main(*sys.argv[1:])
