// libFuzzer target: any bytes at all as a sample file in a user's kit, played the whole way
// from the input stream through a line to the mixer's output. A broken invariant aborts.
#include "SamplePath.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The input is opened by path, as the worker does. A memory file needs no writable folder;
// where the kernel has none, a temporary file stands in.
struct InputFile {
    int fd = -1;
    std::string path;

    InputFile()
    {
        fd = ::memfd_create("tamborel-fuzz-input", MFD_CLOEXEC);
        if (fd >= 0) {
            path = "/proc/self/fd/" + std::to_string(fd);
            return;
        }
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/tamborel-fuzz-XXXXXX";
        fd = ::mkstemp(name.data());
        if (fd < 0) {
            std::perror("tamborel fuzz: no file for the input");
            std::abort();
        }
        path = name;
    }
    ~InputFile()
    {
        if (path.rfind("/proc/", 0) != 0)
            ::unlink(path.c_str());
        ::close(fd);
    }

    void rewrite(const std::uint8_t* data, std::size_t size) const
    {
        if (::ftruncate(fd, 0) != 0) {
            std::perror("tamborel fuzz: ftruncate");
            std::abort();
        }
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) {
                std::perror("tamborel fuzz: pwrite");
                std::abort();
            }
            done += static_cast<std::size_t>(n);
        }
    }
};

// A device may run at another rate than the one asked for; the input's length picks one, so
// every input is played the same way each time.
constexpr int mixerRates[] = { 48000, 44100, 96000 };

// Frames at the mixer's rate played at most (about 5 seconds, sixteen times round the line's
// ring): a few bytes at a low rate decode to minutes, which only says again what the first
// seconds said while the rate converter eats the time budget.
constexpr std::uint64_t maxPlayedFrames = 1u << 18;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const InputFile input;
    input.rewrite(data, size);

    sample_path::Options options;
    options.mixerRate = mixerRates[size % 3];
    options.position = static_cast<int>(size / 3 % 3) - 1;
    options.maxPlayedFrames = maxPlayedFrames;
    const sample_path::Outcome outcome = sample_path::play(input.path, options);
    if (!outcome.faults.empty()) {
        std::fprintf(stderr, "tamborel fuzz: %zu bytes, mixer at %d Hz, %s (%s)\n", size,
            options.mixerRate, sample_path::endName(outcome.end),
            outcome.format.toString().c_str());
        for (const auto& fault : outcome.faults)
            std::fprintf(stderr, "  fault: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
