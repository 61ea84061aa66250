// Linux back end of platform/process.h: the program starts in main(), which reads its one option,
// and ends in exit().
#include <cstdio>
#include <cstdlib>

#include "platform/posix/command_line.h"
#include "platform/process.h"

namespace {

// EX_USAGE of sysexits.h: the command was used wrongly.
constexpr int kUsageError = 64;

}  // namespace

void ExitProgram(RunEnd end) {
    int status = 0;
    if (ConfirmsWithoutAsking()) {
        switch (end) {
            case RunEnd::Applied:
            case RunEnd::AlreadyApplied: status = 0; break;
            case RunEnd::NotInstalled: status = 2; break;
            case RunEnd::NotFound:
            case RunEnd::Cancelled: status = 1; break;
        }
    }
    std::fflush(stdout);
    std::exit(status);
}

int main(int argc, char** argv) {
    Invocation invocation = ParseCommandLine(argc, argv);
    switch (invocation) {
        case Invocation::Help:
            std::fputs(kUsage, stdout);
            return 0;
        case Invocation::Version:
            std::puts("quorvant 1.1");
            return 0;
        case Invocation::Unknown:
            if (argc > 2) {
                std::fputs("quorvant: one option at a time\n\n", stderr);
            } else {
                std::fprintf(stderr, "quorvant: unknown option '%s'\n\n", argv[1]);
            }
            std::fputs(kUsage, stderr);
            return kUsageError;
        case Invocation::Interactive:
        case Invocation::ConfirmWithoutAsking:
            break;
    }
    SetInvocation(invocation);
    RunQuorvant();
}
