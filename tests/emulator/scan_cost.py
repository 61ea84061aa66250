#!/usr/bin/python3
"""The release's scan, measured on its own processor: the whole NotFound run of quorvant.exe on an
emulated Pentium, over a game-sized file holding none of the blocks (three full scans), as
instructions per examined offset. Emulated instructions are exact and the same on every machine.
Usage: scan_cost.py [RELEASE] [MAKE_GAME]   (defaults: build/win32/quorvant.exe, build/native/make_game)"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from release_test import DIRECTORY, GAME, INSTALL_KEY, NOT_FOUND, run  # noqa: E402
from windows_model import RELEASE_IMPORTS, GameFile, Windows  # noqa: E402

root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
release_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "win32", "quorvant.exe")
make_game = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "build", "native", "make_game")
with tempfile.TemporaryDirectory() as work:
    subprocess.run([make_game, "no-blocks", os.path.join(work, "rally.exe")], check=True)
    with open(os.path.join(work, "rally.exe"), "rb") as f:
        game = f.read()
with open(release_path, "rb") as f:
    release = f.read()

windows = Windows(registry={INSTALL_KEY: {b"HDPath": DIRECTORY + b"\0"}}, files={GAME: GameFile(game)}, answers=[1])
result, machine = run(release, RELEASE_IMPORTS, windows)
if result != 0 or windows.boxes[-1] != NOT_FOUND:
    sys.exit(f"the run did not end as NotFound: {result}, {windows.boxes}")
offsets = 3 * (len(game) - 39 + 1)  # pattern A, pattern B and the probe, each over the whole file
print(f"release:            {release_path} ({len(release)} bytes)")
print(f"game:               {len(game):,} bytes, none of the blocks")
print(f"whole NotFound run: {machine.instructions:,} instructions")
print(f"examined offsets:   {offsets:,} (three scans)")
print(f"per offset:         {machine.instructions / offsets:.2f} instructions")
