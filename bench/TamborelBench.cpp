// Figures for the audio service: render cost, lines per block, start-up latency of a sound
// (against opening a fresh SDL device per sound) and rate-converter throughput.
// Prints a table; passes or fails nothing.
#include "audio/AePlayWave.h"
#include "audio/OutputDevice.h"
#include "audio/PlayerThreads.h"
#include "audio/mix/MixConfig.h"
#include "audio/mix/Mixer.h"
#include "audio/mix/MixerLine.h"
#include "audio/mix/RateConverter.h"
#include "audio/output/OutputConfig.h"
#include "bench/BenchFigures.h"

#include <SDL.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <memory>
#include <poll.h>
#include <samplerate.h>
#include <sndfile.h>
#include <soxr.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace audio;
using bench::Clock;
using bench::monotonicNs;
using bench::percentile;

namespace {

constexpr int block = config::deviceBufferFrames;
constexpr int rate = config::preferredDeviceRate;
constexpr double budgetNs = 1e9 * block / rate;

AudioFormat pcm16Stereo(float sampleRate)
{
    return { Encoding::PCM_SIGNED, sampleRate, 16, 2, 4, false, {} };
}

std::vector<std::byte> noise16(std::size_t frames, unsigned seed)
{
    std::vector<std::byte> bytes(frames * 4);
    unsigned x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < frames * 2; ++i) {
        x = x * 1664525u + 1013904223u;
        const auto s = static_cast<std::int16_t>((x >> 16) / 8);
        std::memcpy(bytes.data() + 2 * i, &s, 2);
    }
    return bytes;
}

// Median time of one block with n lines playing, over many blocks; rings refilled untimed.
struct RenderFigures {
    double medianNs, p99Ns;
};
RenderFigures renderCost(int n)
{
    Mixer mixer(rate);
    std::vector<std::unique_ptr<SourceDataLine>> lines;
    const std::size_t refill = config::ringFrames - config::ringFrames % block;
    const auto bytes = noise16(refill, 3);
    for (int i = 0; i < n; ++i) {
        lines.push_back(mixer.createLine());
        lines.back()->open(pcm16Stereo(rate));
        if (i % 2)
            lines.back()
                ->getControl(FloatControl::Type::PAN)
                .setValue(static_cast<float>(i % 7) / 7.0f - 0.5f);
        lines.back()->start();
    }
    std::vector<float> out(block * 2);
    std::vector<double> times;
    const int rounds = n >= 2000 ? 3 : 6;
    for (int round = 0; round < rounds; ++round) {
        for (auto& line : lines)
            line->write(bytes.data(), 0, static_cast<std::int32_t>(bytes.size()));
        for (std::size_t b = 0; b < refill / block; ++b) {
            const auto t0 = Clock::now();
            mixer.render(out.data(), block);
            times.push_back(static_cast<double>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count()));
        }
    }
    for (auto& line : lines)
        line->close();
    return { percentile(times, 50), percentile(times, 99) };
}

long residentKiB()
{
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE) / 1024;
}

// Resident memory of 500 open lines that resample 44.1 kHz and have begun to play.
void memorySection()
{
    Mixer mixer(rate);
    const long before = residentKiB();
    std::vector<std::unique_ptr<SourceDataLine>> lines;
    const auto bytes = noise16(config::ringFrames / 2, 4);
    for (int i = 0; i < 500; ++i) {
        lines.push_back(mixer.createLine());
        lines.back()->open(pcm16Stereo(44100.0f));
        lines.back()->start();
        lines.back()->write(bytes.data(), 0, static_cast<std::int32_t>(bytes.size()));
    }
    const long after = residentKiB();
    std::printf("\n== Memory: 500 open 44.1 kHz lines take %.1f MiB resident, %.0f KiB a line\n",
        static_cast<double>(after - before) / 1024, static_cast<double>(after - before) / 500);
    for (auto& line : lines)
        line->close();
}

void renderSection()
{
    std::printf("\n== Render (mixer alone, %d-frame blocks, budget %.0f us a block at %d Hz)\n",
        block, budgetNs / 1000, rate);
    std::printf("%8s %16s %16s %22s %10s\n", "lines", "block median us", "block p99 us",
        "per line per block ns", "of budget");
    int fitting = 0;
    double perLine = 0;
    for (int n : { 1, 16, 64, 256, 500, 1000, 2000, 4000 }) {
        const RenderFigures f = renderCost(n);
        perLine = f.medianNs / n;
        std::printf("%8d %16.1f %16.1f %22.1f %9.1f%%\n", n, f.medianNs / 1000, f.p99Ns / 1000,
            perLine, 100 * f.p99Ns / budgetNs);
        if (f.p99Ns <= budgetNs)
            fitting = n;
    }
    std::printf("most lines measured within one block's budget (p99): %d\n", fitting);
    std::printf("lines within one block's budget at the 4000-line cost per line: %.0f\n",
        budgetNs / perLine);
}

struct Latency {
    std::vector<double> ms;
};

// From a line's first write to its first frame mixed by the device's callback, for sounds
// started one after another while background lines play.
Latency ourLatency(int sounds, float sampleRate, int background)
{
    Mixer& mixer = outputMixer();
    std::vector<std::unique_ptr<SourceDataLine>> others;
    std::atomic<bool> stop { false };
    std::thread feeder;
    if (background > 0) {
        for (int i = 0; i < background; ++i) {
            others.push_back(mixer.createLine());
            others.back()->open(pcm16Stereo(rate));
            others.back()->start();
        }
        // Keeps the background lines sounding, as their workers would.
        feeder = std::thread([&] {
            const auto chunk = noise16(2048, 9);
            while (!stop) {
                for (auto& line : others)
                    if (static_cast<MixerLine&>(*line).framesPending() < 8192)
                        line->write(chunk.data(), 0, static_cast<std::int32_t>(chunk.size()));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    Latency result;
    const auto sound = noise16(31072, 5); // one worker chunk of 124288 bytes
    for (int i = 0; i < sounds; ++i) {
        auto owned = mixer.createLine();
        auto& line = static_cast<MixerLine&>(*owned);
        line.open(pcm16Stereo(sampleRate));
        line.start();
        // The worker's first write: 124288 bytes, more than the ring holds, so on its own
        // thread it would block; here the first frames must be out before it returns.
        std::thread writer(
            [&] { line.write(sound.data(), 0, static_cast<std::int32_t>(sound.size())); });
        while (line.firstOutputNs() == 0 || line.firstWriteNs() == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        result.ms.push_back(static_cast<double>(line.firstOutputNs() - line.firstWriteNs()) / 1e6);
        writer.join();
        line.close();
        // Not in step with the device period.
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + (i * 7919) % 5000));
    }
    stop = true;
    if (feeder.joinable())
        feeder.join();
    for (auto& line : others)
        line->close();
    return result;
}

// The naive way: a fresh SDL device per sound, timed from the open call to the first callback.
struct NaiveSound {
    std::atomic<std::int64_t> firstCallbackNs { 0 };
    std::vector<float> samples;
    std::size_t at = 0;
};

void SDLCALL naiveFill(void* userdata, Uint8* stream, int len)
{
    auto* sound = static_cast<NaiveSound*>(userdata);
    if (sound->firstCallbackNs.load() == 0)
        sound->firstCallbackNs = monotonicNs();
    auto* out = reinterpret_cast<float*>(stream);
    const std::size_t n = static_cast<std::size_t>(len) / sizeof(float);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = sound->at < sound->samples.size() ? sound->samples[sound->at++] : 0.0f;
}

SDL_AudioDeviceID openNaive(NaiveSound& sound)
{
    SDL_AudioSpec want {};
    want.freq = rate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = block;
    want.callback = naiveFill;
    want.userdata = &sound;
    return SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
}

template <typename Send> void naiveLatency(int sounds, Send send)
{
    for (int i = 0; i < sounds; ++i) {
        NaiveSound sound;
        sound.samples.assign(2 * 4096, 0.1f);
        const std::int64_t start = monotonicNs();
        const SDL_AudioDeviceID id = openNaive(sound);
        if (id == 0)
            break;
        SDL_PauseAudioDevice(id, 0);
        while (sound.firstCallbackNs.load() == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        send(static_cast<double>(sound.firstCallbackNs.load() - start) / 1e6);
        SDL_CloseAudioDevice(id);
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + (i * 7919) % 5000));
    }
}

int naiveMostOverlapping()
{
    std::vector<std::unique_ptr<NaiveSound>> sounds;
    std::vector<SDL_AudioDeviceID> ids;
    for (int i = 0; i < 64; ++i) {
        sounds.push_back(std::make_unique<NaiveSound>());
        const SDL_AudioDeviceID id = openNaive(*sounds.back());
        if (id == 0)
            break;
        ids.push_back(id);
    }
    for (auto id : ids)
        SDL_CloseAudioDevice(id);
    return static_cast<int>(ids.size());
}

void printLatency(const char* what, const Latency& l)
{
    const auto worst = std::max_element(l.ms.begin(), l.ms.end());
    std::printf("%-52s %6zu %10.2f %10.2f %10.2f %8td\n", what, l.ms.size(), percentile(l.ms, 50),
        percentile(l.ms, 99), percentile(l.ms, 100),
        worst == l.ms.end() ? -1 : worst - l.ms.begin() + 1);
}

// The naive way runs in a fresh process (this program again, with --naive): libpulse refuses
// to work in a forked copy of a process that used it, and SDL's PulseAudio back-end can hang
// for good in SDL_CloseAudioDevice, which is then reported rather than waited out. The child
// sends each figure through a pipe as it has it.
void naiveInChild(int sounds)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        const std::string count = std::to_string(sounds);
        ::execl("/proc/self/exe", "tamborel-bench", "--naive", count.c_str(),
            static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    Latency naive;
    double most = -1;
    bool hung = false;
    bool outOfTime = false;
    const auto start = Clock::now();
    for (;;) {
        pollfd waitFor { pipeFds[0], POLLIN, 0 };
        if (::poll(&waitFor, 1, 20000) <= 0) {
            hung = true;
            break;
        }
        if (Clock::now() - start > std::chrono::seconds(120)) {
            outOfTime = true;
            break;
        }
        double value;
        if (::read(pipeFds[0], &value, sizeof value) != static_cast<ssize_t>(sizeof value))
            break;
        if (most < 0)
            most = value;
        else
            naive.ms.push_back(value);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (hung || outOfTime)
        ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(pipeFds[0]);
    printLatency("naive: a fresh SDL device opened per sound", naive);
    std::printf("naive: %zu sounds took %.1f s of opening and closing devices, %.1f ms a sound\n",
        naive.ms.size(), seconds,
        naive.ms.empty() ? 0.0 : 1000 * seconds / static_cast<double>(naive.ms.size()));
    if (hung)
        std::printf("naive: SDL hung for over 20 s after %zu sounds (stopped)\n", naive.ms.size());
    if (outOfTime)
        std::printf("naive: stopped after 120 s\n");
    std::printf("naive: most sounds overlapping (SDL devices open at once): %.0f\n", most);
}

// The child's side: figures as raw doubles on stdout.
void naiveChild(int sounds)
{
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return;
    const auto send = [](double value) { (void)!::write(1, &value, sizeof value); };
    send(naiveMostOverlapping());
    naiveLatency(sounds, send);
}

// Opens the output device, or says on the section's heading why there is none.
bool deviceReady(const char* section)
{
    try {
        openOutputEarly();
        outputMixer();
        return true;
    } catch (const std::exception& failure) {
        std::printf("\n== %s: no device (%s)\n", section, failure.what());
        return false;
    }
}

void latencySection(int sounds)
{
    const auto start = Clock::now();
    if (!deviceReady("Latency"))
        return;
    const OutputInfo info = outputInfo();
    std::printf("\n== Latency, first write to first frame out (SDL driver \"%s\", %d Hz, %d-frame "
                "period = %.2f ms)\n",
        info.driver.c_str(), info.sampleRate, info.bufferFrames,
        1000.0 * info.bufferFrames / info.sampleRate);
    std::printf("device opened in %.1f ms (once, early, off the event thread)\n",
        std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    {
        const Mixer& fresh = outputMixer();
        while (fresh.blocks() == 0 && Clock::now() - start < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::printf("device's first callback %.1f ms after the opening began\n",
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    // As in the program, where the device is opened at start-up, long before the first hit.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::printf("%-52s %6s %10s %10s %10s %8s\n", "", "sounds", "median ms", "p99 ms", "max ms",
        "max at #");
    const Mixer& mixer = outputMixer();
    const auto underrunsBefore = mixer.underruns();
    const auto lateBefore = mixer.lateBlocks();
    const auto blocksBefore = mixer.blocks();
    printLatency("mixer line, 48 kHz file, device idle", ourLatency(sounds, 48000.0f, 0));
    printLatency(
        "mixer line, 44.1 kHz file (resampled), device idle", ourLatency(sounds, 44100.0f, 0));
    printLatency(
        "mixer line, 44.1 kHz file, 100 lines already playing", ourLatency(sounds, 44100.0f, 100));
    std::printf("mixer totals over these runs: %llu blocks, %llu underruns, %llu late blocks\n",
        static_cast<unsigned long long>(mixer.blocks() - blocksBefore),
        static_cast<unsigned long long>(mixer.underruns() - underrunsBefore),
        static_cast<unsigned long long>(mixer.lateBlocks() - lateBefore));
    // Some drivers (dummy, disk) allow one open device only: the mixer's is closed first.
    closeOutput();
    naiveInChild(sounds);
    std::printf("goal: p99 <= period + 1 ms = %.2f ms, median no slower than naive\n",
        1000.0 * info.bufferFrames / info.sampleRate + 1);
}

// Input frames per second one converter takes (44.1 kHz to 48 kHz, channels interleaved, in
// the line's pieces): a line's own soxr recipe, or libsamplerate's (for comparison only).
template <typename Convert> double throughput(int channels, Convert&& convert)
{
    const int piece = config::writePieceFrames;
    std::vector<float> in(static_cast<std::size_t>(piece * channels));
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>(std::sin(0.01 * static_cast<double>(i)));
    std::vector<float> out(static_cast<std::size_t>(4 * piece * channels));
    long frames = 0;
    const auto start = Clock::now();
    double seconds = 0;
    while (seconds < 1.0) {
        for (int k = 0; k < 64; ++k)
            frames += convert(in.data(), piece, out.data(), 4 * piece);
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    return static_cast<double>(frames) / seconds;
}

double soxrThroughput(unsigned long recipe, int channels)
{
    RateConverter converter(44100.0, 48000.0, static_cast<unsigned>(channels), recipe);
    return throughput(channels, [&](const float* in, int n, float* out, int room) {
        std::size_t used = 0;
        converter.process(
            in, static_cast<std::size_t>(n), used, out, static_cast<std::size_t>(room));
        return static_cast<long>(used);
    });
}

double samplerateThroughput(int type, int channels)
{
    int error = 0;
    SRC_STATE* state = src_new(type, channels, &error);
    const double fps = throughput(channels, [&](const float* in, int n, float* out, int room) {
        SRC_DATA data {};
        data.data_in = in;
        data.input_frames = n;
        data.data_out = out;
        data.output_frames = room;
        data.src_ratio = 48000.0 / 44100.0;
        src_process(state, &data);
        return data.input_frames_used;
    });
    src_delete(state);
    return fps;
}

// Heap bytes one fresh converter of the recipe holds once it has converted its first pieces.
std::size_t converterBytes(unsigned long recipe, int channels)
{
    const std::size_t before = mallinfo2().uordblks;
    std::size_t bytes = 0;
    {
        RateConverter converter(44100.0, 48000.0, static_cast<unsigned>(channels), recipe);
        std::vector<float> in(static_cast<std::size_t>(4096 * channels), 0.1f);
        std::vector<float> out(static_cast<std::size_t>(8192 * channels));
        std::size_t used = 0;
        converter.process(in.data(), 4096, used, out.data(), 8192);
        bytes = mallinfo2().uordblks - before - (in.size() + out.size()) * sizeof(float);
    }
    return bytes;
}

// The whole write path of one line (decode 16-bit, convert 44.1 to 48 kHz, ring), with its
// frames taken out by render on the same thread.
double writePathThroughput()
{
    Mixer mixer(rate);
    auto line = mixer.createLine();
    line->open(pcm16Stereo(44100.0f));
    line->start();
    const auto chunk = noise16(4096, 2);
    std::vector<float> out(block * 2);
    long frames = 0;
    const auto start = Clock::now();
    double seconds = 0;
    while (seconds < 1.0) {
        line->write(chunk.data(), 0, static_cast<std::int32_t>(chunk.size()));
        frames += 4096;
        while (static_cast<MixerLine&>(*line).framesPending() >= static_cast<std::uint64_t>(block))
            mixer.render(out.data(), block);
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    line->close();
    return static_cast<double>(frames) / seconds;
}

void converterSection()
{
    std::printf("\n== Rate conversion, 44.1 kHz to 48 kHz, one line on one core, in %d-frame "
                "pieces\n",
        config::writePieceFrames);
    std::printf("%-40s %9s %16s %14s %12s\n", "converter", "channels", "input frames/s",
        "lines, 2 cores", "memory KiB");
    const struct {
        unsigned long recipe;
        const char* name;
    } recipes[] { { SOXR_HQ | SOXR_LINEAR_PHASE, "soxr 20-bit, linear phase" },
        { SOXR_HQ | SOXR_MINIMUM_PHASE, "soxr 20-bit, minimum phase" },
        { SOXR_VHQ | SOXR_LINEAR_PHASE, "soxr 28-bit, linear phase" },
        { SOXR_MQ | SOXR_LINEAR_PHASE, "soxr 16-bit (medium), linear phase" } };
    for (const auto& r : recipes)
        for (int channels : { 2, 1 }) {
            const double fps = soxrThroughput(r.recipe, channels);
            std::printf("%-40s %9d %16.3g %14.0f %12zu%s\n", r.name, channels, fps, 2 * fps / 44100,
                converterBytes(r.recipe, channels) / 1024,
                r.recipe == (config::converterQuality | config::converterPhase(44100.0, rate))
                    ? "   <- used from 44.1 kHz"
                    : "");
        }
    const struct {
        int type;
        const char* name;
    } others[] { { SRC_SINC_MEDIUM_QUALITY, "libsamplerate SINC_MEDIUM (before: none)" },
        { SRC_SINC_FASTEST, "libsamplerate SINC_FASTEST (before)" } };
    for (const auto& o : others) {
        const double fps = samplerateThroughput(o.type, 2);
        std::printf("%-40s %9d %16.3g %14.0f %12s\n", o.name, 2, fps, 2 * fps / 44100, "");
    }
    const double path = writePathThroughput();
    std::printf(
        "%-40s %9d %16.3g %14.0f\n", "whole line write path, used one", 2, path, 2 * path / 44100);
}

// Hits started at once, each on a player thread as the worker does: open a 44.1 kHz line,
// write its sound in 124288-byte chunks, drain, close. Counts what the device's callback saw.
void overlapRun(int hits, double seconds, unsigned long recipe, const char* name, int spacingMs)
{
    Mixer& mixer = outputMixer();
    mixer.setConverterQuality(recipe);
    const auto sound = noise16(static_cast<std::size_t>(seconds * 44100), 11);
    const auto underruns = mixer.underruns();
    const auto late = mixer.lateBlocks();
    std::atomic<int> done { 0 };
    const auto start = Clock::now();
    for (int i = 0; i < hits; ++i) {
        runOnPlayerThread([&] {
            auto line = mixer.createLine();
            line->open(pcm16Stereo(44100.0f));
            line->start();
            for (std::size_t at = 0; at < sound.size(); at += 124288) {
                const auto n = std::min<std::size_t>(124288, sound.size() - at);
                line->write(
                    sound.data(), static_cast<std::int32_t>(at), static_cast<std::int32_t>(n));
            }
            line->drain();
            line->close();
            ++done;
        });
        if (spacingMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(spacingMs));
    }
    while (done < hits)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-26s %6d %9d ms %9.1f s %12.2f s %10llu %12llu\n", name, hits, spacingMs, seconds,
        wall, static_cast<unsigned long long>(mixer.underruns() - underruns),
        static_cast<unsigned long long>(mixer.lateBlocks() - late));
    mixer.setConverterQuality(config::converterQuality);
}

void overlapSection()
{
    if (!deviceReady("Overlapping hits"))
        return;
    std::printf("\n== 200 overlapping 44.1 kHz hits of 4 s, each fed by its own player thread, "
                "through the device (driver \"%s\")\n",
        outputInfo().driver.c_str());
    std::printf("%-26s %6s %12s %11s %14s %10s %12s\n", "converter", "hits", "hits apart", "sound",
        "all done in", "underruns", "late blocks");
    // A roll of 200 hits 10 ms apart, all still ringing at the end, then all 200 at once.
    for (int spacing : { 10, 0 }) {
        overlapRun(200, 4.0, SOXR_HQ, "soxr 20-bit (used)", spacing);
        overlapRun(200, 4.0, SOXR_VHQ, "soxr 28-bit", spacing);
    }
}

// What one sounding hit costs in all, as the keys start them: 100 hits of a 4-second 44.1 kHz
// stereo file through the player, resident memory while all of them sound. Ring, converter,
// decoder, the player's chunk buffer, the open file and the player thread's stack together.
void hitMemorySection()
{
    const std::string path = "/tmp/tamborel-bench-hit-" + std::to_string(::getpid()) + ".wav";
    {
        const auto sound = noise16(4 * 44100, 5);
        SF_INFO info { 0, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0 };
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!file) {
            std::printf("\n== Memory of a sounding hit: cannot write %s\n", path.c_str());
            return;
        }
        sf_writef_short(
            file, reinterpret_cast<const short*>(sound.data()), static_cast<sf_count_t>(4 * 44100));
        sf_close(file);
    }
    if (!deviceReady("Memory of a sounding hit"))
        return;
    Mixer& mixer = outputMixer();
    constexpr int hits = 100;
    const long before = residentKiB();
    for (int i = 0; i < hits; ++i)
        AePlayWave(path).start();
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (mixer.lineCount() < static_cast<std::size_t>(hits) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // Each player has read its first chunks and filled its ring.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long during = residentKiB();
    std::printf("\n== Memory of a sounding hit, all of it: %d hits of a 4 s 44.1 kHz stereo file "
                "sounding at once take %.1f MiB resident, %.0f KiB a hit (%zu lines sounding)\n",
        hits, static_cast<double>(during - before) / 1024,
        static_cast<double>(during - before) / hits, mixer.lineCount());
    while (mixer.lineCount() > 0 && Clock::now() < deadline + std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::remove(path.c_str());
}

// How long opening a line (which attaches it) takes while other threads close theirs (which
// detach them, waiting for render) and render runs on a thread of its own, block after block.
void attachSection()
{
    Mixer mixer(rate);
    std::atomic<bool> stop { false };
    std::thread renderer([&] {
        std::vector<float> out(block * 2);
        while (!stop) {
            mixer.render(out.data(), block);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    std::vector<std::thread> closers;
    for (int t = 0; t < 2; ++t)
        closers.emplace_back([&] {
            while (!stop) {
                auto line = mixer.createLine();
                line->open(pcm16Stereo(rate));
                line->start();
                line->close();
            }
        });
    std::vector<double> opens;
    for (int i = 0; i < 3000; ++i) {
        auto line = mixer.createLine();
        const auto t0 = Clock::now();
        line->open(pcm16Stereo(rate));
        opens.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        if (i % 50 == 49)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    renderer.join();
    for (auto& c : closers)
        c.join();
    std::printf("\n== Opening a line while two threads close theirs and render runs: %zu opens, "
                "median %.1f us, p99 %.1f us, max %.1f us (the table grew to %zu slots)\n",
        opens.size(), percentile(opens, 50), percentile(opens, 99),
        *std::max_element(opens.begin(), opens.end()), mixer.tableCapacity());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::string(argv[1]) == "--naive") {
        naiveChild(std::atoi(argv[2]));
        std::_Exit(0);
    }
    if (argc > 1 && std::string(argv[1]) == "--memory-only") {
        memorySection();
        return 0;
    }
    const bool latencyOnly = argc > 1 && std::string(argv[1]) == "--latency-only";
    const int sounds = 300;
    std::printf("tamborel-bench: %u hardware threads\n", std::thread::hardware_concurrency());
    if (!latencyOnly) {
        // Each in a fresh process, while freed memory cannot hide what lines take.
        for (void (*section)() : { hitMemorySection, memorySection }) {
            std::fflush(stdout);
            if (const pid_t child = ::fork(); child == 0) {
                section();
                std::fflush(stdout);
                std::_Exit(0);
            } else if (child > 0) {
                ::waitpid(child, nullptr, 0);
            }
        }
        renderSection();
        converterSection();
        attachSection();
    }
    latencySection(sounds);
    if (!latencyOnly)
        overlapSection();
    std::fflush(stdout);
    std::_Exit(0); // the device thread may still be running
}
