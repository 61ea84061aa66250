// show_changes BEFORE AFTER: the bytes in which two copies of a file differ, grouped by the block
// they belong to, each block with its offset and its bytes before and after.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "tools/game_fixture.h"

namespace {

// Changes closer than this belong to one block: a rewritten routine keeps a few bytes in its middle.
constexpr size_t kGapInsideBlock = 16;
constexpr size_t kRowLength = 16;

void PrintRow(const char* label, const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& other, size_t from,
              size_t to) {
    std::printf("    %-7s", label);
    for (size_t i = from; i < to; ++i) std::printf(bytes[i] == other[i] ? "  %02X" : " *%02X", bytes[i]);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<uint8_t> before, after;
    if (argc != 3 || !ReadBytes(argv[1], &before) || !ReadBytes(argv[2], &after)) {
        std::fprintf(stderr, "usage: show_changes BEFORE AFTER (two readable files)\n");
        return 2;
    }
    if (before.size() != after.size()) {
        std::printf("The length changed: %zu bytes before, %zu after.\n", before.size(), after.size());
        return 1;
    }
    size_t changed = 0, blocks = 0;
    for (size_t i = 0; i < before.size();) {
        if (before[i] == after[i]) {
            ++i;
            continue;
        }
        size_t start = i, end = i + 1, count = 0;
        for (size_t j = i; j < before.size() && j < end + kGapInsideBlock; ++j) {
            if (before[j] != after[j]) {
                end = j + 1;
                ++count;
            }
        }
        std::printf("\n  0x%08zX to 0x%08zX: %zu bytes changed (marked *)\n", start, end - 1, count);
        // Whole rows of 16 at offsets divisible by 16, so that the routine's unchanged bytes show too.
        for (size_t row = start / kRowLength * kRowLength; row < end; row += kRowLength) {
            size_t rowEnd = std::min(row + kRowLength, before.size());
            std::printf("  0x%08zX\n", row);
            PrintRow("before", before, after, row, rowEnd);
            PrintRow("after", after, before, row, rowEnd);
        }
        changed += count;
        ++blocks;
        i = end;
    }
    std::printf("\n%zu bytes changed in %zu block%s; length unchanged (%zu bytes).\n", changed, blocks,
                blocks == 1 ? "" : "s", before.size());
    return 0;
}
