#!/usr/bin/env bash
# Reads the 32-bit release as Windows 2000 on a Pentium will meet it: its headers, its imports, its
# instructions, its resources. Usage: check_release.sh quorvant.exe WORKDIR
set -uo pipefail
exe=$1
work=$2
mkdir -p "$work"
objdump=i686-w64-mingw32-objdump
failures=0
check() {  # check NAME CONDITION-RESULT DETAIL
    if [ "$2" = 0 ]; then echo "ok    $1"; else echo "FAIL  $1: $3"; failures=$((failures + 1)); fi
}

headers=$($objdump -p "$exe")
field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }

[ "$($objdump -f "$exe" | awk '/file format/ { print $NF }')" = pei-i386 ]
check "a PE32 image for i386" $? "$($objdump -f "$exe" | head -3)"
[ "$(field Magic)" = 010b ]
check "PE32 optional header" $? "Magic $(field Magic)"
[ "$(field Subsystem)" = 00000002 ]
check "subsystem Windows GUI" $? "Subsystem $(field Subsystem)"
os="$(field MajorOSystemVersion).$(field MinorOSystemVersion)"
subsystem="$(field MajorSubsystemVersion).$(field MinorSubsystemVersion)"
awk -v a="$os" -v b="$subsystem" 'BEGIN { exit !(a + 0 <= 5.0 && b + 0 <= 5.0) }'
check "OS and subsystem versions 5.0 or lower" $? "OS $os, subsystem $subsystem"
image="$(field MajorImageVersion).$(field MinorImageVersion)"
[ "$image" = 1.1 ]
check "image version 1.1, as VERSIONINFO says" $? "image $image"
pe=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
stamp=$(od -An -tu4 -j$((pe + 8)) -N4 "$exe" | tr -d ' ')
[ "$stamp" = 0 ]
check "no time stamp in the header" $? "TimeDateStamp $stamp"

# The import table: DLL!function, one a line, sorted.
imports=$(awk '/DLL Name:/ { dll = toupper($3); sub(/\.DLL$/, "", dll) }
               dll && NF == 3 && $2 ~ /^[0-9]+$/ { print dll "!" $3 }' <<<"$headers" | sort -u)
expected=$(sort <<'LIST'
ADVAPI32!RegCloseKey
ADVAPI32!RegOpenKeyExA
ADVAPI32!RegQueryValueExA
KERNEL32!CloseHandle
KERNEL32!CreateFileA
KERNEL32!CreateFileMappingA
KERNEL32!ExitProcess
KERNEL32!GetFileSize
KERNEL32!GetLastError
KERNEL32!MapViewOfFile
KERNEL32!UnmapViewOfFile
USER32!MessageBoxA
LIST
)
[ "$imports" = "$expected" ]
check "imports exactly the program's own calls" $? "$(diff <(echo "$expected") <(echo "$imports") | grep '^[<>]' | tr '\n' ' ')"
echo "$imports" > "$work/imports.txt"

# Instructions the Pentium lacks: CMOVcc and FCMOVcc, FCOMI/FUCOMI (P6), the long NOP 0F 1F (P6),
# MMX and SSE (any %mm or %xmm register, or their own mnemonics).
$objdump -d --no-show-raw-insn "$exe" > "$work/disassembly.txt"
newer=$(grep -E '^\s+[0-9a-f]+:\s' "$work/disassembly.txt" |
        grep -iE '\s(cmov|fcmov|fcomi|fucomi|nopw|nopl|emms|movq|movd|pxor|movdq|movap|movup|sfence|lfence|mfence|prefetch|ldmxcsr|stmxcsr)|%x?mm[0-9]' || true)
[ -z "$newer" ]
check "no instruction newer than the Pentium's" $? "$(head -5 <<<"$newer")"
grep -qE '^\s+[0-9a-f]+:\s+(call|jmp)' "$work/disassembly.txt"
check "the code was disassembled" $? "no call or jmp found"

# Resources: the icon group MAINICON with one 32x32 image at 4 bits per pixel, and a version.
resources=$(wrestool -l "$exe" 2>&1)
grep -q -- "--type=14 --name='MAINICON'" <<<"$resources"
check "an icon group named MAINICON" $? "$resources"
[ "$(grep -c -- '--type=14' <<<"$resources")" = 1 ] && [ "$(grep -c -- '--type=3 ' <<<"$resources")" = 1 ]
check "one icon group holding one icon" $? "$resources"
wrestool -x --type=14 --name=MAINICON "$exe" -o "$work/MAINICON.ico" 2>/dev/null
icons=$(icotool -l "$work/MAINICON.ico" 2>&1)
[ "$icons" = "--icon --index=1 --width=32 --height=32 --bit-depth=4 --palette-size=16" ]
check "a single 32x32 image at 4 bits per pixel" $? "$icons"
icotool -x -o "$work/MAINICON.png" "$work/MAINICON.ico" 2>/dev/null
version=$(wrestool -x -R --type=16 "$exe" 2>/dev/null | iconv -f UTF-16LE -t UTF-8 2>/dev/null | tr -c '[:print:]' '\n')
grep -qx "1.1" <<<"$version" && grep -qx "Quorvant" <<<"$version" && grep -q "Windows 2000" <<<"$version"
check "a version resource: 1.1, the product name, a description" $? "$(tr '\n' ' ' <<<"$version")"

size=$(stat -c %s "$exe")
[ "$size" -le 16384 ]
check "small: $size bytes" $? "$size bytes"

[ "$failures" = 0 ] && echo "release checks: all passed" || echo "release checks: $failures failed"
[ "$failures" = 0 ]
