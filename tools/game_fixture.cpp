#include "tools/game_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/patch_catalogue.h"

namespace {

constexpr size_t kFileAlignment = 0x200;
constexpr size_t kHeadersSize = 0x400;
constexpr uint32_t kImageBase = 0x400000;

size_t AlignDown(size_t value, size_t alignment) { return value / alignment * alignment; }

void Put16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    Put16(bytes, at, value);
    Put16(bytes, at + 2, value >> 16);
}

void Plant(std::vector<uint8_t>& bytes, size_t at, const uint8_t* block, size_t length) {
    std::memcpy(bytes.data() + at, block, length);
}

// A fixed sequence, so that every kind of the same size has the same bytes around its routines.
struct Random {
    uint32_t state = 0x2000F00D;
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    uint32_t Below(uint32_t bound) { return Next() % bound; }
};

// Instructions that compiled C of the time is full of; the operand bytes are filled at random.
struct Shape {
    uint8_t opcode[3];
    uint8_t opcodeLength;
    uint8_t operandLength;
};
constexpr Shape kShapes[] = {
    {{0x8B, 0x45}, 2, 1},        // mov eax, [ebp+d8]
    {{0x8B, 0x4D}, 2, 1},        // mov ecx, [ebp+d8]
    {{0x89, 0x45}, 2, 1},        // mov [ebp+d8], eax
    {{0x8B, 0x46}, 2, 1},        // mov eax, [esi+d8]
    {{0x8D, 0x4D}, 2, 1},        // lea ecx, [ebp+d8]
    {{0xA1}, 1, 4},              // mov eax, [abs]
    {{0x8B, 0x0D}, 2, 4},        // mov ecx, [abs]
    {{0xE8}, 1, 4},              // call rel32
    {{0xFF, 0x15}, 2, 4},        // call [import]
    {{0x6A}, 1, 1},              // push imm8
    {{0x68}, 1, 4},              // push imm32
    {{0x85, 0xC0}, 2, 0},        // test eax, eax
    {{0x74}, 1, 1},              // je short
    {{0x75}, 1, 1},              // jne short
    {{0x0F, 0x84}, 2, 4},        // je near
    {{0x33, 0xC0}, 2, 0},        // xor eax, eax
    {{0x3B, 0xC1}, 2, 0},        // cmp eax, ecx
    {{0x83, 0xC4}, 2, 1},        // add esp, imm8
    {{0x50}, 1, 0},              // push eax
    {{0x51}, 1, 0},              // push ecx
    {{0x40}, 1, 0},              // inc eax
    {{0xC7, 0x45}, 2, 5},        // mov dword [ebp+d8], imm32
};

void WriteRoutine(std::vector<uint8_t>& code, Random& random) {
    const uint8_t prologue[] = {0x55, 0x8B, 0xEC};
    code.insert(code.end(), prologue, prologue + 3);
    if (random.Below(2)) {
        code.push_back(0x83);
        code.push_back(0xEC);
        code.push_back(static_cast<uint8_t>(4 * (1 + random.Below(16))));
    }
    const uint8_t pushes[] = {0x53, 0x56, 0x57};  // push ebx, esi, edi
    const uint8_t pops[] = {0x5F, 0x5E, 0x5B};    // pop edi, esi, ebx
    uint32_t saved = random.Below(4);
    code.insert(code.end(), pushes, pushes + saved);
    for (uint32_t n = 4 + random.Below(40); n > 0; --n) {
        const Shape& shape = kShapes[random.Below(sizeof kShapes / sizeof kShapes[0])];
        code.insert(code.end(), shape.opcode, shape.opcode + shape.opcodeLength);
        for (int i = 0; i < shape.operandLength; ++i) code.push_back(static_cast<uint8_t>(random.Next() >> 24));
    }
    code.insert(code.end(), pops + 3 - saved, pops + 3);
    const uint8_t epilogue[] = {0x8B, 0xE5, 0x5D, 0xC3};  // mov esp, ebp; pop ebp; ret
    code.insert(code.end(), epilogue, epilogue + 4);
    while (code.size() % 16) code.push_back(0xCC);
}

void WriteHeaders(std::vector<uint8_t>& bytes, size_t textSize, size_t rdataSize, size_t dataSize) {
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put16(bytes, 0x02, 0x90);
    Put16(bytes, 0x04, 3);
    Put16(bytes, 0x08, 4);
    Put16(bytes, 0x0C, 0xFFFF);
    Put16(bytes, 0x10, 0xB8);
    Put16(bytes, 0x18, 0x40);
    Put32(bytes, 0x3C, 0x80);
    const char stub[] = "This program cannot be run in DOS mode.\r\r\n$";
    std::memcpy(bytes.data() + 0x4E, stub, sizeof stub - 1);

    size_t pe = 0x80;
    std::memcpy(bytes.data() + pe, "PE\0\0", 4);
    Put16(bytes, pe + 4, 0x14C);       // i386
    Put16(bytes, pe + 6, 3);           // sections
    Put32(bytes, pe + 8, 0x36A1C2D0);  // built in 1998
    Put16(bytes, pe + 20, 0xE0);       // optional header size
    Put16(bytes, pe + 22, 0x010F);     // executable, 32-bit, no relocations
    size_t opt = pe + 24;
    Put16(bytes, opt, 0x10B);          // PE32
    bytes[opt + 2] = 5;                // linker 5.0
    Put32(bytes, opt + 4, static_cast<uint32_t>(textSize));
    Put32(bytes, opt + 8, static_cast<uint32_t>(rdataSize + dataSize));
    Put32(bytes, opt + 16, 0x1000);    // entry
    Put32(bytes, opt + 20, 0x1000);    // code base
    Put32(bytes, opt + 28, kImageBase);
    Put32(bytes, opt + 32, 0x1000);    // section alignment
    Put32(bytes, opt + 36, kFileAlignment);
    Put16(bytes, opt + 40, 4);         // OS 4.0
    Put16(bytes, opt + 48, 4);         // subsystem 4.0
    Put16(bytes, opt + 68, 2);         // Windows GUI
    Put32(bytes, opt + 72, 0x100000);  // stack reserve
    Put32(bytes, opt + 76, 0x1000);
    Put32(bytes, opt + 80, 0x100000);  // heap reserve
    Put32(bytes, opt + 84, 0x1000);
    Put32(bytes, opt + 92, 16);        // data directories
    struct Section {
        const char* name;
        size_t size;
        uint32_t characteristics;
    } sections[] = {{".text", textSize, 0x60000020}, {".rdata", rdataSize, 0x40000040}, {".data", dataSize, 0xC0000040}};
    size_t header = opt + 0xE0;
    size_t raw = kHeadersSize;
    uint32_t virtualAddress = 0x1000;
    for (const Section& section : sections) {
        std::memcpy(bytes.data() + header, section.name, std::strlen(section.name));
        Put32(bytes, header + 8, static_cast<uint32_t>(section.size));
        Put32(bytes, header + 12, virtualAddress);
        Put32(bytes, header + 16, static_cast<uint32_t>(section.size));
        Put32(bytes, header + 20, static_cast<uint32_t>(raw));
        Put32(bytes, header + 36, section.characteristics);
        raw += section.size;
        virtualAddress += static_cast<uint32_t>((section.size + 0xFFF) / 0x1000 * 0x1000);
        header += 40;
    }
    Put32(bytes, opt + 56, virtualAddress);  // image size
    Put32(bytes, opt + 60, kHeadersSize);
}

// Build B's platform routine: fetch OSVERSIONINFOA into a 148-byte record on the stack, then the
// tail that PlatformPattern names. Returns where the tail starts.
size_t PlantPlatformRoutine(std::vector<uint8_t>& bytes, size_t at) {
    const uint8_t head[] = {
        0x81, 0xEC, 0x94, 0x00, 0x00, 0x00,        // sub esp, 0x94
        0xC7, 0x04, 0x24, 0x94, 0x00, 0x00, 0x00,  // mov dword [esp], 0x94   dwOSVersionInfoSize
        0x54,                                      // push esp
        0xFF, 0x15, 0x4C, 0x71, 0x4B, 0x00,        // call [GetVersionExA]
    };
    Plant(bytes, at, head, sizeof head);
    Plant(bytes, at + sizeof head, PlatformPattern, sizeof PlatformPattern);
    return at + sizeof head;
}

}  // namespace

GameImage MakeGame(GameKind kind, size_t size) {
    size = std::max(AlignDown(size + kFileAlignment - 1, kFileAlignment), kSmallestGame);
    size_t textSize = AlignDown(size * 62 / 100, kFileAlignment);
    size_t rdataSize = AlignDown(size * 18 / 100, kFileAlignment);
    size_t dataSize = size - kHeadersSize - textSize - rdataSize;

    GameImage game;
    game.bytes.assign(size, 0);
    WriteHeaders(game.bytes, textSize, rdataSize, dataSize);
    Random random;
    std::vector<uint8_t> code;
    while (code.size() < textSize) WriteRoutine(code, random);
    std::memcpy(game.bytes.data() + kHeadersSize, code.data(), textSize);
    for (size_t i = kHeadersSize + textSize; i < kHeadersSize + textSize + rdataSize; ++i) {
        game.bytes[i] = random.Below(3) ? static_cast<uint8_t>(' ' + random.Below(95)) : 0;  // strings
    }

    // Routines start on 16-byte boundaries, as the game's compiler placed them.
    auto placeAt = [&](size_t percent) { return kHeadersSize + AlignDown(textSize * percent / 100, 16); };
    game.palette = placeAt(23);
    switch (kind) {
        case GameKind::BuildA:
        case GameKind::PatchedA:
            Plant(game.bytes, game.palette, PalettePatternA, sizeof PalettePatternA);
            break;
        case GameKind::PatternATwice:
            game.second = placeAt(61);
            Plant(game.bytes, game.palette, PalettePatternA, sizeof PalettePatternA);
            Plant(game.bytes, game.second, PalettePatternA, sizeof PalettePatternA);
            break;
        case GameKind::OtherwiseChanged:
            Plant(game.bytes, game.palette, PalettePatternA, sizeof PalettePatternA);
            game.bytes[game.palette + 20] = 0x90;  // the out
            game.bytes[game.palette + 26] = 0x90;  // the in
            break;
        case GameKind::BuildB:
        case GameKind::PatchedB:
        case GameKind::BuildBWithoutPlatform:
            Plant(game.bytes, game.palette, PalettePatternB, sizeof PalettePatternB);
            if (kind != GameKind::BuildBWithoutPlatform) game.platform = PlantPlatformRoutine(game.bytes, placeAt(47));
            break;
        case GameKind::BothPalettes:
            game.second = placeAt(61);
            Plant(game.bytes, game.palette, PalettePatternA, sizeof PalettePatternA);
            Plant(game.bytes, game.second, PalettePatternB, sizeof PalettePatternB);
            game.platform = PlantPlatformRoutine(game.bytes, placeAt(47));
            break;
        case GameKind::NoBlocks:
            game.palette = 0;
            break;
    }
    if (kind == GameKind::PatchedA || kind == GameKind::PatchedB) {
        Plant(game.bytes, game.palette, PaletteReplacement, sizeof PaletteReplacement);
    }
    if (kind == GameKind::PatchedB) Plant(game.bytes, game.platform, PlatformReplacement, sizeof PlatformReplacement);
    return game;
}

bool GameKindNamed(const std::string& name, GameKind* kind) {
    static const struct {
        const char* name;
        GameKind kind;
    } kNames[] = {
        {"build-a", GameKind::BuildA},
        {"build-b", GameKind::BuildB},
        {"build-b-no-platform", GameKind::BuildBWithoutPlatform},
        {"patched-a", GameKind::PatchedA},
        {"patched-b", GameKind::PatchedB},
        {"pattern-a-twice", GameKind::PatternATwice},
        {"both-palettes", GameKind::BothPalettes},
        {"otherwise-changed", GameKind::OtherwiseChanged},
        {"no-blocks", GameKind::NoBlocks},
    };
    for (const auto& entry : kNames) {
        if (name == entry.name) {
            *kind = entry.kind;
            return true;
        }
    }
    return false;
}

std::vector<size_t> FindAll(const std::vector<uint8_t>& bytes, const uint8_t* block, size_t length) {
    std::vector<size_t> places;
    auto at = bytes.begin();
    while ((at = std::search(at, bytes.end(), block, block + length)) != bytes.end()) {
        places.push_back(at - bytes.begin());
        ++at;
    }
    return places;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}
