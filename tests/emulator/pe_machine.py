"""A 32-bit Windows program run instruction by instruction on an emulated Pentium.

The machine loads a PE32 image, binds each import to a stub that calls a Python function (the
model of the system behind it), and runs the program in user mode as the NT family does: ring 3,
IOPL 0, FS on a thread environment block. Every instruction is counted, and every block is decoded
once, the first time it runs, and refused if it holds an instruction that a P5 Pentium lacks.

Any fault ends the run with a failure that names the EIP: a read, write or fetch of unmapped or
protected memory, an invalid instruction, a processor exception (port I/O and privileged
instructions raise #GP here), a call into the system with arguments the model does not allow, or
running over the instruction budget.
"""
import ctypes
import os
import struct
import subprocess

import capstone
import unicorn
from unicorn import x86_const as x86

PAGE = 0x1000
GDT_BASE = 0x7FFF0000
BOOT_BASE = 0x7FFF1000       # ring-0 code that drops to ring 3
BOOT_STACK = 0x7FFF3000
TEB_BASE = 0x7FFDE000
STUB_BASE = 0x7FF00000       # one 16-byte stub per import
STACK_BASE = 0x00200000      # the main thread's stack, 1 MiB as the linker reserves it
STACK_SIZE = 0x00100000
VIEW_BASE = 0x10000000       # file views are mapped from here up

KERNEL_CODE, KERNEL_DATA, USER_CODE, USER_DATA, USER_TEB = 0x08, 0x10, 0x1B, 0x23, 0x3B

# What a P5 Pentium lacks, by capstone's instruction groups and mnemonics.
NEWER_GROUPS = {capstone.x86.X86_GRP_CMOV, capstone.x86.X86_GRP_MMX, capstone.x86.X86_GRP_3DNOW,
                capstone.x86.X86_GRP_SSE1, capstone.x86.X86_GRP_SSE2, capstone.x86.X86_GRP_SSE3,
                capstone.x86.X86_GRP_SSSE3, capstone.x86.X86_GRP_SSE41, capstone.x86.X86_GRP_SSE42,
                capstone.x86.X86_GRP_SSE4A, capstone.x86.X86_GRP_AVX, capstone.x86.X86_GRP_AVX2,
                capstone.x86.X86_GRP_FMA}
NEWER_MNEMONICS = ("cmov", "fcmov", "fcomi", "fucomi", "sysenter", "sysexit", "rdpmc", "ud2", "prefetch",
                   "fxsave", "fxrstor", "sfence", "lfence", "mfence", "clflush", "emms", "movnti", "pause")


class Fault(Exception):
    """The program did something the machine or the model refuses."""


def round_up(value, unit=PAGE):
    return (value + unit - 1) // unit * unit


def _tracker_library():
    """Builds hooks.c once into a shared object beside this file's build output."""
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hooks.c")
    out_dir = os.environ.get("QUORVANT_EMULATOR_BUILD", "/tmp/quorvant-emulator")
    os.makedirs(out_dir, exist_ok=True)
    library = os.path.join(out_dir, "hooks.so")
    if not os.path.exists(library) or os.path.getmtime(library) < os.path.getmtime(source):
        scratch = f"{library}.{os.getpid()}"
        subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", scratch, source], check=True)
        os.replace(scratch, library)
    return ctypes.CDLL(library)


class Tracker(ctypes.Structure):
    _fields_ = [("instructions", ctypes.c_uint64), ("budget", ctypes.c_uint64), ("stop", ctypes.c_void_p),
                ("over_budget", ctypes.c_int), ("new_block", ctypes.c_uint32),
                ("new_block_size", ctypes.c_uint32), ("seen", ctypes.c_uint32 * (1 << 16))]


def descriptor(base, limit, access, flags):
    return struct.pack("<HHBBBB", limit & 0xFFFF, base & 0xFFFF, (base >> 16) & 0xFF, access,
                       ((limit >> 16) & 0x0F) | (flags << 4), (base >> 24) & 0xFF)


class Image:
    """A PE32 file's headers, sections, relocations and imports."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise Fault("not an MZ file")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise Fault("not a PE file")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        if machine != 0x14C or struct.unpack_from("<H", data, opt)[0] != 0x10B:
            raise Fault("not a PE32 image for i386")
        self.entry = struct.unpack_from("<I", data, opt + 16)[0]
        self.base = struct.unpack_from("<I", data, opt + 28)[0]
        self.size = struct.unpack_from("<I", data, opt + 56)[0]
        self.headers_size = struct.unpack_from("<I", data, opt + 60)[0]
        directories = opt + 96
        self.imports_rva = struct.unpack_from("<I", data, directories + 8)[0]
        self.relocs_rva, self.relocs_size = struct.unpack_from("<II", data, directories + 40)
        self.sections = []
        for i in range(sections):
            at = opt + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode()
            vsize, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            flags = struct.unpack_from("<I", data, at + 36)[0]
            self.sections.append((name, rva, max(vsize, raw_size), data[raw:raw + min(raw_size, vsize or raw_size)],
                                  flags, raw))


class Machine:
    """One process: load(), then run(). calls holds each system call made, in order."""

    def __init__(self, model, budget=2_000_000_000, iopl=0, cpu=x86.UC_CPU_X86_PENTIUM):
        self.model = model
        self.uc = unicorn.Uc(unicorn.UC_ARCH_X86, unicorn.UC_MODE_32)
        self.uc.ctl_set_cpu_model(cpu)
        self.iopl = iopl
        self.disassembler = capstone.Cs(capstone.CS_ARCH_X86, capstone.CS_MODE_32)
        self.disassembler.detail = True
        self.stubs = {}          # address -> (name, argument count, handler)
        self.exit_code = None
        self.fault = None
        self.touched_teb = False
        self.calls = []
        self.next_view = VIEW_BASE
        self._set_up_processor()
        self._tracker = Tracker(budget=budget)
        library = _tracker_library()
        self._tracker.stop = ctypes.cast(unicorn.unicorn._uc.uc_emu_stop, ctypes.c_void_p).value
        self._c_hooks = []
        for kind, function in ((unicorn.UC_HOOK_CODE, library.CountInstruction),
                               (unicorn.UC_HOOK_BLOCK, library.NoteBlock)):
            handle = unicorn.unicorn.uc_hook_h()
            status = unicorn.unicorn._uc.uc_hook_add(
                self.uc._uch, ctypes.byref(handle), kind, ctypes.cast(function, ctypes.c_void_p),
                ctypes.cast(ctypes.pointer(self._tracker), ctypes.c_void_p), ctypes.c_uint64(1), ctypes.c_uint64(0))
            if status != unicorn.UC_ERR_OK:
                raise unicorn.UcError(status)
            self._c_hooks.append(handle)
        self.uc.hook_add(unicorn.UC_HOOK_CODE, self._on_stub, begin=STUB_BASE, end=STUB_BASE + PAGE - 1)
        self.uc.hook_add(unicorn.UC_HOOK_INTR, self._on_exception)
        self.uc.hook_add(unicorn.UC_HOOK_MEM_INVALID, self._on_bad_memory)
        self.uc.hook_add(unicorn.UC_HOOK_INSN_INVALID, self._on_invalid_instruction)
        self.uc.hook_add(unicorn.UC_HOOK_MEM_READ | unicorn.UC_HOOK_MEM_WRITE, self._on_teb,
                         begin=TEB_BASE, end=TEB_BASE + PAGE - 1)
        # This unicorn lets every IN and OUT through, whatever the privilege: the check the processor
        # makes (CPL above IOPL, and no TSS I/O bitmap, raises #GP) is made here.
        self.ports = None  # a device: in_(port, size) -> value, out(port, size, value)
        self.uc.hook_add(unicorn.UC_HOOK_INSN, self._on_in, None, 1, 0, x86.UC_X86_INS_IN)
        self.uc.hook_add(unicorn.UC_HOOK_INSN, self._on_out, None, 1, 0, x86.UC_X86_INS_OUT)

    @property
    def instructions(self):
        return self._tracker.instructions

    # Processor: a flat GDT, ring-0 boot code that irets to ring 3 with the IOPL chosen.
    def _set_up_processor(self):
        uc = self.uc
        gdt = b"".join([bytes(8),
                        descriptor(0, 0xFFFFF, 0x9A, 0xC), descriptor(0, 0xFFFFF, 0x92, 0xC),
                        descriptor(0, 0xFFFFF, 0xFA, 0xC), descriptor(0, 0xFFFFF, 0xF2, 0xC),
                        bytes(8), bytes(8), descriptor(TEB_BASE, PAGE - 1, 0xF2, 0x4)])
        uc.mem_map(GDT_BASE, PAGE, unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        uc.mem_write(GDT_BASE, gdt)
        uc.reg_write(x86.UC_X86_REG_GDTR, (0, GDT_BASE, len(gdt) - 1, 0))
        uc.reg_write(x86.UC_X86_REG_SS, KERNEL_DATA)
        uc.reg_write(x86.UC_X86_REG_DS, KERNEL_DATA)
        uc.reg_write(x86.UC_X86_REG_ES, KERNEL_DATA)
        uc.reg_write(x86.UC_X86_REG_CS, KERNEL_CODE)
        uc.mem_map(TEB_BASE, PAGE, unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        # NT_TIB: no exception handler, the stack's bounds, and the TEB's own address.
        uc.mem_write(TEB_BASE, struct.pack("<IIII", 0xFFFFFFFF, STACK_BASE + STACK_SIZE, STACK_BASE, 0))
        uc.mem_write(TEB_BASE + 0x18, struct.pack("<I", TEB_BASE))
        uc.mem_map(STACK_BASE, STACK_SIZE, unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        uc.mem_map(STUB_BASE, PAGE, unicorn.UC_PROT_READ | unicorn.UC_PROT_EXEC)
        uc.mem_write(STUB_BASE, b"\xF4" * PAGE)  # hlt: faults at ring 3 should a stub ever run

    def _boot_code(self, entry, user_esp):
        eflags = 0x202 | (self.iopl << 12)
        return b"".join([
            b"\x66\xB8" + struct.pack("<H", USER_DATA), b"\x8E\xD8", b"\x8E\xC0",  # mov ax, ds, es
            b"\x66\xB8" + struct.pack("<H", USER_TEB), b"\x8E\xE0",                # mov ax; mov fs, ax
            b"\x68" + struct.pack("<I", USER_DATA), b"\x68" + struct.pack("<I", user_esp),
            b"\x68" + struct.pack("<I", eflags), b"\x68" + struct.pack("<I", USER_CODE),
            b"\x68" + struct.pack("<I", entry), b"\xCF"])                           # pushes; iretd

    # Loading.
    def load(self, data, allowed):
        """Maps the image at its ImageBase, or relocated to a free place where that is taken; binds
        its imports by DLL and name to the handlers in allowed ({(DLL, name): (argument count,
        handler)}). Returns the entry point."""
        image = Image(data)
        load_at = image.base
        while self._taken(load_at, round_up(image.size)):
            load_at += 0x00400000
        self.uc.mem_map(load_at, round_up(image.size), unicorn.UC_PROT_NONE)
        self.uc.mem_protect(load_at, round_up(image.headers_size), unicorn.UC_PROT_READ)
        self.uc.mem_write(load_at, data[:image.headers_size])
        for name, rva, size, raw, flags, _ in image.sections:
            self.uc.mem_write(load_at + rva, raw)
        if load_at != image.base:
            self._relocate(image, load_at)
        self._bind_imports(image, load_at, allowed)
        for name, rva, size, raw, flags, _ in image.sections:
            protection = ((unicorn.UC_PROT_EXEC if flags & 0x20000000 else 0) |
                          (unicorn.UC_PROT_READ if flags & 0x40000000 else 0) |
                          (unicorn.UC_PROT_WRITE if flags & 0x80000000 else 0))
            self.uc.mem_protect(load_at + rva, round_up(size), protection)
        self.image_base = load_at
        return load_at + image.entry

    def _taken(self, address, size):
        return any(begin < address + size and address <= end for begin, end, _ in self.uc.mem_regions())

    def _relocate(self, image, load_at):
        if not image.relocs_rva:
            raise Fault("the image base is taken and the image has no relocations")
        delta = (load_at - image.base) & 0xFFFFFFFF
        at = image.relocs_rva
        while at < image.relocs_rva + image.relocs_size:
            page, block_size = struct.unpack("<II", self.uc.mem_read(load_at + at, 8))
            if block_size < 8:
                break
            for i in range((block_size - 8) // 2):
                entry = struct.unpack("<H", self.uc.mem_read(load_at + at + 8 + 2 * i, 2))[0]
                kind, offset = entry >> 12, entry & 0xFFF
                if kind == 3:  # IMAGE_REL_BASED_HIGHLOW
                    where = load_at + page + offset
                    value = struct.unpack("<I", self.uc.mem_read(where, 4))[0]
                    self.uc.mem_write(where, struct.pack("<I", (value + delta) & 0xFFFFFFFF))
                elif kind != 0:
                    raise Fault(f"relocation of type {kind}")
            at += block_size

    def _bind_imports(self, image, load_at, allowed):
        at = load_at + image.imports_rva
        while True:
            lookup, _, _, name_rva, address_rva = struct.unpack("<IIIII", self.uc.mem_read(at, 20))
            if not name_rva:
                break
            dll = self.read_string(load_at + name_rva).decode().upper().removesuffix(".DLL")
            slot = 0
            while True:
                entry = struct.unpack("<I", self.uc.mem_read(load_at + (lookup or address_rva) + 4 * slot, 4))[0]
                if not entry:
                    break
                if entry & 0x80000000:
                    raise Fault(f"{dll} imported by ordinal {entry & 0xFFFF}")
                name = self.read_string(load_at + entry + 2).decode()
                if (dll, name) not in allowed:
                    raise Fault(f"import outside the allowed list: {dll}!{name}")
                stub = STUB_BASE + 16 * len(self.stubs)
                self.stubs[stub] = (name,) + allowed[(dll, name)]
                self.uc.mem_write(load_at + address_rva + 4 * slot, struct.pack("<I", stub))
                slot += 1
            at += 20

    # Memory helpers for the model.
    def read(self, address, size):
        try:
            return bytes(self.uc.mem_read(address, size))
        except unicorn.UcError:
            raise Fault(f"the system was handed memory it cannot read: {size} bytes at {address:#x}")

    def write(self, address, data):
        try:
            self.uc.mem_write(address, bytes(data))
        except unicorn.UcError:
            raise Fault(f"the system was handed memory it cannot write: {len(data)} bytes at {address:#x}")

    def writable(self, address, size):
        """True when the program's own code could write size bytes at address."""
        for begin, end, protection in self.uc.mem_regions():
            if begin <= address and address + size - 1 <= end:
                return bool(protection & unicorn.UC_PROT_WRITE)
        return False

    def read_string(self, address, limit=4096):
        data = bytearray()
        while len(data) < limit:
            byte = self.read(address + len(data), 1)
            if byte == b"\0":
                return bytes(data)
            data += byte
        raise Fault(f"no NUL within {limit} bytes at {address:#x}")

    def map_view(self, data):
        address = self.next_view
        size = round_up(max(len(data), 1), 0x10000)
        self.uc.mem_map(address, size, unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        self.uc.mem_write(address, bytes(data))
        self.next_view += size + 0x10000
        return address

    def unmap_view(self, address, length):
        data = self.read(address, length)
        for begin, end, _ in list(self.uc.mem_regions()):
            if begin == address:
                self.uc.mem_unmap(begin, end - begin + 1)
        return data

    # Hooks.
    def _stop(self, message):
        if self.fault is None:
            self.fault = f"{message} at EIP {self.uc.reg_read(x86.UC_X86_REG_EIP):#010x}"
        self.uc.emu_stop()

    def _on_stub(self, uc, address, size, _):
        name, count, handler = self.stubs.get(address, (None, 0, None))
        if handler is None:
            return self._stop(f"a jump into the system at {address:#x}")
        esp = uc.reg_read(x86.UC_X86_REG_ESP)
        words = struct.unpack(f"<{count + 1}I", self.read(esp, 4 * (count + 1)))
        self.calls.append((name, words[1:]))
        try:
            result = handler(self, *words[1:])
        except Fault as fault:
            return self._stop(f"{name}{tuple(hex(w) for w in words[1:])}: {fault}")
        if self.exit_code is not None:
            return uc.emu_stop()
        uc.reg_write(x86.UC_X86_REG_EAX, result & 0xFFFFFFFF)
        uc.reg_write(x86.UC_X86_REG_ECX, 0xC1C1C1C1)  # clobbered, as a real call leaves them
        uc.reg_write(x86.UC_X86_REG_EDX, 0xD1D1D1D1)
        uc.reg_write(x86.UC_X86_REG_ESP, esp + 4 * (count + 1))  # stdcall: the callee pops
        uc.reg_write(x86.UC_X86_REG_EIP, words[0])

    def _on_exception(self, uc, number, _):
        names = {0: "divide error", 1: "debug", 3: "breakpoint", 6: "invalid instruction", 13: "general protection",
                 14: "page fault"}
        self._stop(f"exception {number} ({names.get(number, 'other')})")

    def _on_bad_memory(self, uc, access, address, size, value, _):
        kinds = {unicorn.UC_MEM_READ_UNMAPPED: "read of unmapped", unicorn.UC_MEM_WRITE_UNMAPPED: "write of unmapped",
                 unicorn.UC_MEM_FETCH_UNMAPPED: "fetch from unmapped", unicorn.UC_MEM_READ_PROT: "read of protected",
                 unicorn.UC_MEM_WRITE_PROT: "write of protected", unicorn.UC_MEM_FETCH_PROT: "fetch from non-code"}
        self._stop(f"{kinds.get(access, 'bad access to')} memory at {address:#x}")
        return False

    def _on_invalid_instruction(self, uc, _):
        self._stop("invalid instruction")
        return False

    def _port_allowed(self):
        cpl = self.uc.reg_read(x86.UC_X86_REG_CS) & 3
        iopl = (self.uc.reg_read(x86.UC_X86_REG_EFLAGS) >> 12) & 3
        if cpl > iopl:
            self._stop("exception 13 (general protection)")
            return False
        return self.ports is not None

    def _on_in(self, uc, port, size, _):
        return self.ports.in_(port, size) if self._port_allowed() else 0

    def _on_out(self, uc, port, size, value, _):
        if self._port_allowed():
            self.ports.out(port, size, value)

    def _on_teb(self, uc, access, address, size, value, _):
        self.touched_teb = True

    def _check_block(self, address, size):
        code = self.read(address, size)
        for insn in self.disassembler.disasm(code, address):
            long_nop = insn.mnemonic == "nop" and insn.size > 1 and code[insn.address - address] == 0x0F
            if (set(insn.groups) & NEWER_GROUPS or insn.mnemonic.startswith(NEWER_MNEMONICS) or long_nop
                    or any(op.type == capstone.x86.X86_OP_REG and self.disassembler.reg_name(op.reg).startswith(("mm", "xmm"))
                           for op in insn.operands)):
                self.fault = f"{insn.mnemonic} {insn.op_str} at EIP {insn.address:#010x}: not a Pentium instruction"
                return False
        return True

    # Running.
    def run(self, entry):
        """Runs from entry until ExitProcess or a fault; returns the exit code, or raises Fault."""
        return_stub = STUB_BASE + PAGE - 16  # where the entry would return to: a hlt, which faults
        esp = STACK_BASE + STACK_SIZE - 16
        self.uc.mem_write(esp, struct.pack("<I", return_stub))
        self.uc.mem_map(BOOT_BASE, PAGE, unicorn.UC_PROT_READ | unicorn.UC_PROT_EXEC)
        self.uc.mem_write(BOOT_BASE, self._boot_code(entry, esp))
        self.uc.mem_map(BOOT_STACK, PAGE, unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        self.uc.reg_write(x86.UC_X86_REG_ESP, BOOT_STACK + PAGE - 16)
        start = BOOT_BASE
        while True:
            try:
                self.uc.emu_start(start, 0xFFFFFFFF)
            except unicorn.UcError as error:
                if self.fault is None:
                    self.fault = f"{error} at EIP {self.uc.reg_read(x86.UC_X86_REG_EIP):#010x}"
            tracker = self._tracker
            if tracker.new_block_size:
                checked = self._check_block(tracker.new_block, tracker.new_block_size)
                tracker.new_block_size = 0
                if not checked:
                    break
            if self.fault is not None or self.exit_code is not None:
                break
            if tracker.over_budget:
                self.fault = (f"over the budget of {tracker.budget} instructions at EIP "
                              f"{self.uc.reg_read(x86.UC_X86_REG_EIP):#010x}")
                break
            start = self.uc.reg_read(x86.UC_X86_REG_EIP)
        if self.fault is not None:
            raise Fault(self.fault)
        if self.uc.reg_read(x86.UC_X86_REG_CS) & 3 != 3:
            raise Fault("the program ran outside ring 3")
        return self.exit_code
