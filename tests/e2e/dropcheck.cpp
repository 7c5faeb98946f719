// The drop-out test's two tools:
//   dropcheck noise FILE SECONDS RATE     writes a WAV of steady pink noise, 16-bit stereo
//   dropcheck holes REC RATE MIN_MS SECONDS
//       finds the runs of digital silence of MIN_MS or more in a recording (s16le mono) between
//       its first and last sound; prints them, and exits 1 when there is any or when less than
//       SECONDS sounded
//   dropcheck pauses SECONDS MIN_MS
//       a minimal real-time thread on each processor (the highest priority, when allowed) that
//       wakes every millisecond for SECONDS and prints each time it woke MIN_MS or more late:
//       the moments the machine itself stopped, which no sound buffer shorter than them survives
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <random>
#include <sched.h>
#include <sndfile.h>
#include <string>
#include <thread>
#include <vector>

namespace {

int noise(const char* path, double seconds, int rate)
{
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<short> samples(2 * frames);
    std::mt19937 random(7);
    std::normal_distribution<double> white(0.0, 1.0);
    // Paul Kellet's economy filter: white noise to a -3 dB/octave slope.
    double b0 = 0, b1 = 0, b2 = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double w = white(random);
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        const double pink = (b0 + b1 + b2 + w * 0.1848) * 0.05;
        // Never exactly zero, so any run of zeros in a recording is a hole, not the noise.
        const double x = std::clamp(pink, -0.9, 0.9);
        short s = static_cast<short>(std::lround(x * 32767));
        if (s == 0)
            s = 1;
        samples[2 * i] = samples[2 * i + 1] = s;
    }
    SF_INFO info { 0, rate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0 };
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (!file)
        return 2;
    sf_writef_short(file, samples.data(), static_cast<sf_count_t>(frames));
    sf_close(file);
    return 0;
}

int holes(const char* path, int rate, double minMs, double seconds)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<short> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    std::size_t first = 0, last = s.size();
    while (first < last && s[first] == 0)
        ++first;
    while (last > first && s[last - 1] == 0)
        --last;
    const auto minRun = static_cast<std::size_t>(std::max(1.0, minMs * rate / 1000));
    std::size_t count = 0, silent = 0;
    for (std::size_t i = first; i < last;) {
        if (s[i] != 0) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < last && s[j] == 0)
            ++j;
        if (j - i >= minRun) {
            ++count;
            silent += j - i;
            if (count <= 20)
                std::printf("hole at %.3f s: %.2f ms\n", double(i - first) / rate,
                    1000.0 * double(j - i) / rate);
        }
        i = j;
    }
    std::printf("sounding %.2f s, holes %zu, silence %.1f ms\n", double(last - first) / rate, count,
        1000.0 * double(silent) / rate);
    const bool enough = double(last - first) / rate >= seconds;
    if (!enough)
        std::printf("too little sound: %.2f s of %.2f s\n", double(last - first) / rate, seconds);
    return count || !enough ? 1 : 0;
}

// One prober, pinned to one processor: notes each time it woke minMs or more late.
void probe(int cpu, double seconds, double minMs, std::chrono::steady_clock::time_point start,
    std::mutex& out)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(1);
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
        const auto before = Clock::now();
        std::this_thread::sleep_for(period);
        const auto after = Clock::now();
        const double lateMs
            = std::chrono::duration<double, std::milli>(after - before - period).count();
        if (lateMs >= minMs) {
            const std::lock_guard lock(out);
            std::printf("pause at %.3f s: %.1f ms on cpu %d\n",
                std::chrono::duration<double>(before - start).count(), lateMs, cpu);
            std::fflush(stdout);
        }
    }
}

// A virtual machine's processors stop one at a time: a thread that may run anywhere sees only
// the stops of the one it is on, so there is a prober on each.
int pauses(double seconds, double minMs)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    sched_param param {};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    // Threads made after this inherit the policy.
    const bool realtime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    std::printf("probe %s on %d processors\n", realtime ? "real-time" : "not real-time",
        CPU_COUNT(&allowed));
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    std::mutex out;
    std::vector<std::thread> probers;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed))
            probers.emplace_back(probe, cpu, seconds, minMs, start, std::ref(out));
    for (std::thread& t : probers)
        t.join();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "noise" && argc == 5)
        return noise(argv[2], std::atof(argv[3]), std::atoi(argv[4]));
    if (mode == "holes" && argc == 6)
        return holes(argv[2], std::atoi(argv[3]), std::atof(argv[4]), std::atof(argv[5]));
    if (mode == "pauses" && argc == 4)
        return pauses(std::atof(argv[2]), std::atof(argv[3]));
    std::fprintf(stderr,
        "usage: dropcheck noise FILE SECONDS RATE | holes REC RATE MIN_MS SECONDS | pauses "
        "SECONDS MIN_MS\n");
    return 2;
}
