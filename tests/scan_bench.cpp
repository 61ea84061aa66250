// scan_bench: how fast the scan goes over a mapped game-like file with the pattern at its very end,
// beside glibc's memmem over the same mapped bytes, and how its cost grows from 1 MiB to 1 GiB; and
// the whole Linux program on a game that holds none of the blocks, beside a plain process that maps
// the file once and runs memmem for the three blocks.
// The files go to $SCAN_BENCH_DIR (default /tmp) and are removed afterwards. $QUORVANT_PROGRAM names
// the program to run (default: the one built beside this benchmark).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// A file of size bytes: a game's code without any known block, over and over.
void WriteGameCode(const std::string& path, size_t size) {
    std::vector<uint8_t> code = MakeGame(GameKind::NoBlocks, 4 * kMiB).bytes;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    for (size_t written = 0; written < size;) {
        size_t chunk = std::min(code.size(), size - written);
        if (write(fd, code.data(), chunk) != static_cast<ssize_t>(chunk)) std::abort();
        written += chunk;
    }
    close(fd);
}

// Such a file with build A's palette routine as its last 39 bytes.
struct BenchFile {
    std::string path;
    size_t size;

    BenchFile(size_t fileSize, const char* name) : size(fileSize) {
        const char* dir = std::getenv("SCAN_BENCH_DIR");
        path = std::string(dir ? dir : "/tmp") + "/scan_bench." + name + "." + std::to_string(fileSize);
        WriteGameCode(path, size);
        int fd = open(path.c_str(), O_RDWR);
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

// A Wine prefix whose game, of size bytes, holds none of the blocks: the run ends NotFound after
// three whole scans (pattern A, pattern B, the probe).
struct NotFoundPrefix {
    std::string root;
    std::string game;

    explicit NotFoundPrefix(size_t size) {
        const char* dir = std::getenv("SCAN_BENCH_DIR");
        root = std::string(dir ? dir : "/tmp") + "/scan_bench.prefix." + std::to_string(getpid());
        for (const char* sub : {"", "/drive_c", "/drive_c/Games", "/drive_c/Games/Rally", "/dosdevices"}) {
            mkdir((root + sub).c_str(), 0755);
        }
        if (symlink("../drive_c", (root + "/dosdevices/c:").c_str()) != 0) std::abort();
        std::string registry = "WINE REGISTRY Version 2\n#arch=win64\n\n"
                               "[Software\\\\Wow6432Node\\\\Halcyra\\\\Rally\\\\1.00] 1\n\"HDPath\"=\"C:\\\\Games\\\\Rally\"\n";
        WriteBytes(root + "/system.reg", std::vector<uint8_t>(registry.begin(), registry.end()));
        game = root + "/drive_c/Games/Rally/rally.exe";
        WriteGameCode(game, size);
    }
    ~NotFoundPrefix() {
        std::string command = "rm -rf '" + root + "'";
        if (std::system(command.c_str()) != 0) std::abort();
    }
};

int WaitFor(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The Linux program as a user runs it, OK answered on its standard input.
void BM_WholeRunNotFound(benchmark::State& state) {
    NotFoundPrefix prefix(state.range(0) * kMiB);
    const char* chosen = std::getenv("QUORVANT_PROGRAM");
    std::string program = chosen ? chosen : QUORVANT_BINARY;
    std::string answer = prefix.root + "/answer";
    WriteBytes(answer, {'\n'});
    for (auto _ : state) {
        pid_t child = fork();
        if (child == 0) {
            setenv("WINEPREFIX", prefix.root.c_str(), 1);
            int in = open(answer.c_str(), O_RDONLY);
            int out = open("/dev/null", O_WRONLY);
            dup2(in, 0);
            dup2(out, 1);
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (WaitFor(child) != 0) state.SkipWithError("the program failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 3 * state.range(0) * kMiB);
}

// The plain program it is measured against: a process that maps the file once and runs memmem for
// each of the three 39-byte blocks.
void BM_MapOnceMemmemProcess(benchmark::State& state) {
    NotFoundPrefix prefix(state.range(0) * kMiB);
    for (auto _ : state) {
        pid_t child = fork();
        if (child == 0) {
            int fd = open(prefix.game.c_str(), O_RDWR);
            struct stat st;
            fstat(fd, &st);
            void* bytes = mmap(nullptr, st.st_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            int found = 0;
            for (const uint8_t* block : {PalettePatternA, PalettePatternB, PaletteReplacement}) {
                found += memmem(bytes, st.st_size, block, 39) != nullptr;
            }
            munmap(bytes, st.st_size);
            close(fd);
            _exit(found);
        }
        if (WaitFor(child) != 0) state.SkipWithError("a block was found");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 3 * state.range(0) * kMiB);
}

}  // namespace

BENCHMARK(BM_WholeRunNotFound)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MapOnceMemmemProcess)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Scan)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memmem)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PatchFile)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Name("BM_ScanGrowth")->RangeMultiplier(4)->Range(1, 1024)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
