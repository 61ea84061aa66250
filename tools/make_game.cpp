// make_game KIND OUT [SIZE]: writes a synthetic rally.exe of the named kind (see game_fixture.h).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/game_fixture.h"

int main(int argc, char** argv) {
    GameKind kind;
    if (argc < 3 || argc > 4 || !GameKindNamed(argv[1], &kind)) {
        std::fprintf(stderr,
                     "usage: make_game KIND OUT [SIZE]\n"
                     "KIND: build-a build-b build-b-no-platform patched-a patched-b pattern-a-twice\n"
                     "      both-palettes otherwise-changed no-blocks\n");
        return 2;
    }
    size_t size = argc == 4 ? std::strtoull(argv[3], nullptr, 0) : kGameSize;
    if (!WriteBytes(argv[2], MakeGame(kind, size).bytes)) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
