// Times the channel-list conversion (read, group, write the image, name it)
// and reports the peak resident memory of each case.
//
//   sdx_bench [--real-runs N] [--capacity-runs N] [--list PATH] [--only real|capacity]
//
// real:     the shared Astra list (1108 records), dialog defaults, N runs.
// capacity: a list generated at run time that fills the table: 200 satellites
//           x 200 transponders x 50 channels = 2,000,000 records (256 MB),
//           converted with nMaxSat 200.
// Each case runs in a child process of its own, so that its peak RSS is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/HostInterfaces.h"
#include "base/JobSettings.h"
#include "sdx/ConversionChain.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

class QuietMessages final : public IMessageBox {
public:
    using IMessageBox::Show;
    void Show(const std::string& text, MessageCaption /*caption*/) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
};

JobSettings Settings(const std::string& list, const std::string& workDir, std::int32_t maxSat) {
    JobSettings s;
    LineParams line;
    ConvertDialogValues(DialogValues{}, s, line);
    s.nUpgradeType = UpgradeType::Database;
    s.nMaxSat = maxSat;
    s.strFilePath = list;
    s.strWorkDir = workDir;
    return s;
}

// Runs the conversion `runs` times; prints min, median and max in ms.
int TimeConversion(const char* label, const std::string& list, const std::string& workDir,
                   std::int32_t maxSat, int runs) {
    std::vector<double> ms;
    NullProgressBar bar;
    QuietMessages messages;
    std::uint64_t imageSize = 0;
    for (int i = 0; i < runs; ++i) {
        JobSettings s = Settings(list, workDir, maxSat);
        const auto start = Clock::now();
        const ChainResult r = RunConversionChain(s, bar, messages, {});
        const auto end = Clock::now();
        if (r.status != ChainStatus::Continue || s.bConverted == 0) {
            std::fprintf(stderr, "%s: conversion failed: %s\n", label, r.message.c_str());
            return 1;
        }
        imageSize = r.imageSize;
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    std::printf(
        "%-9s runs %3d  first %9.2f ms  min %9.2f ms  median %9.2f ms  max %9.2f ms"
        "  image %llu bytes\n",
        label, runs, ms.front(), sorted.front(), sorted[sorted.size() / 2], sorted.back(),
        static_cast<unsigned long long>(imageSize));
    std::fflush(stdout);
    return 0;
}

// Runs `body` in a child process and reports the child's peak RSS.
template <typename Body>
int InChild(const char* label, std::uint64_t fileSize, Body&& body) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        std::_Exit(body());
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) {
        std::perror("wait4");
        return 1;
    }
    const double peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
    std::printf("%-9s peak RSS %.1f MiB (%.2f x the list's %.1f MiB)\n", label, peakMb,
                peakMb / (static_cast<double>(fileSize) / (1024.0 * 1024.0)),
                static_cast<double>(fileSize) / (1024.0 * 1024.0));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

void PutText(char* r, std::size_t at, std::size_t width, const char* text) {
    const std::size_t n = std::strlen(text);
    for (std::size_t i = 0; i < width; ++i) {
        r[at + i] = i < n ? text[i] : ' ';
    }
}

void PutDigits(char* r, std::size_t at, std::size_t width, int value) {
    for (std::size_t i = width; i-- > 0;) {
        r[at + i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// 200 satellites x 200 transponders x 50 channels, grouped as a real list is.
std::uint64_t GenerateCapacityList(const std::filesystem::path& path) {
    constexpr int kSats = 200, kTps = 200, kChannels = 50;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::vector<char> block(static_cast<std::size_t>(kTps) * kChannels * 128);
    char name[32];
    for (int s = 0; s < kSats; ++s) {
        std::snprintf(name, sizeof name, "Satellite %03d", s);
        for (int t = 0; t < kTps; ++t) {
            for (int c = 0; c < kChannels; ++c) {
                char* r =
                    &block[(static_cast<std::size_t>(t) * kChannels + static_cast<std::size_t>(c)) *
                           128];
                std::memset(r, ' ', 128);
                PutText(r, 0, 10, "SATCODX103");
                PutText(r, 10, 18, name);
                r[28] = c == 0 ? 'R' : 'T';
                PutText(r, 29, 4, "MPG2");
                PutDigits(r, 33, 6, 10700 + t * 10);
                r[42] = static_cast<char>('0' + t % 2);
                PutText(r, 43, 8, "Channel ");
                PutDigits(r, 51, 4, (s * 18) % 3600);
                PutDigits(r, 69, 5, 27500);
                PutDigits(r, 75, 4, 100 + c);
                PutDigits(r, 79, 4, 200 + c);
                PutDigits(r, 83, 4, 100 + c);
                PutDigits(r, 87, 5, c + 1);
                PutDigits(r, 92, 5, 1);
                PutDigits(r, 97, 5, t + 1);
                PutText(r, 111, 4, c % 5 == 0 ? "VICS" : "____");
                PutDigits(r, 115, 5, (s * kTps + t) % 100000);
                r[127] = '\n';
            }
        }
        if (std::fwrite(block.data(), 1, block.size(), out) != block.size()) {
            std::perror(path.c_str());
            std::exit(1);
        }
    }
    std::fclose(out);
    return static_cast<std::uint64_t>(kSats) * kTps * kChannels * 128;
}

}  // namespace

int main(int argc, char** argv) {
    int realRuns = 50;
    int capacityRuns = 3;
    std::string list =
        (std::filesystem::path(VELMORA_SHARED_DATA_DIR) / "astra-19.2e-v103.sdx").string();
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--real-runs") {
            realRuns = std::max(1, std::atoi(argv[i + 1]));
        } else if (opt == "--capacity-runs") {
            capacityRuns = std::max(1, std::atoi(argv[i + 1]));
        } else if (opt == "--list") {
            list = argv[i + 1];
        } else if (opt == "--only") {
            only = argv[i + 1];
        } else {
            std::fprintf(stderr, "unknown option %s\n", opt.c_str());
            return 2;
        }
    }

    char pattern[] = "/tmp/velmora-sdx-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path work = pattern;
    int failures = 0;

    if (only.empty() || only == "real") {
        if (!std::filesystem::exists(list)) {
            std::printf("real      skipped: %s is not there\n", list.c_str());
        } else {
            const auto size = std::filesystem::file_size(list);
            failures += InChild("real", size, [&] {
                return TimeConversion("real", list, work.string(), 32, realRuns);
            });
        }
    }
    if (only.empty() || only == "capacity") {
        const std::filesystem::path capacity = work / "capacity.sdx";
        const auto start = Clock::now();
        const std::uint64_t size = GenerateCapacityList(capacity);
        std::printf("capacity  list generated: %llu bytes in %.0f ms\n",
                    static_cast<unsigned long long>(size),
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        for (int i = 0; i < capacityRuns; ++i) {
            failures += InChild("capacity", size, [&] {
                return TimeConversion("capacity", capacity.string(), work.string(), 200, 1);
            });
        }
    }

    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    return failures == 0 ? 0 : 1;
}
