#!/usr/bin/python3
"""The release executed: build/win32/quorvant.exe run on an emulated Pentium under a model of
Windows 2000, scenario by scenario, judged by its boxes, its calls, its exit code and the game's
bytes; then the stand-in game, before and after the release patched it, under Windows 2000 and
Windows 98; and a -march=i686 build of the release, which the Pentium check must refuse."""
import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_machine import TEB_BASE, Fault, Image, Machine  # noqa: E402
from unicorn import UC_PROT_EXEC, UC_PROT_READ, UC_PROT_WRITE  # noqa: E402
from unicorn.x86_const import UC_X86_REG_EAX  # noqa: E402
from windows_model import RELEASE_IMPORTS, WINDOWS_98, WINDOWS_2000, GameFile, VgaDac, Windows  # noqa: E402

# The catalogue, as the game and the patch have it: this test's own copy, so that a wrong byte in
# the program cannot pass unseen.
PALETTE_A = bytes.fromhex("558BEC5356578B7D08B90003000066BAC70332C0EE66426642FCECAAEB00E2FA5F5E5B5DC20400")
PALETTE_B = bytes.fromhex("558BEC578B7D08B90003000066BAC70332C0EE66426642FCECAAEB00E2FA5F5DC2040090909090")
PALETTE_NEW = bytes.fromhex("558BEC53565790905F5E5B5DC2040090") + b"QUORVANT" + b"\x90" * 15
PLATFORM = bytes.fromhex("85C0740D8B4C2410B8010000003BC8750233C081C494000000C3")
PLATFORM_NEW = b"\x90" * 17 + bytes.fromhex("33C081C494000000C3")

# Where the blocks stand in the 3 MiB game: at no particular alignment.
PALETTE_AT = 0x0C2A53
PLATFORM_AT = 0x19E37B

INSTALL_KEY = b"Software\\Halcyra\\Rally\\1.00"
DIRECTORY = b"C:\\Games\\Velmora Rally"
GAME = DIRECTORY + b"\\rally.exe"

CONFIRM = (b"QUORVANT will patch the following file:\r\r%s\r\rPress OK to start patching.\r\r"
           b"Patch made by the Quorvant project.\rUpdates on: https://quorvant.example/updates/")
NOT_INSTALLED = (b"Velmora Rally isn't installed.\r\rMust install with Windows 2000 even \r"
                 b"if already installed with Windows 95/98/ME.", 0x10)
APPLIED = (b"Patch applied successfully.\rProgram will now close.", 0x40)
ALREADY = (b"Patch already applied.\rProgram will now close.", 0x30)
NOT_FOUND = (b"Patch failed. Code pattern not found.\rProgram will now close.", 0x10)

REGISTRY = ["RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey"]
BOX = ["MessageBoxA"]
PATCH_FILE = ["CreateFileA", "GetFileSize", "CreateFileMappingA", "MapViewOfFile", "UnmapViewOfFile",
              "CloseHandle", "CloseHandle"]
EMPTY_FILE = ["CreateFileA", "GetFileSize", "CreateFileMappingA", "CloseHandle"]
REFUSED = ["CreateFileA"]
END = ["ExitProcess"]

failures = []


def check(name, ok, detail=""):
    print(("ok    " if ok else "FAIL  ") + name + ("" if ok else f": {detail}"))
    if not ok:
        failures.append(name)


def planted(base, *blocks):
    data = bytearray(base)
    for at, block in blocks:
        data[at:at + len(block)] = block
    return bytes(data)


def confirm(path):
    return (CONFIRM % path, 0x41)


def run(program, imports, windows, base_taken=False):
    """One process on a fresh machine: (exit code, or the fault's text; the machine). Windows 98
    lets a program reach the I/O ports (IOPL 3), and the VGA DAC answers there."""
    win98 = windows.version is WINDOWS_98
    machine = Machine(windows, iopl=3 if win98 else 0)
    if win98:
        machine.ports = VgaDac()
    if base_taken:
        machine.uc.mem_map(Image(program).base, 0x10000, UC_PROT_READ)
    entry = machine.load(program, windows.imports(*imports))
    try:
        return machine.run(entry), machine
    except Fault as fault:
        return f"fault: {fault}", machine


def address_of(program, offset):
    """Where a byte of the file lies once the image is loaded at its base."""
    image = Image(program)
    for name, rva, size, raw, flags, raw_offset in image.sections:
        if raw_offset <= offset < raw_offset + len(raw):
            return image.base + rva + offset - raw_offset
    raise ValueError(offset)


def machine_scenarios():
    """The machine itself: user mode as on the NT family, and the Pentium's instruction set."""
    rows = [
        ("cli", b"\xFA", "exception 13 (general protection) at EIP 0x00500000"),
        ("hlt", b"\xF4", "exception 13 (general protection) at EIP 0x00500000"),
        ("lgdt", b"\x0F\x01\x15\x00\x00\x00\x00", "exception 13 (general protection) at EIP 0x00500000"),
        ("out to the DAC", b"\x66\xBA\xC7\x03\xEE", "exception 13 (general protection) at EIP 0x00500004"),
        ("in from the DAC", b"\x66\xBA\xC9\x03\xEC", "exception 13 (general protection) at EIP 0x00500004"),
        ("cmove", b"\x0F\x44\xC1", "cmove eax, ecx at EIP 0x00500000: not a Pentium instruction"),
        ("long nop", b"\x90\x0F\x1F\x00", "nop dword ptr [eax] at EIP 0x00500001: not a Pentium instruction"),
        ("movd", b"\x0F\x6E\xC0", "movd mm0, eax at EIP 0x00500000: not a Pentium instruction"),
        ("pxor", b"\x66\x0F\xEF\xC0", "pxor xmm0, xmm0 at EIP 0x00500000: not a Pentium instruction"),
        ("sysenter", b"\x0F\x34", "sysenter  at EIP 0x00500000: not a Pentium instruction"),
        ("read of unmapped memory", b"\xA1\x00\x00\x00\x60", "read of unmapped memory at 0x60000000 at EIP 0x00500000"),
        ("endless loop", b"\xEB\xFE", "over the budget of 1000 instructions at EIP 0x00500000"),
    ]
    for name, code, fault in rows:
        machine = Machine(Windows(), budget=1000)
        machine.uc.mem_map(0x500000, 0x1000, UC_PROT_READ | UC_PROT_EXEC)
        machine.uc.mem_write(0x500000, code)
        try:
            result = machine.run(0x500000)
        except Fault as error:
            result = str(error)
        check(f"the machine refuses {name}", result == fault, result)
    # FS holds the thread environment block, whose self pointer is at FS:[0x18].
    machine = Machine(Windows())
    machine.uc.mem_map(0x500000, 0x1000, UC_PROT_READ | UC_PROT_EXEC)
    machine.uc.mem_write(0x500000, b"\x64\xA1\x18\x00\x00\x00\xCC")  # mov eax, fs:[0x18]; int3
    try:
        machine.run(0x500000)
    except Fault:
        pass
    check("FS is the TEB, and touching it is seen", machine.touched_teb and
          machine.uc.reg_read(UC_X86_REG_EAX) == TEB_BASE)


def model_scenarios():
    """The model of Windows refuses every argument that the program is not documented to pass."""
    def machine_with_strings():
        windows = Windows(registry={INSTALL_KEY: {b"HDPath": DIRECTORY + b"\0"}}, files={GAME: GameFile(b"MZ")})
        machine = Machine(windows)
        machine.uc.mem_map(0x500000, 0x1000, UC_PROT_READ | UC_PROT_WRITE)
        for at, text in ((0x500000, INSTALL_KEY), (0x500100, b"HDPath"), (0x500200, GAME),
                         (0x500300, b"Patch Velmora Rally for Windows 2000 - Version 1.1")):
            machine.write(at, text + b"\0")
        machine.write(0x500400, (255).to_bytes(4, "little"))
        return windows, machine

    key, subkey, value, game, caption, size, buffer, out = (0x80000002, 0x500000, 0x500100, 0x500200, 0x500300,
                                                             0x500400, 0x500500, 0x500800)
    rows = [
        ("a key other than HKEY_LOCAL_MACHINE", lambda w, m: w.RegOpenKeyExA(m, 0x80000001, subkey, 0, 0xF003F, out)),
        ("read access only", lambda w, m: w.RegOpenKeyExA(m, key, subkey, 0, 0x20019, out)),
        ("a size other than 255", lambda w, m: (w.RegOpenKeyExA(m, key, subkey, 0, 0xF003F, out),
                                                m.write(size, (256).to_bytes(4, "little")),
                                                w.RegQueryValueExA(m, 0x44, value, 0, 0, buffer, size))),
        ("the value's type asked for", lambda w, m: (w.RegOpenKeyExA(m, key, subkey, 0, 0xF003F, out),
                                                     w.RegQueryValueExA(m, 0x44, value, 0, out, buffer, size))),
        ("a shared open", lambda w, m: w.CreateFileA(m, game, 0xC0000000, 1, 0, 3, 0x80, 0)),
        ("a read-only view", lambda w, m: (w.CreateFileA(m, game, 0xC0000000, 0, 0, 3, 0x80, 0),
                                           w.CreateFileMappingA(m, 0x44, 0, 4, 0, 0, 0),
                                           w.MapViewOfFile(m, 0x48, 4, 0, 0, 0))),
        ("the file closed before its mapping", lambda w, m: (w.CreateFileA(m, game, 0xC0000000, 0, 0, 3, 0x80, 0),
                                                             w.CreateFileMappingA(m, 0x44, 0, 4, 0, 0, 0),
                                                             w.CloseHandle(m, 0x44))),
        ("the exit with a file open", lambda w, m: (w.CreateFileA(m, game, 0xC0000000, 0, 0, 3, 0x80, 0),
                                                    w.ExitProcess(m, 0))),
        ("a box with an owner window", lambda w, m: w.MessageBoxA(m, 0x10010, caption, caption, 0x40)),
        ("a box of another style", lambda w, m: w.MessageBoxA(m, 0, caption, caption, 0x20)),
    ]
    for name, call in rows:
        windows, machine = machine_with_strings()
        try:
            call(windows, machine)
            refused = False
        except Fault:
            refused = True
        check(f"the model refuses {name}", refused)

    # The documented calls, in their order, pass.
    windows, machine = machine_with_strings()
    try:
        opened = windows.RegOpenKeyExA(machine, key, subkey, 0, 0xF003F, out)
        queried = windows.RegQueryValueExA(machine, 0x44, value, 0, 0, buffer, size)
        windows.RegCloseKey(machine, 0x44)
        file = windows.CreateFileA(machine, game, 0xC0000000, 0, 0, 3, 0x80, 0)
        windows.GetFileSize(machine, file, 0)
        mapping = windows.CreateFileMappingA(machine, file, 0, 4, 0, 0, 0)
        windows.UnmapViewOfFile(machine, windows.MapViewOfFile(machine, mapping, 2, 0, 0, 0))
        windows.CloseHandle(machine, mapping)
        windows.CloseHandle(machine, file)
        windows.MessageBoxA(machine, 0, caption, caption, 0x40)
        windows.ExitProcess(machine, 0)
        passed = (opened, queried, machine.read(buffer, len(DIRECTORY) + 1)) == (0, 0, DIRECTORY + b"\0")
    except Fault as fault:
        passed = str(fault)
    check("the model takes the documented calls", passed is True, passed)


def release_scenarios(release, base):
    game_a = planted(base, (PALETTE_AT, PALETTE_A))
    game_b = planted(base, (PALETTE_AT, PALETTE_B), (PLATFORM_AT, PLATFORM))
    patched_a = planted(base, (PALETTE_AT, PALETTE_NEW))
    patched_b = planted(base, (PALETTE_AT, PALETTE_NEW), (PLATFORM_AT, PLATFORM_NEW))
    long_254 = b"C:\\Games\\" + b"L" * 245
    long_255 = long_254 + b"M"
    assert len(long_254) == 254

    def hdpath(text):
        return {INSTALL_KEY: {b"HDPath": text + b"\0"}}

    # name, registry, files {path: GameFile}, answers, boxes, calls, the game's bytes afterwards
    rows = [
        ("not installed", {}, {GAME: GameFile(game_a)}, [], [NOT_INSTALLED], ["RegOpenKeyExA"] + BOX + END,
         game_a),
        ("key without the value", {INSTALL_KEY: {b"Other": b"x\0"}}, {GAME: GameFile(game_a)}, [], [NOT_INSTALLED],
         REGISTRY + BOX + END, game_a),
        ("Cancel", hdpath(DIRECTORY), {GAME: GameFile(game_a)}, [2], [confirm(GAME)], REGISTRY + BOX + END, game_a),
        ("build A", hdpath(DIRECTORY), {GAME: GameFile(game_a)}, [1], [confirm(GAME), APPLIED],
         REGISTRY + BOX + PATCH_FILE + BOX + END, patched_a),
        ("build B", hdpath(DIRECTORY), {GAME: GameFile(game_b)}, [1], [confirm(GAME), APPLIED],
         REGISTRY + BOX + 3 * PATCH_FILE + BOX + END, patched_b),
        ("already applied", hdpath(DIRECTORY), {GAME: GameFile(patched_b)}, [1], [confirm(GAME), ALREADY],
         REGISTRY + BOX + 3 * PATCH_FILE + BOX + END, patched_b),
        ("not found", hdpath(DIRECTORY), {GAME: GameFile(base)}, [1], [confirm(GAME), NOT_FOUND],
         REGISTRY + BOX + 3 * PATCH_FILE + BOX + END, base),
        ("game held open", hdpath(DIRECTORY), {GAME: GameFile(game_a, held=True)}, [1], [confirm(GAME), NOT_FOUND],
         REGISTRY + BOX + 3 * REFUSED + BOX + END, game_a),
        ("empty file", hdpath(DIRECTORY), {GAME: GameFile(b"")}, [1], [confirm(GAME), NOT_FOUND],
         REGISTRY + BOX + 3 * EMPTY_FILE + BOX + END, b""),
        ("HDPath of 254 characters", hdpath(long_254), {long_254 + b"\\rally.exe": GameFile(game_a)}, [1],
         [confirm(long_254 + b"\\rally.exe"), NOT_FOUND], REGISTRY + BOX + 3 * REFUSED + BOX + END, game_a),
        ("HDPath of 255 characters", hdpath(long_255), {long_255 + b"\\rally.exe": GameFile(game_a)}, [],
         [NOT_INSTALLED], REGISTRY + BOX + END, game_a),
        ("HDPath with a trailing backslash", hdpath(DIRECTORY + b"\\"), {GAME: GameFile(game_a)}, [1],
         [confirm(DIRECTORY + b"\\\\rally.exe"), APPLIED], REGISTRY + BOX + PATCH_FILE + BOX + END, patched_a),
    ]
    for name, registry, files, answers, boxes, calls, after in rows:
        windows = Windows(registry=registry, files=files, answers=answers)
        result, machine = run(release, RELEASE_IMPORTS, windows)
        made = [call for call, _ in machine.calls]
        game = next(iter(windows.files.values())).data
        check(f"{name}: exit code 0", result == 0, result)
        check(f"{name}: its boxes", windows.boxes == boxes, windows.boxes)
        check(f"{name}: its calls", made == calls, made)
        check(f"{name}: the game's bytes", game == after,
              f"{sum(a != b for a, b in zip(game, after))} bytes differ, length {len(game)}")
        print(f"      {name}: {machine.instructions:,} instructions; TEB touched: {machine.touched_teb}")

    # The same run with the image base taken: the loader relocates, and the program still patches.
    windows = Windows(registry=hdpath(DIRECTORY), files={GAME: GameFile(game_a)}, answers=[1])
    result, machine = run(release, RELEASE_IMPORTS, windows, base_taken=True)
    check("relocated: build A applied", result == 0 and machine.image_base != Image(release).base and
          windows.boxes == [confirm(GAME), APPLIED] and next(iter(windows.files.values())).data == patched_a,
          (result, hex(machine.image_base), windows.boxes))


STANDIN_IMPORTS = ("ExitProcess", "GetVersionExA")
RAN_UNTOUCHED, RAN_READ, REFUSED_SYSTEM = 0, 1, 2


def standin_scenarios(release, standins):
    directory = b"C:\\Program Files\\Velmora Rally"
    for build, path in standins:
        with open(path, "rb") as f:
            original = f.read()
        if build == "B":
            # The release may import its twelve calls and no other: the stand-in's GetVersionExA is refused.
            try:
                Machine(Windows()).load(original, Windows().imports(*RELEASE_IMPORTS))
                refused = ""
            except Fault as fault:
                refused = str(fault)
            check("an import outside the allowed list fails the load",
                  refused == "import outside the allowed list: KERNEL32!GetVersionExA", refused)
        palette = PALETTE_A if build == "A" else PALETTE_B
        at = original.find(palette)
        check(f"stand-in {build}: holds the game's palette routine once", at >= 0 and original.count(palette) == 1)
        if build == "B":
            check("stand-in B: holds the platform routine's end once", original.count(PLATFORM) == 1)
        unpatched_2000, machine = run(original, STANDIN_IMPORTS, Windows(version=WINDOWS_2000))
        if build == "A":
            # The first port access is the out at offset 20: ring 3 with IOPL 0 may not reach the DAC.
            check("stand-in A, Windows 2000, unpatched: faults at the palette routine's port access",
                  unpatched_2000 == f"fault: exception 13 (general protection) at EIP {address_of(original, at + 20):#010x}",
                  unpatched_2000)
        else:
            check("stand-in B, Windows 2000, unpatched: refuses the system", unpatched_2000 == REFUSED_SYSTEM,
                  unpatched_2000)
        print(f"      stand-in {build}, Windows 2000, unpatched: {unpatched_2000} "
              f"after {machine.instructions:,} instructions")
        unpatched_98, machine = run(original, STANDIN_IMPORTS, Windows(version=WINDOWS_98))
        check(f"stand-in {build}, Windows 98, unpatched: runs to the end, reading the palette",
              unpatched_98 == RAN_READ, unpatched_98)
        print(f"      stand-in {build}, Windows 98, unpatched: {unpatched_98} "
              f"after {machine.instructions:,} instructions")

        windows = Windows(registry={INSTALL_KEY: {b"HDPath": directory + b"\0"}},
                          files={directory + b"\\RALLY.EXE": GameFile(original)}, answers=[1])
        result, machine = run(release, RELEASE_IMPORTS, windows)
        patched = bytes(next(iter(windows.files.values())).data)
        check(f"stand-in {build}: the release patches it", result == 0 and windows.boxes[-1] == APPLIED,
              (result, windows.boxes))
        for version, name in ((WINDOWS_2000, "Windows 2000"), (WINDOWS_98, "Windows 98")):
            outcome, machine = run(patched, STANDIN_IMPORTS, Windows(version=version))
            check(f"stand-in {build}, {name}, patched: runs to the end, the buffer untouched, ESP and the "
                  f"saved registers kept", outcome == RAN_UNTOUCHED, outcome)
            print(f"      stand-in {build}, {name}, patched: {outcome} after {machine.instructions:,} instructions")


def pentium_check_refuses_i686(source, work, base):
    """The release built with -march=i686 picks its outcome box with CMOV; the run must fail there."""
    build = os.path.join(work, "i686")
    subprocess.run(["cmake", "-S", source, "-B", build, "-G", "Ninja",
                    "--toolchain", os.path.join(source, "cmake", "i686-w64-mingw32.cmake"),
                    "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DQUORVANT_ARCH_FLAGS=-march=i686"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "quorvant"], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(build, "quorvant.exe"), "rb") as f:
        i686 = f.read()
    windows = Windows(registry={INSTALL_KEY: {b"HDPath": DIRECTORY + b"\0"}}, files={GAME: GameFile(base)},
                      answers=[1])
    result, _ = run(i686, RELEASE_IMPORTS, windows)
    check("a -march=i686 build fails on the Pentium", isinstance(result, str) and "not a Pentium instruction" in result,
          result)
    print(f"      -march=i686: {result}")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--release", "--standin-a", "--standin-b", "--make-game", "--source", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    os.environ.setdefault("QUORVANT_EMULATOR_BUILD", args.work)
    base_path = os.path.join(args.work, "no-blocks.exe")
    subprocess.run([args.make_game, "no-blocks", base_path], check=True)
    with open(base_path, "rb") as f:
        base = f.read()
    with open(args.release, "rb") as f:
        release = f.read()
    machine_scenarios()
    model_scenarios()
    release_scenarios(release, base)
    standin_scenarios(release, [("A", args.standin_a), ("B", args.standin_b)])
    pentium_check_refuses_i686(args.source, args.work, base)
    print("emulated release checks: " + ("all passed" if not failures else f"{len(failures)} failed"))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
