// The drop-out test's tools. Times are seconds on the monotonic clock, which the program's log
// uses too; positions in a recording are seconds from its start.
//   dropcheck noise FILE SECONDS RATE   writes a WAV of steady pink noise, 16-bit stereo
//   dropcheck pulse FILE MS RATE        writes a WAV of one flat pulse at -34 dB, 16-bit
//                                       stereo
//   dropcheck tone FILE HZ MS RATE      writes a WAV of a sine at -6 dB, 16-bit stereo
//   dropcheck now                       prints the monotonic clock
//   dropcheck pauses SECONDS MIN_MS
//       a minimal real-time thread on each processor, at the highest priority, that wakes every
//       millisecond for SECONDS and prints each stretch in which it woke MIN_MS or more late:
//       the moments the machine itself stopped. Exits 1 at once when it may not run real-time.
//   dropcheck judge REC RATE SECONDS TIMES PAUSES LOG
//       searches a recording (s16le mono) of presses made every 0.8 s for holes of digital
//       silence and judges each against the pauses and the program's log: TIMES holds "start
//       T", one "press T" per press (taken just before the key was sent) and "stop T"; PAUSES
//       is what the probes printed; LOG the program's output. Exits 1 when a hole or an
//       underrun the program logged while sounding is not excused, or less than SECONDS sounded.
//   dropcheck excuse MS FROM TO PAUSES LOG
//       judges drop-outs in one hit recorded from FROM to TO, around which the whole sample came,
//       moved by MS in all: excused only by underruns the program logged while sounding then, each
//       after a pause, and by no more of those pauses than the buffer could not ride out. Exits 1
//       when not.
//   dropcheck lost MISSING PER_SECOND FROM TO PAUSES LOG
//       judges hits missing from a recording of presses made PER_SECOND from FROM to TO: excused
//       only by underruns the program logged while sounding then, each after a pause, and by no
//       more hits than the cycles lost could hold. Exits 1 when not.
//   dropcheck buffer USEC LIMIT_USEC AT PAUSES LOG [SINCE]
//       judges the buffer the program's stream had at AT, as the server showed it: at most
//       LIMIT_USEC, or larger only after a climb the program logged (since SINCE, when given)
//       that a pause explains.
#include "tests/e2e/DropJudge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

// A 16-bit stereo WAV of interleaved samples; 2 when it cannot be written.
int writeStereo(const char* path, const std::vector<short>& samples, int rate)
{
    SF_INFO info { 0, rate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0 };
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (!file)
        return 2;
    sf_writef_short(file, samples.data(), static_cast<sf_count_t>(samples.size() / 2));
    sf_close(file);
    return 0;
}

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
    return writeStereo(path, samples, rate);
}

// Low enough that a hundred hits at once stay under full scale, where the limiter never acts.
int pulse(const char* path, double ms, int rate)
{
    const auto frames = static_cast<std::size_t>(ms * rate / 1000);
    const std::vector<short> samples(2 * frames, 655);
    return writeStereo(path, samples, rate);
}

int tone(const char* path, double hz, double ms, int rate)
{
    const auto frames = static_cast<std::size_t>(ms * rate / 1000);
    std::vector<short> samples(2 * frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1]
            = static_cast<short>(std::lround(16384 * std::sin(2 * M_PI * hz * i / rate)));
    return writeStereo(path, samples, rate);
}

double monotonicSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int now()
{
    std::printf("%.3f\n", monotonicSeconds());
    return 0;
}

using dropcheck::probePeriod;

// One prober, pinned to one processor: notes each stretch in which it woke minMs or more late
// each time, from when it went to sleep to when it woke on time again, as the most its
// processor can have been away. Between late wake-ups it ran for microseconds: for a thread
// with a block to render, one stop.
void probe(int cpu, double until, double minMs, std::mutex& out)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
    const timespec period { 0, static_cast<long>(probePeriod * 1e9) };
    double from = 0, to = 0;
    const auto tell = [&] {
        const std::lock_guard lock(out);
        std::printf(
            "pause from %.4f s to %.4f s on cpu %d: %.2f ms\n", from, to, cpu, (to - from) * 1000);
        std::fflush(stdout);
        from = 0;
    };
    for (;;) {
        const double before = monotonicSeconds();
        if (before >= until)
            break;
        clock_nanosleep(CLOCK_MONOTONIC, 0, &period, nullptr);
        const double after = monotonicSeconds();
        if ((after - before - probePeriod) * 1000 >= minMs) {
            if (from == 0)
                from = before;
            to = after;
        } else if (from != 0) {
            tell();
        }
    }
    if (from != 0)
        tell();
}

// A virtual machine's processors stop one at a time: a thread that may run anywhere sees only
// the stops of the one it is on, so there is a prober on each. Without real-time priority a
// prober's own waits for the scheduler would read as stops: it refuses to run.
int pauses(double seconds, double minMs)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    sched_param param {};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    // Threads made after this inherit the policy.
    const int refused = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (refused) {
        std::printf("probe not real-time: %s\n", std::strerror(refused));
        return 1;
    }
    std::printf("probe real-time on %d processors, noting wake-ups %.1f ms or more late\n",
        CPU_COUNT(&allowed), minMs);
    std::fflush(stdout);
    const double until = monotonicSeconds() + seconds;
    std::mutex out;
    std::vector<std::thread> probers;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed))
            probers.emplace_back(probe, cpu, until, minMs, std::ref(out));
    for (std::thread& t : probers)
        t.join();
    return 0;
}

std::vector<short> readRecording(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<short> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

std::vector<dropcheck::Pause> readPauses(const char* path)
{
    std::ifstream in(path);
    return dropcheck::parsePauses(in);
}

dropcheck::ProgramLog readLog(const char* path)
{
    std::ifstream in(path);
    return dropcheck::parseLog(in);
}

dropcheck::Times readTimes(const char* path)
{
    std::ifstream in(path);
    return dropcheck::parseTimes(in);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "noise" && argc == 5)
        return noise(argv[2], std::atof(argv[3]), std::atoi(argv[4]));
    if (mode == "tone" && argc == 6)
        return tone(argv[2], std::atof(argv[3]), std::atof(argv[4]), std::atoi(argv[5]));
    if (mode == "pulse" && argc == 5)
        return pulse(argv[2], std::atof(argv[3]), std::atoi(argv[4]));
    if (mode == "now" && argc == 2)
        return now();
    if (mode == "pauses" && argc == 4)
        return pauses(std::atof(argv[2]), std::atof(argv[3]));
    if (mode == "judge" && argc == 8)
        return dropcheck::judge(readRecording(argv[2]), std::atoi(argv[3]), std::atof(argv[4]),
            readTimes(argv[5]), readPauses(argv[6]), readLog(argv[7]));
    if (mode == "excuse" && argc == 7)
        return dropcheck::excuse(std::atof(argv[2]), std::atof(argv[3]), std::atof(argv[4]),
            readPauses(argv[5]), readLog(argv[6]));
    if (mode == "lost" && argc == 8)
        return dropcheck::lost(std::atol(argv[2]), std::atof(argv[3]), std::atof(argv[4]),
            std::atof(argv[5]), readPauses(argv[6]), readLog(argv[7]));
    if (mode == "buffer" && (argc == 7 || argc == 8))
        return dropcheck::buffer(std::atol(argv[2]), std::atol(argv[3]), std::atof(argv[4]),
            readPauses(argv[5]), readLog(argv[6]), argc == 8 ? std::atof(argv[7]) : 0.0);
    std::fprintf(stderr,
        "usage: dropcheck noise FILE SECONDS RATE | pulse FILE MS RATE | tone FILE HZ MS RATE | "
        "now | pauses SECONDS "
        "MIN_MS | judge REC RATE "
        "SECONDS TIMES PAUSES LOG | excuse MS FROM TO PAUSES LOG | lost MISSING PER_SECOND FROM TO "
        "PAUSES LOG | buffer USEC LIMIT_USEC AT "
        "PAUSES LOG [SINCE]\n");
    return 2;
}
