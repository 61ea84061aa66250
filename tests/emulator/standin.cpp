// A stand-in for the game: a 32-bit Windows program, without a C runtime, whose code holds the
// game's own routines byte for byte and runs them as the game does. Built twice: build A holds
// build A's palette reader; build B (STANDIN_BUILD_B) holds build B's palette reader with its fill
// and the routine that asks for the Windows family, which it runs first.
//
// Its exit code tells how the run ended; a fault is the emulator's to report.
#include <windows.h>

#include <cstdint>

enum StandInExit : unsigned {
    kRanPaletteUntouched = 0,  // ran to the end; the palette routine left the buffer as it was
    kRanPaletteRead = 1,       // ran to the end; the palette routine filled the buffer from the DAC
    kRefusedSystem = 2,        // the platform routine answered 1: "unsupported system"
    kStateNotKept = 3,         // a routine changed ESP or a register it must keep
    kOverran = 4,              // a routine wrote outside the caller's 768 bytes
};

// Each runs one routine with sentinels in EBX, ESI, EDI and EBP, and gives 1 only when ESP and
// those four are as they were before the call.
extern "C" int CallPalette(uint8_t* buffer);
extern "C" int CallPlatform();

// The checked call: sentinels in the registers a routine must keep, the stack pointer noted, the
// routine called (with its one argument pushed when it takes one), and 1 in EAX only when all is
// as it was. The routine's own EAX is kept in routineAnswer.
asm(R"(
    .macro CHECKED_CALL routine, argument
    push %ebp
    push %ebx
    push %esi
    push %edi
    mov $0xB0B0B0B0, %ebx
    mov $0x50505050, %esi
    mov $0xD0D0D0D0, %edi
    mov $0xE0E0E0E0, %ebp
    mov %esp, _savedStack
    .if \argument
    pushl 20(%esp)
    .endif
    call \routine
    mov %eax, _routineAnswer
    xor %eax, %eax
    cmp _savedStack, %esp
    jne 1f
    cmp $0xB0B0B0B0, %ebx
    jne 1f
    cmp $0x50505050, %esi
    jne 1f
    cmp $0xD0D0D0D0, %edi
    jne 1f
    cmp $0xE0E0E0E0, %ebp
    jne 1f
    inc %eax
1:  pop %edi
    pop %esi
    pop %ebx
    pop %ebp
    ret
    .endm

    .data
_savedStack: .long 0
    .globl _routineAnswer
_routineAnswer: .long 0

    .text
    .globl _CallPalette
_CallPalette:
    CHECKED_CALL _PaletteRoutine, 1
)");

// The game's routines, byte for byte, on the 16-byte boundaries where its compiler put them.
#if STANDIN_BUILD_B
asm(R"(
    .text
    .p2align 4
_PaletteRoutine:
    .byte 0x55, 0x8B, 0xEC, 0x57, 0x8B, 0x7D, 0x08, 0xB9, 0x00, 0x03, 0x00, 0x00
    .byte 0x66, 0xBA, 0xC7, 0x03, 0x32, 0xC0, 0xEE, 0x66, 0x42, 0x66, 0x42, 0xFC
    .byte 0xEC, 0xAA, 0xEB, 0x00, 0xE2, 0xFA, 0x5F, 0x5D, 0xC2, 0x04, 0x00
    .byte 0x90, 0x90, 0x90, 0x90

    .p2align 4
_PlatformRoutine:
    sub $0x94, %esp
    movl $0x94, (%esp)
    push %esp
    call *__imp__GetVersionExA@4
    .byte 0x85, 0xC0, 0x74, 0x0D, 0x8B, 0x4C, 0x24, 0x10, 0xB8, 0x01, 0x00, 0x00, 0x00
    .byte 0x3B, 0xC8, 0x75, 0x02, 0x33, 0xC0, 0x81, 0xC4, 0x94, 0x00, 0x00, 0x00, 0xC3

    .globl _CallPlatform
_CallPlatform:
    CHECKED_CALL _PlatformRoutine, 0
)");
#else
asm(R"(
    .text
    .p2align 4
_PaletteRoutine:
    .byte 0x55, 0x8B, 0xEC, 0x53, 0x56, 0x57, 0x8B, 0x7D, 0x08, 0xB9, 0x00, 0x03, 0x00, 0x00
    .byte 0x66, 0xBA, 0xC7, 0x03, 0x32, 0xC0, 0xEE, 0x66, 0x42, 0x66, 0x42, 0xFC
    .byte 0xEC, 0xAA, 0xEB, 0x00, 0xE2, 0xFA, 0x5F, 0x5E, 0x5B, 0x5D, 0xC2, 0x04, 0x00
)");
#endif

extern "C" uint32_t routineAnswer;

namespace {

constexpr uint32_t kPaletteBytes = 768;  // 256 entries of red, green and blue
constexpr uint32_t kGuard = 16;
constexpr uint8_t kFill = 0xA5;

uint8_t buffer[kGuard + kPaletteBytes + kGuard];

}  // namespace

extern "C" void StandInEntry() {
#if STANDIN_BUILD_B
    // Build B asks for the Windows family first, and stops on any but Windows 95/98/ME.
    if (!CallPlatform()) ExitProcess(kStateNotKept);
    if (routineAnswer == 1) ExitProcess(kRefusedSystem);
#endif
    for (uint8_t& byte : buffer) byte = kFill;
    if (!CallPalette(buffer + kGuard)) ExitProcess(kStateNotKept);
    bool untouched = true;
    for (uint32_t i = 0; i < sizeof buffer; ++i) {
        bool inside = i >= kGuard && i < kGuard + kPaletteBytes;
        if (!inside && buffer[i] != kFill) ExitProcess(kOverran);
        if (inside && buffer[i] != kFill) untouched = false;
    }
    ExitProcess(untouched ? kRanPaletteUntouched : kRanPaletteRead);
}
