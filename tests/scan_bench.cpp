// scan_bench: how fast the scan goes over a mapped game-like file with the pattern at its very end,
// beside glibc's memmem over the same mapped bytes, and how its cost grows from 1 MiB to 1 GiB.
// The files go to $SCAN_BENCH_DIR (default /tmp) and are removed afterwards.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "engine/file_patcher.h"
#include "engine/patch_catalogue.h"
#include "tools/game_fixture.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;

// A file of size bytes: a game's code without any known block, over and over, and build A's palette
// routine as its last 39 bytes.
struct BenchFile {
    std::string path;
    size_t size;

    BenchFile(size_t fileSize, const char* name) : size(fileSize) {
        const char* dir = std::getenv("SCAN_BENCH_DIR");
        path = std::string(dir ? dir : "/tmp") + "/scan_bench." + name + "." + std::to_string(fileSize);
        std::vector<uint8_t> code = MakeGame(GameKind::NoBlocks, 4 * kMiB).bytes;
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        for (size_t written = 0; written < size;) {
            size_t chunk = std::min(code.size(), size - written);
            if (write(fd, code.data(), chunk) != static_cast<ssize_t>(chunk)) std::abort();
            written += chunk;
        }
        if (pwrite(fd, PalettePatternA, 39, size - 39) != 39) std::abort();
        close(fd);
    }
    ~BenchFile() { unlink(path.c_str()); }
};

// The same file mapped, for the scans alone.
struct MappedFile : BenchFile {
    uint8_t* bytes;

    explicit MappedFile(size_t fileSize) : BenchFile(fileSize, "mapped") {
        int fd = open(path.c_str(), O_RDONLY);
        bytes = static_cast<uint8_t*>(mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0));
        close(fd);
        if (bytes == MAP_FAILED) std::abort();
    }
    ~MappedFile() { munmap(bytes, size); }
};

// One large file at a time, kept while the benchmarks of its size run.
MappedFile& FileOf(size_t size) {
    static std::unique_ptr<MappedFile> file;
    if (!file || file->size != size) {
        file.reset();
        file = std::make_unique<MappedFile>(size);
    }
    return *file;
}

void BM_Scan(benchmark::State& state) {
    MappedFile& file = FileOf(state.range(0) * kMiB);
    for (auto _ : state) {
        uint32_t offset = 0;
        bool found = FindFirstMatch(file.bytes, static_cast<uint32_t>(file.size), PalettePatternA, 39, &offset);
        if (!found || offset != file.size - 39) state.SkipWithError("pattern not found at the end");
        benchmark::DoNotOptimize(offset);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * file.size);
}

void BM_Memmem(benchmark::State& state) {
    MappedFile& file = FileOf(state.range(0) * kMiB);
    for (auto _ : state) {
        void* at = memmem(file.bytes, file.size, PalettePatternA, 39);
        if (at != file.bytes + file.size - 39) state.SkipWithError("pattern not found at the end");
        benchmark::DoNotOptimize(at);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * file.size);
}

// The whole call as a user meets it: open, look for other holders, map, scan, write, flush, close.
void BM_PatchFile(benchmark::State& state) {
    BenchFile file(state.range(0) * kMiB, "patched");  // not mapped here: the patcher wants it to itself
    for (auto _ : state) {
        // The routine is written back over itself, so every round finds it again.
        if (!PatchFile(file.path.c_str(), PalettePatternA, PalettePatternA, 39)) state.SkipWithError("not found");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * file.size);
}

}  // namespace

BENCHMARK(BM_Scan)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memmem)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PatchFile)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Name("BM_ScanGrowth")->RangeMultiplier(4)->Range(1, 1024)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
