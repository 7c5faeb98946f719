// The real service on SDL's headless drivers: "disk" writes what the device played to a file.
#include "WavFiles.h"

#include "audio/AePlayWave.h"
#include "audio/AudioException.h"
#include "audio/AudioSystem.h"
#include "audio/OutputDevice.h"
#include "audio/PlayerThreads.h"
#include "audio/mix/Mixer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace audio;
namespace fs = std::filesystem;

namespace {

class OutputDeviceT : public ::testing::Test {
protected:
    void SetUp() override
    {
        closeOutput();
        dir_ = audio_test::scratchFolder("device");
    }
    void TearDown() override
    {
        closeOutput();
        ::unsetenv("SDL_AUDIODRIVER");
        ::unsetenv("SDL_DISKAUDIOFILE");
        ::unsetenv("PULSE_SERVER");
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

std::vector<float> readFloats(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<float> floats(bytes.size() / sizeof(float));
    std::memcpy(floats.data(), bytes.data(), floats.size() * sizeof(float));
    return floats;
}

} // namespace

TEST_F(OutputDeviceT, DiskDriverPlaysTheFileBytesExactly)
{
    const fs::path played = dir_ / "played.raw";
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", played.c_str(), 1);
    const fs::path sample = dir_ / "Snare.wav";
    const int frames = 9000;
    std::vector<short> values(2 * frames);
    for (int i = 0; i < 2 * frames; ++i)
        values[static_cast<std::size_t>(i)]
            = static_cast<short>((i * 131) % 60000 - 30000 + (i % 2 ? 7 : 0) + 1);
    {
        SF_INFO info { 0, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0 };
        SNDFILE* out = sf_open(sample.c_str(), SFM_WRITE, &info);
        ASSERT_NE(out, nullptr);
        sf_write_short(out, values.data(), static_cast<sf_count_t>(values.size()));
        sf_close(out);
    }

    AePlayWave(sample.string()).run();
    EXPECT_EQ(outputInfo().driver, "disk");
    EXPECT_EQ(outputInfo().bufferFrames, 256);
    EXPECT_EQ(outputInfo().sampleRate, 48000);
    const std::uint64_t underruns = outputMixer().underruns();
    closeOutput(); // flushes the file

    const auto out = readFloats(played);
    std::size_t first = 0;
    while (first < out.size() && out[first] == 0.0f)
        ++first;
    ASSERT_LE(first + values.size(), out.size()) << "all of the sound was played";
    EXPECT_EQ(first % 2, 0u) << "starts on a frame";
    for (std::size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(out[first + i], values[i] / 32768.0f) << "sample " << i;
    for (std::size_t i = first + values.size(); i < out.size(); ++i)
        ASSERT_EQ(out[i], 0.0f) << "silence after the end, at " << i;
    EXPECT_EQ(underruns, 0u);
}

TEST_F(OutputDeviceT, NoDeviceFailsTheLineAndALaterDeviceIsUsed)
{
    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    const DataLineInfo info { { Encoding::PCM_SIGNED, 44100, 16, 2, 4, false, {} } };
    try {
        AudioSystem::instance().getLine(info);
        FAIL() << "a line without a device";
    } catch (const LineUnavailableException& failure) {
        // SDL's own reason is passed on.
        EXPECT_NE(std::string(failure.what()).find("no-such-driver"), std::string::npos)
            << failure.what();
    }
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    auto line = AudioSystem::instance().getLine(info);
    ASSERT_NE(line, nullptr);
    line->open(info.format);
    EXPECT_EQ(outputInfo().driver, "dummy");
    line->close();
}

// A sound server that takes connections and never answers, as a hung one does: each opening
// waits for it until it gives up. Hits that wait meanwhile take that opening's outcome: the
// server sees one connection, not one for each hit in its turn.
TEST_F(OutputDeviceT, HitsWaitingForAnOpeningTakeItsOutcome)
{
    const fs::path socketPath = dir_ / "silent-server";
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(server, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server, 16), 0);
    ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    ::setenv("PULSE_SERVER", ("unix:" + socketPath.string()).c_str(), 1);

    openOutputEarly();
    std::atomic<int> refused { 0 };
    std::vector<std::thread> hits;
    for (int i = 0; i < 4; ++i)
        hits.emplace_back([&refused] {
            try {
                outputMixer();
            } catch (const LineUnavailableException&) {
                ++refused;
            }
        });
    for (std::thread& hit : hits)
        hit.join();
    EXPECT_EQ(refused, 4) << "every waiting hit took the failed opening's outcome";

    int connections = 0;
    for (int client; (client = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        ++connections;
        ::close(client);
    }
    EXPECT_EQ(connections, 1) << "one opening, not one for each hit";
    ::close(server);
}

TEST_F(OutputDeviceT, EarlyOpeningIsWaitedForAndKeepsA256FramePeriod)
{
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    openOutputEarly();
    openOutputEarly(); // twice is harmless
    Mixer& mixer = outputMixer();
    EXPECT_EQ(outputInfo().bufferFrames, 256);
    EXPECT_EQ(mixer.sampleRate(), 48000);
    EXPECT_EQ(&outputMixer(), &mixer) << "one device for the process";
    // SDL leaves the signals alone: the program still ends on SIGTERM and SIGINT.
    for (int signal : { SIGTERM, SIGINT }) {
        struct sigaction action { };
        ASSERT_EQ(::sigaction(signal, nullptr, &action), 0);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << "signal " << signal;
    }
    // The callback runs: blocks go by (waited for, up to a generous deadline).
    const auto before = mixer.blocks();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (mixer.blocks() == before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GT(mixer.blocks(), before);
}

TEST_F(OutputDeviceT, ManyOverlappingPlayersAllFinishAndReleaseTheirLines)
{
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    const fs::path sample = dir_ / "Crash.wav";
    audio_test::writeSound(
        sample, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, audio_test::sine(11025, 2, 500, 44100));
    openOutputEarly();
    const std::size_t before = Mixer::liveLineStates();
    for (int i = 0; i < 40; ++i)
        AePlayWave(
            sample.string(), i % 3 == 0 ? AePlayWave::Position::LEFT : AePlayWave::Position::NORMAL)
            .start();
    // Each lasts a quarter of a second; give them all ample time on a loaded machine.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool begun = false;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::size_t live = Mixer::liveLineStates();
        begun = begun || live > before;
        if (begun && live == before && outputMixer().lineCount() == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(begun);
    EXPECT_EQ(Mixer::liveLineStates(), before);
    EXPECT_EQ(outputMixer().lineCount(), 0u);
}
