// make_icon SOURCE OUT.ico: turns the icon's source (32 rows of 32 palette letters, lines starting
// with # are comments) into a Windows icon file holding one 32x32 image at 4 bits per pixel.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 32;
// The 16-colour VGA palette, in the order of the letters, as red, green, blue.
constexpr char kLetters[] = "KMGONPTSDRLYBFAW";
constexpr uint8_t kPalette[16][3] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
};

void Put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_icon SOURCE OUT.ico\n");
        return 2;
    }
    std::ifstream source(argv[1]);
    std::vector<std::string> rows;
    for (std::string line; std::getline(source, line);) {
        if (!line.empty() && line[0] != '#') rows.push_back(line);
    }
    if (rows.size() != kSide) {
        std::fprintf(stderr, "%s: %zu rows, not %d\n", argv[1], rows.size(), kSide);
        return 1;
    }
    const uint32_t xorSize = kSide * kSide / 2, andSize = kSide * kSide / 8;
    const uint32_t imageSize = 40 + 16 * 4 + xorSize + andSize;
    std::vector<uint8_t> ico;
    Put(ico, 0, 2);  // reserved
    Put(ico, 1, 2);  // an icon
    Put(ico, 1, 2);  // one image
    ico.push_back(kSide);
    ico.push_back(kSide);
    ico.push_back(16);  // colours
    ico.push_back(0);
    Put(ico, 1, 2);  // planes
    Put(ico, 4, 2);  // bits per pixel
    Put(ico, imageSize, 4);
    Put(ico, 6 + 16, 4);  // where the image starts
    // BITMAPINFOHEADER: the height counts the colour rows and the mask rows.
    Put(ico, 40, 4);
    Put(ico, kSide, 4);
    Put(ico, 2 * kSide, 4);
    Put(ico, 1, 2);
    Put(ico, 4, 2);
    Put(ico, 0, 4);  // BI_RGB
    Put(ico, xorSize + andSize, 4);
    Put(ico, 0, 4);
    Put(ico, 0, 4);
    Put(ico, 16, 4);
    Put(ico, 0, 4);
    for (const auto& colour : kPalette) {
        ico.push_back(colour[2]);
        ico.push_back(colour[1]);
        ico.push_back(colour[0]);
        ico.push_back(0);
    }
    std::vector<uint8_t> mask;
    for (int y = kSide - 1; y >= 0; --y) {  // bottom row first
        const std::string& row = rows[y];
        if (row.size() != kSide) {
            std::fprintf(stderr, "%s: row %d has %zu letters, not %d\n", argv[1], y + 1, row.size(), kSide);
            return 1;
        }
        uint32_t transparent = 0;
        for (int x = 0; x < kSide; x += 2) {
            uint8_t pair = 0;
            for (int half = 0; half < 2; ++half) {
                char letter = row[x + half];
                const char* found = letter == '.' ? nullptr : std::strchr(kLetters, letter);
                if (letter != '.' && (!found || !*found)) {
                    std::fprintf(stderr, "%s: row %d: unknown letter '%c'\n", argv[1], y + 1, letter);
                    return 1;
                }
                uint8_t index = found ? static_cast<uint8_t>(found - kLetters) : 0;
                pair |= index << (half ? 0 : 4);
                if (!found) transparent |= 0x80000000u >> (x + half);
            }
            ico.push_back(pair);
        }
        for (int i = 3; i >= 0; --i) mask.push_back(static_cast<uint8_t>(transparent >> (8 * i)));
    }
    ico.insert(ico.end(), mask.begin(), mask.end());
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
    return out ? 0 : 1;
}
