/* The emulator's hooks that run on every instruction and every block, in C: a Python callback
 * there would cost a microsecond each, and the release's scan runs tens of millions of them.
 * The counter is exact; a block is reported to Python once, the first time it runs, so that its
 * instructions can be checked before the run goes on. */
#include <stdint.h>

typedef void (*StopFunction)(void *uc);

enum { kSeenSlots = 1 << 16 };

struct Tracker {
    uint64_t instructions; /* executed so far */
    uint64_t budget;       /* the run stops once instructions exceed it */
    StopFunction stop;     /* uc_emu_stop */
    int over_budget;
    uint32_t new_block;      /* address of a block not seen before, when new_block_size != 0 */
    uint32_t new_block_size;
    uint32_t seen[kSeenSlots]; /* open addressing over block addresses; 0 is free */
};

void CountInstruction(void *uc, uint64_t address, uint32_t size, struct Tracker *tracker) {
    (void)address;
    (void)size;
    if (++tracker->instructions > tracker->budget && !tracker->over_budget) {
        tracker->over_budget = 1;
        tracker->stop(uc);
    }
}

void NoteBlock(void *uc, uint64_t address, uint32_t size, struct Tracker *tracker) {
    uint32_t key = (uint32_t)address + 1; /* never 0 */
    uint32_t slot = (key * 2654435761u) & (kSeenSlots - 1);
    while (tracker->seen[slot]) {
        if (tracker->seen[slot] == key) return;
        slot = (slot + 1) & (kSeenSlots - 1);
    }
    tracker->seen[slot] = key;
    tracker->new_block = (uint32_t)address;
    tracker->new_block_size = size;
    tracker->stop(uc);
}
