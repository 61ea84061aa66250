#!/usr/bin/env python3
"""The Windows program end to end: quorvant.exe (x86-64) under wine64 and Xvfb, in a prefix of its
own, each box answered with xdotool. Every run is judged by what the program really asked of the
system (Wine's relay trace: each call's arguments, each box's text, caption and style byte for
byte), by its exit code and by the game's bytes afterwards. A screenshot of each kind of box is
kept under WORK/screenshots."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"

CAPTION = "Patch Velmora Rally for Windows 2000 - Version 1.1"
NOT_INSTALLED = ("Velmora Rally isn't installed.\r\rMust install with Windows 2000 even \r"
                 "if already installed with Windows 95/98/ME.")
APPLIED = "Patch applied successfully.\rProgram will now close."
ALREADY = "Patch already applied.\rProgram will now close."
NOT_FOUND = "Patch failed. Code pattern not found.\rProgram will now close."
STYLE = {NOT_INSTALLED: 0x10, APPLIED: 0x40, ALREADY: 0x30, NOT_FOUND: 0x10}
CONFIRM_STYLE = 0x41
IDOK, IDCANCEL = 1, 2

KEY = "Software\\Halcyra\\Rally\\1.00"
GAME_DIRECTORY = "C:\\Games\\Rally"
RELAYED = ["advapi32.RegOpenKeyExA", "advapi32.RegQueryValueExA", "advapi32.RegCloseKey",
           "kernel32.CreateFileA", "kernel32.GetFileSize", "kernel32.GetLastError",
           "kernel32.CreateFileMappingA", "kernel32.MapViewOfFile", "kernel32.UnmapViewOfFile",
           "kernel32.CloseHandle", "kernel32.ExitProcess", "user32.MessageBoxA"]


def confirm_text(path):
    return ("QUORVANT will patch the following file:\r\r" + path + "\r\rPress OK to start patching."
            "\r\rPatch made by the Quorvant project.\rUpdates on: https://quorvant.example/updates/")


# --- Wine's relay trace -------------------------------------------------------------------------

CALL = re.compile(r"^[0-9a-f]+:Call (\w+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$")
RET = re.compile(r"^[0-9a-f]+:Ret  (\w+)\.(\w+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$")
IMAGE_SPAN = 0x100000  # the program is a few KiB; nothing else is loaded this close to it
STRING = re.compile(r'^[0-9a-f]+ "(.*)"(\.\.\.)?$', re.S)


class Truncated(str):
    """A string that Wine's trace cut short (it shows the first few hundred bytes, then ...)."""


def same_text(traced, wanted):
    """Wine cuts a string at about 300 characters of its escaped form (a byte beyond ASCII takes
    four): a cut string must be a long enough beginning of the text wanted."""
    if isinstance(traced, Truncated):
        return len(traced) >= 100 and wanted.startswith(traced)
    return traced == wanted


def split_arguments(text):
    """Splits the relay's argument list at the commas that stand outside quoted strings."""
    arguments, current, quoted, escaped = [], "", False, False
    for c in text:
        if quoted:
            current += c
            if escaped:
                escaped = False
            elif c == "\\":
                escaped = True
            elif c == '"':
                quoted = False
        elif c == '"':
            quoted = True
            current += c
        elif c == ",":
            arguments.append(current)
            current = ""
        else:
            current += c
    arguments.append(current)
    return arguments


def unescape(text):
    """Undoes the escaping of Wine's debugstr_a."""
    out, i = bytearray(), 0
    simple = {"r": 13, "n": 10, "t": 9, "\\": 92, '"': 34}
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            c = text[i + 1]
            if c in simple:
                out.append(simple[c])
                i += 2
                continue
            if c == "x":
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
        out += text[i].encode("latin-1")
        i += 1
    return out.decode("latin-1")


def argument(text):
    """A string argument as its text, any other as its number."""
    match = STRING.match(text)
    if not match:
        return int(text, 16)
    return Truncated(unescape(match.group(1))) if match.group(2) else unescape(match.group(1))


def program_calls(trace, image_base):
    """The calls that the program itself made (its return address lies in its own image), each as
    [name, arguments, result]; result is None for a call that never returned."""
    calls = []
    for line in trace.splitlines():
        call = CALL.match(line)
        if call and image_base <= int(call.group(4), 16) < image_base + IMAGE_SPAN:
            calls.append([call.group(2), [argument(a) for a in split_arguments(call.group(3))], None])
            continue
        ret = RET.match(line)
        if ret and image_base <= int(ret.group(4), 16) < image_base + IMAGE_SPAN:
            for entry in reversed(calls):
                if entry[0] == ret.group(2) and entry[2] is None:
                    entry[2] = int(ret.group(3), 16)
                    break
    return calls


def low32(value):
    return value & 0xFFFFFFFF if isinstance(value, int) else value


# --- What a run must have asked -----------------------------------------------------------------

class Expect:
    """Builds the calls a run must make, in order, each with the arguments the program must pass."""

    def __init__(self):
        self.steps = []

    def lookup(self, found):
        self.steps.append(("RegOpenKeyExA", lambda a, r, s: a[0] & 0xFFFFFFFF == 0x80000002 and a[1] == KEY
                           and a[2] == 0 and low32(a[3]) == 0xF003F and a[4] != 0 and (r == 0) == bool(found)))
        if found is None:  # the key could not be opened: nothing more
            return self
        self.steps.append(("RegQueryValueExA", lambda a, r, s: a[1] == "HDPath" and a[2] == 0 and a[3] == 0
                           and a[4] != 0 and a[5] != 0 and s.setdefault("key", a[0]) == a[0]))
        self.steps.append(("RegCloseKey", lambda a, r, s: a[0] == s["key"]))
        return self

    def box(self, text, style, answer):
        self.steps.append(("MessageBoxA", lambda a, r, s: a[0] == 0 and same_text(a[1], text) and a[2] == CAPTION
                           and low32(a[3]) == style and r == answer))
        return self

    def patch_file(self, path, opens=True):
        self.steps.append(("CreateFileA", lambda a, r, s: same_text(a[0], path) and low32(a[1]) == 0xC0000000
                           and low32(a[2]) == 0 and a[3] == 0 and low32(a[4]) == 3 and low32(a[5]) == 0x80
                           and a[6] == 0 and (r != 0xFFFFFFFFFFFFFFFF) == opens
                           and s.update(file=r) is None))
        if not opens:
            return self
        self.steps += [
            ("GetFileSize", lambda a, r, s: a[0] == s["file"] and a[1] == 0),
            ("CreateFileMappingA", lambda a, r, s: a[0] == s["file"] and a[1] == 0 and low32(a[2]) == 4
             and low32(a[3]) == 0 and low32(a[4]) == 0 and a[5] == 0 and r != 0 and s.update(mapping=r) is None),
            ("MapViewOfFile", lambda a, r, s: a[0] == s["mapping"] and low32(a[1]) == 2 and low32(a[2]) == 0
             and low32(a[3]) == 0 and a[4] == 0 and r != 0 and s.update(view=r) is None),
            ("UnmapViewOfFile", lambda a, r, s: a[0] == s["view"]),
            ("CloseHandle", lambda a, r, s: a[0] == s["mapping"]),
            ("CloseHandle", lambda a, r, s: a[0] == s["file"]),
        ]
        return self

    def exit(self):
        self.steps.append(("ExitProcess", lambda a, r, s: a == [0]))
        return self

    def mismatches(self, calls):
        problems, state = [], {}
        names = [c[0] for c in calls]
        wanted = [s[0] for s in self.steps]
        if names != wanted:
            return ["calls were %s, not %s" % (names, wanted)]
        for (name, check), (_, arguments, result) in zip(self.steps, calls):
            if not check(arguments, result, state):
                problems.append("%s(%r) -> %r is not as it must be" % (name, arguments, result))
        return problems


def confirmed_run(path, attempts, outcome, opens=True):
    """The calls of a run confirmed with OK: the lookup, the confirmation, attempts PatchFile calls on
    path, the outcome's box and the exit."""
    expect = Expect().lookup(True).box(confirm_text(path), CONFIRM_STYLE, IDOK)
    for _ in range(attempts):
        expect.patch_file(path, opens)
    return expect.box(outcome, STYLE[outcome], IDOK).exit()


# --- The harness --------------------------------------------------------------------------------

class Harness:
    def __init__(self, options):
        self.options = options
        self.work = os.path.abspath(options.work)
        self.prefix = os.path.join(self.work, "prefix")
        self.shots = os.path.join(self.work, "screenshots")
        self.game = os.path.join(self.prefix, "drive_c", "Games", "Rally", "rally.exe")
        self.failures = []
        self.xvfb = None
        os.makedirs(self.shots, exist_ok=True)
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("WINELOADER", None)

    def fail(self, scenario, message):
        self.failures.append("%s: %s" % (scenario, message))
        print("FAIL  %s: %s" % (scenario, message), flush=True)

    def start_display(self):
        for number in range(60, 100):
            if not os.path.exists("/tmp/.X%d-lock" % number):
                break
        self.xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env["DISPLAY"] = ":%d" % number
        for _ in range(100):
            if subprocess.run(["xdotool", "getdisplaygeometry"], env=self.env, capture_output=True).returncode == 0:
                return
            time.sleep(0.1)
        raise RuntimeError("Xvfb did not start")

    def wine(self, *arguments, check=True, timeout=120):
        # Output to a file, not a pipe: the services Wine starts would hold a pipe open for ever.
        log_path = os.path.join(self.work, "wine.log")
        with open(log_path, "a") as log:
            result = subprocess.run([WINE, *arguments], env=self.env, stdout=log, stderr=log, timeout=timeout)
        if check and result.returncode != 0:
            with open(log_path, errors="replace") as log:
                raise RuntimeError("wine %s failed: %s" % (" ".join(arguments), log.read()[-2000:]))
        return result

    def make_prefix(self):
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            shutil.rmtree(self.prefix, ignore_errors=True)
            self.wine("wineboot", "--init", timeout=600)
        subprocess.Popen([WINESERVER, "--persistent"], env=self.env).wait()
        self.wine("reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/d", ";".join(RELAYED), "/f")

    def set_record(self, directory):
        self.wine("reg", "delete", "HKLM\\Software\\Halcyra", "/f", check=False)
        if directory is not None:
            self.wine("reg", "add", "HKLM\\" + KEY, "/v", "HDPath", "/t", "REG_SZ", "/d", directory, "/f")

    def install_game(self, kind):
        os.makedirs(os.path.dirname(self.game), exist_ok=True)
        subprocess.run([self.options.make_game, kind, self.game], check=True)
        with open(self.game, "rb") as f:
            return f.read()

    def game_bytes(self):
        with open(self.game, "rb") as f:
            return f.read()

    def boxes_on_screen(self):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(CAPTION)],
                               env=self.env, capture_output=True, text=True)
        return found.stdout.split()

    def run(self, scenario, answers, shots=()):
        """Runs the program and answers its boxes in turn with the keys given; takes a screenshot of
        box i as shots[i] where that is a name. Returns the exit code and the program's calls."""
        trace_path = os.path.join(self.work, scenario + ".relay.log")
        with open(trace_path, "w") as trace:
            process = subprocess.Popen([WINE, self.options.program], env=dict(self.env, WINEDEBUG="+relay"),
                                       stdout=subprocess.DEVNULL, stderr=trace, cwd=self.work)
            for i, keys in enumerate(answers):
                window = None
                deadline = time.time() + 30
                while time.time() < deadline and process.poll() is None and not window:
                    windows = self.boxes_on_screen()
                    window = windows[0] if windows else None
                    time.sleep(0.2)
                if not window:
                    self.fail(scenario, "box %d never appeared" % (i + 1))
                    break
                time.sleep(0.5)  # painted
                if i < len(shots) and shots[i]:
                    subprocess.run(["import", "-window", window, os.path.join(self.shots, shots[i] + ".png")],
                                   env=self.env, check=False)
                subprocess.run(["xdotool", "windowfocus", "--sync", window], env=self.env, check=False)
                subprocess.run(["xdotool", "key", "--delay", "100", *keys], env=self.env, check=False)
                deadline = time.time() + 20
                while time.time() < deadline and window in self.boxes_on_screen():
                    time.sleep(0.2)
            try:
                code = process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.fail(scenario, "still running after its last answer (another box?)")
                process.kill()
                code = process.wait()
        with open(trace_path, encoding="latin-1") as trace:
            calls = program_calls(trace.read(), self.options.image_base)
        if code != 0:
            self.fail(scenario, "exit code %d" % code)
        return calls

    def judge(self, scenario, calls, expect):
        problems = expect.mismatches(calls)
        for problem in problems:
            self.fail(scenario, problem)
        if not problems:
            print("ok    %s (%d calls as they must be)" % (scenario, len(calls)), flush=True)

    # --- The scenarios: every row of the state table, and the faults a user meets --------------

    def scenarios(self):
        game_path = GAME_DIRECTORY + "\\rally.exe"
        confirm = confirm_text(game_path)

        self.set_record(None)
        before = self.install_game("build-b")
        calls = self.run("not-installed", [["Return"]], ["not-installed"])
        expect = Expect().lookup(None).box(NOT_INSTALLED, STYLE[NOT_INSTALLED], IDOK).exit()
        self.judge("not-installed", calls, expect)
        self.same("not-installed", before)

        self.set_record(GAME_DIRECTORY)
        for scenario, keys in [("cancel-button", ["Tab", "space"]), ("escape", ["Escape"]), ("close-box", ["alt+F4"])]:
            calls = self.run(scenario, [keys], ["confirm"])
            self.judge(scenario, calls, Expect().lookup(True).box(confirm, CONFIRM_STYLE, IDCANCEL).exit())
            self.same(scenario, before)

        for kind, opens in [("build-a", 1), ("build-b", 3)]:
            scenario = "ok-" + kind
            before = self.install_game(kind)
            calls = self.run(scenario, [["Return"], ["Return"]], [None, "applied"])
            self.judge(scenario, calls, confirmed_run(game_path, opens, APPLIED))
            changed = sum(a != b for a, b in zip(before, self.game_bytes()))
            self.expect_equal(scenario, "bytes changed", changed, 33 if kind == "build-a" else 49)

            scenario = "again-" + kind
            patched = self.game_bytes()
            calls = self.run(scenario, [["Return"], ["Return"]], [None, "already-applied"])
            # Pattern A, pattern B, the probe.
            self.judge(scenario, calls, confirmed_run(game_path, 3, ALREADY))
            self.same(scenario, patched)

        before = self.install_game("no-blocks")
        calls = self.run("no-blocks", [["Return"], ["Return"]], [None, "not-found"])
        self.judge("no-blocks", calls, confirmed_run(game_path, 3, NOT_FOUND))
        self.same("no-blocks", before)

        # The game running: another Windows process holds rally.exe with share mode 0.
        before = self.install_game("build-b")
        ready, stop = os.path.join(self.work, "held"), os.path.join(self.work, "stop")
        for f in (ready, stop):
            if os.path.exists(f):
                os.remove(f)
        for attempt in range(2):  # a slow start of Wine is given a second chance
            holder = subprocess.Popen([WINE, self.options.holder, "C:\\Games\\Rally\\rally.exe", "Z:" + ready,
                                       "Z:" + stop], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.time() + 60
            while not os.path.exists(ready) and time.time() < deadline and holder.poll() is None:
                time.sleep(0.2)
            if os.path.exists(ready):
                break
            print("the holder did not take the file (attempt %d, exit code %s)" % (attempt + 1, holder.poll()))
            open(stop, "w").close()
            holder.wait(timeout=60)
            os.remove(stop)
        else:
            self.fail("game-running", "the holder never took the file")
        calls = self.run("game-running", [["Return"], ["Return"]])
        open(stop, "w").close()
        holder.wait(timeout=60)
        # Pattern A, pattern B, the probe: each open refused.
        self.judge("game-running", calls, confirmed_run(game_path, 3, NOT_FOUND, opens=False))
        self.same("game-running", before)

        # The longest directory read in full: 254 characters, a GamePath of 264.
        directory = "C:\\" + "r" * 249 + "\\x"
        self.set_record(directory)
        calls = self.run("longest-path", [["Return"], ["Return"]], ["longest-path"])
        self.judge("longest-path", calls, confirmed_run(directory + "\\rally.exe", 3, NOT_FOUND, opens=False))

    # --- The Linux program beside it, on the same prefix ----------------------------------------

    def compare_with_linux(self):
        """Paths beyond ASCII, where the Linux program must see what the Windows program sees: HDPath
        written by Wine's own reg.exe into both registry views, the game's folder on disk in another
        case. Both programs must show the same path and leave the same bytes."""
        utf8 = dict(self.env, LC_ALL="C.UTF-8")  # reg.exe reads its arguments, the terminal shows boxes
        cases = [
            ("letter-in-another-case", "C:\\Games\\Velmora \u00c9dition", ["Games", "Velmora \u00e9dition"]),
            # 237 characters, 28 of them umlauts: 238 bytes in code page 1252, past 255 in UTF-8.
            ("long-path-of-umlauts", "C:\\Spiele\\" + "\u00fc" * 28 + "r" * 199, ["Spiele", "\u00fc" * 28 + "r" * 199]),
        ]
        for scenario, directory, disk in cases:
            failures = len(self.failures)
            for view in ("/reg:32", "/reg:64"):
                self.wine("reg", "delete", "HKLM\\Software\\Halcyra", "/f", view, check=False)
                subprocess.run([WINE, "reg", "add", "HKLM\\" + KEY, "/v", "HDPath", "/t", "REG_SZ", "/d", directory,
                                "/f", view], env=utf8, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            folder = os.path.join(self.prefix, "drive_c", *disk)
            os.makedirs(folder, exist_ok=True)
            game = os.path.join(folder, "rally.exe")
            subprocess.run([self.options.make_game, "build-a", game], check=True)
            with open(game, "rb") as f:
                before = f.read()
            path = directory + "\\rally.exe"
            ansi = path.encode("cp1252").decode("latin-1")  # what the trace shows: the bytes in code page 1252

            # The Windows program's boxes and calls are judged against the path in code page 1252.
            calls = self.run("windows-" + scenario, [["Return"], ["Return"]])
            self.judge("windows-" + scenario, calls, confirmed_run(ansi, 1, APPLIED))
            with open(game, "rb") as f:
                windows_bytes = f.read()
            with open(game, "wb") as f:
                f.write(before)

            # The registry reaches system.reg when the server saves it; it saves on its way out.
            subprocess.run([WINESERVER, "--kill"], env=self.env, check=False)
            subprocess.run([WINESERVER, "--wait"], env=self.env, check=False)
            linux = subprocess.run([self.options.linux_program], input=b"\n\n", capture_output=True, timeout=60,
                                   env=dict(utf8, WINEPREFIX=self.prefix))
            shown = linux.stdout.decode("utf-8", "replace")
            linux_path = shown.split("QUORVANT will patch the following file:\n\n")[-1].split("\n")[0]
            with open(game, "rb") as f:
                linux_bytes = f.read()

            self.expect_equal(scenario, "the path the Linux program shows", linux_path, path)
            self.expect_equal(scenario, "the Linux program's outcome", APPLIED.replace("\r", "\n") in shown, True)
            self.expect_equal(scenario, "the bytes both leave the same", linux_bytes == windows_bytes != before, True)
            if len(self.failures) == failures:
                print("ok    %s: both show %s and leave the same bytes" % (scenario, ascii(path)), flush=True)
            shutil.rmtree(os.path.join(self.prefix, "drive_c", disk[0]), ignore_errors=True)
        self.set_record(GAME_DIRECTORY)

    def same(self, scenario, before):
        if self.game_bytes() != before:
            self.fail(scenario, "the game's bytes changed")

    def expect_equal(self, scenario, what, got, wanted):
        if got != wanted:
            self.fail(scenario, "%s: %r, not %r" % (what, got, wanted))

    def close(self):
        subprocess.run([WINESERVER, "--kill"], env=self.env, check=False)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--holder", required=True)
    parser.add_argument("--make-game", required=True)
    parser.add_argument("--linux-program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--image-base", type=lambda v: int(v, 0), default=0x140000000)
    options = parser.parse_args()
    options.program, options.holder, options.make_game, options.linux_program = map(
        os.path.abspath, (options.program, options.holder, options.make_game, options.linux_program))
    harness = Harness(options)
    try:
        harness.start_display()
        harness.make_prefix()
        harness.scenarios()
        harness.compare_with_linux()
    finally:
        harness.close()
    print("screenshots: " + harness.shots)
    print("wine end-to-end: %s" % ("all passed" if not harness.failures else "%d failed" % len(harness.failures)))
    return 1 if harness.failures else 0


if __name__ == "__main__":
    sys.exit(main())
