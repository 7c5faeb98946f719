// Input streams on tiny files of every encoding, and on paths that are no sound at all.
#include "WavFiles.h"

#include "audio/AudioException.h"
#include "audio/SndfileInputStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace audio;
using audio_test::sine;
using audio_test::writeSound;
namespace fs = std::filesystem;

// A disk that stops answering, or fails, for one file: the stream reads its files with pread,
// and in this test program every pread comes through here first.
namespace disk {
std::atomic<ino_t> stuckFile { 0 }; // reads of it wait until let go
std::atomic<ino_t> failingFile { 0 }; // reads of it fail
std::mutex mutex;
std::condition_variable changed;
int waiting = 0; // reads now stuck
bool letGo = false;

ino_t fileOf(int fd)
{
    struct stat status { };
    return ::fstat(fd, &status) == 0 ? status.st_ino : 0;
}

ino_t fileAt(const std::string& path)
{
    struct stat status { };
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}
} // namespace disk

extern "C" ssize_t pread(int fd, void* into, std::size_t count, off_t offset)
{
    using Pread = ssize_t (*)(int, void*, std::size_t, off_t);
    static const auto next = reinterpret_cast<Pread>(::dlsym(RTLD_NEXT, "pread"));
    if (disk::stuckFile.load() != 0 || disk::failingFile.load() != 0) {
        const ino_t file = disk::fileOf(fd);
        if (file != 0 && file == disk::failingFile.load()) {
            errno = EIO;
            return -1;
        }
        if (file == disk::stuckFile.load()) {
            std::unique_lock lock(disk::mutex);
            ++disk::waiting;
            disk::changed.notify_all();
            disk::changed.wait(lock, [] { return disk::letGo; });
            --disk::waiting;
        }
    }
    return next(fd, into, count, offset);
}

namespace {

// Reads the whole stream with requests of the given size.
std::vector<std::byte> readAll(AudioInputStream& stream, std::int32_t request = 124288)
{
    std::vector<std::byte> all;
    std::vector<std::byte> buffer(static_cast<std::size_t>(request));
    for (;;) {
        const std::int32_t n = stream.read(buffer.data(), 0, request);
        if (n == -1)
            break;
        EXPECT_GE(n, 0);
        EXPECT_EQ(n % stream.getFormat().frameSize, 0);
        all.insert(all.end(), buffer.begin(), buffer.begin() + n);
    }
    return all;
}

// The test's own reading of bytes in a reported format, independent of the service's.
std::vector<double> samplesOf(const std::vector<std::byte>& bytes, const AudioFormat& f)
{
    const int width = f.sampleSizeInBits / 8;
    std::vector<double> out;
    for (std::size_t at = 0; at + static_cast<std::size_t>(width) <= bytes.size();
         at += static_cast<std::size_t>(width)) {
        std::uint8_t b[8] {};
        for (int k = 0; k < width; ++k)
            b[k] = static_cast<std::uint8_t>(
                bytes[at + static_cast<std::size_t>(f.bigEndian ? width - 1 - k : k)]);
        if (f.encoding == Encoding::PCM_FLOAT) {
            if (width == 4) {
                float v;
                std::memcpy(&v, b, 4);
                out.push_back(v);
            } else {
                double v;
                std::memcpy(&v, b, 8);
                out.push_back(v);
            }
            continue;
        }
        std::uint64_t u = 0;
        for (int k = width - 1; k >= 0; --k)
            u = u << 8 | b[k];
        const double full = std::ldexp(1.0, 8 * width - 1);
        if (f.encoding == Encoding::PCM_UNSIGNED) {
            out.push_back((static_cast<double>(u) - full) / full);
        } else {
            const std::uint64_t sign = std::uint64_t(1) << (8 * width - 1);
            const auto s = static_cast<std::int64_t>((u ^ sign)) - static_cast<std::int64_t>(sign);
            out.push_back(static_cast<double>(s) / full);
        }
    }
    return out;
}

std::size_t openDescriptors()
{
    std::size_t n = 0;
    for ([[maybe_unused]] auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// How an open of path ended: "opened", or the failure's kind and message. The open runs on a
// thread of its own; should it sit waiting for a writer, as opening a named pipe for reading
// does, a writer lets it go, so the test ends and tells what the stream made of it.
std::string openOutcome(const std::string& path)
{
    auto outcome = std::async(std::launch::async, [&path]() -> std::string {
        try {
            SndfileInputStream stream(path);
            return "opened";
        } catch (const IOException& failure) {
            return std::string("IOException: ") + failure.what();
        } catch (const UnsupportedAudioFileException& failure) {
            return std::string("UnsupportedAudioFileException: ") + failure.what();
        }
    });
    bool waited = false;
    if (outcome.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        while (outcome.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
            // A writer gets in only while a reader holds the pipe open.
            const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) {
                waited = true;
                ::close(writer);
            }
        }
    }
    EXPECT_FALSE(waited) << path << ": the open waited for a writer";
    return outcome.get();
}

class SndfileInputStreamT : public ::testing::Test {
protected:
    void SetUp() override { dir_ = audio_test::scratchFolder("in"); }
    void TearDown() override { fs::remove_all(dir_); }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

struct EncodingCase {
    const char* name;
    int sfFormat;
    int channels;
    int rate;
    Encoding encoding;
    int bits;
    bool bigEndian;
    // Largest difference from the samples written; libsndfile scales doubles by 2^(n-1) - 1
    // when it writes n-bit integers, hence two steps for plain PCM.
    double tolerance;
    int skipFrames; // frames at the start an adaptive coder needs to settle
};

} // namespace

TEST_F(SndfileInputStreamT, EveryEncodingReportsItsFormatAndDeliversItsSamples)
{
    const std::vector<EncodingCase> cases {
        { "u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 2, 22050, Encoding::PCM_UNSIGNED, 8, false,
            2.0 / 128, 0 },
        { "s16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, Encoding::PCM_SIGNED, 16, false,
            2.0 / 32768, 0 },
        { "s24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 48000, Encoding::PCM_SIGNED, 24, false,
            2.0 / 8388608, 0 },
        { "s32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, 96000, Encoding::PCM_SIGNED, 32, false, 1e-9,
            0 },
        { "float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, Encoding::PCM_FLOAT, 32, false, 1e-7,
            0 },
        { "double", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, 192000, Encoding::PCM_FLOAT, 64, false,
            1e-15, 0 },
        { "ulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 8000, Encoding::PCM_SIGNED, 16, false, 0.02,
            0 },
        { "alaw", SF_FORMAT_WAV | SF_FORMAT_ALAW, 2, 8000, Encoding::PCM_SIGNED, 16, false, 0.02,
            0 },
        { "ima", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 22050, Encoding::PCM_SIGNED, 16, false,
            0.05, 64 },
        { "ms", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 1, 11025, Encoding::PCM_SIGNED, 16, false, 0.05,
            64 },
        { "extensible 5.1", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 6, 48000, Encoding::PCM_SIGNED, 16,
            false, 2.0 / 32768, 0 },
        { "rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 2, 44100, Encoding::PCM_SIGNED, 24, false,
            2.0 / 8388608, 0 },
        { "aiff big-endian", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 32000, Encoding::PCM_SIGNED, 16,
            true, 2.0 / 32768, 0 },
        { "flac 24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 44100, Encoding::PCM_FLOAT, 32, false,
            2.0 / 8388608, 0 },
    };
    for (const EncodingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file(std::string(c.name) + ".wav"); // the name says nothing
        const int frames = 3001;
        const auto written = sine(frames, c.channels, 441.0, c.rate);
        writeSound(path, c.sfFormat, c.channels, c.rate, written);

        SndfileInputStream stream(path);
        const AudioFormat f = stream.getFormat();
        EXPECT_EQ(f.encoding, c.encoding);
        EXPECT_EQ(f.sampleRate, static_cast<float>(c.rate));
        EXPECT_EQ(f.sampleSizeInBits, c.bits);
        EXPECT_EQ(f.channels, c.channels);
        EXPECT_EQ(f.frameSize, c.channels * c.bits / 8);
        EXPECT_EQ(f.bigEndian, c.bigEndian);

        const auto read = samplesOf(readAll(stream, 1000), f);
        // ADPCM stores whole blocks: the last one is filled up with silence.
        if (c.skipFrames > 0) {
            ASSERT_GE(read.size(), written.size());
            for (std::size_t i = written.size(); i < read.size(); ++i)
                ASSERT_NEAR(read[i], 0.0, c.tolerance) << "padding at " << i;
        } else {
            ASSERT_EQ(read.size(), written.size());
        }
        double worst = 0;
        for (std::size_t i = static_cast<std::size_t>(c.skipFrames * c.channels);
             i < written.size(); ++i)
            worst = std::max(worst, std::abs(read[i] - written[i]));
        EXPECT_LE(worst, c.tolerance);
    }
}

TEST_F(SndfileInputStreamT, AFileThatNamesItsSpeakersSaysWhereEachChannelSounds)
{
    // Left, right, centre and LFE: not the quad layout that four channels usually are.
    // WAVE_FORMAT_EXTENSIBLE with the speaker mask FL | FR | FC | LFE, 16 frames of 16 bits.
    const auto path = dir_ / "mapped.wav";
    {
        std::vector<std::uint8_t> b;
        auto put = [&](std::uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i)
                b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        };
        auto text = [&](const char* t) {
            for (int i = 0; i < 4; ++i)
                b.push_back(static_cast<std::uint8_t>(t[i]));
        };
        const std::uint32_t dataBytes = 16 * 4 * 2;
        text("RIFF");
        put(4 + 8 + 40 + 8 + dataBytes, 4);
        text("WAVE");
        text("fmt ");
        put(40, 4);
        put(0xFFFE, 2); // extensible
        put(4, 2);
        put(48000, 4);
        put(48000 * 8, 4);
        put(8, 2);
        put(16, 2);
        put(22, 2);
        put(16, 2); // valid bits
        put(0x1 | 0x2 | 0x4 | 0x8, 4); // FL FR FC LFE
        put(1, 4); // the PCM subformat GUID
        for (std::uint8_t x :
            { 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71 })
            b.push_back(x);
        text("data");
        put(dataBytes, 4);
        b.resize(b.size() + dataBytes, 0);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    SndfileInputStream stream(path.string());
    EXPECT_EQ(stream.getFormat().speakers,
        (std::vector<Speaker> { Speaker::FrontLeft, Speaker::FrontRight, Speaker::FrontCentre,
            Speaker::LowFrequency }));
}

TEST_F(SndfileInputStreamT, PlainSamplesComeOutAsTheBytesInTheFile)
{
    const std::string path = file("raw.wav");
    {
        SF_INFO info { 0, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0 };
        SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(out, nullptr);
        const short values[] { 0, 16384, -16384, 1, -32768 };
        sf_write_short(out, values, 5);
        sf_close(out);
    }
    SndfileInputStream stream(path);
    const auto bytes = readAll(stream);
    const std::vector<std::uint8_t> expected { 0x00, 0x00, 0x00, 0x40, 0x00, 0xc0, 0x01, 0x00, 0x00,
        0x80 };
    ASSERT_EQ(bytes.size(), expected.size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        EXPECT_EQ(static_cast<std::uint8_t>(bytes[i]), expected[i]) << "byte " << i;
}

TEST_F(SndfileInputStreamT, ReadsReturnWholeFramesOnlyThenMinusOne)
{
    const std::string path = file("s24.wav");
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 44100, sine(30000, 2, 100, 44100));
    SndfileInputStream stream(path);
    std::vector<std::byte> buffer(124288 + 10);
    EXPECT_EQ(stream.read(buffer.data(), 0, 5), 0) << "less than a frame";
    EXPECT_EQ(stream.read(buffer.data(), 10, 124288), 124284);
    EXPECT_EQ(stream.read(buffer.data(), 0, 124288), 30000 * 6 - 124284);
    EXPECT_EQ(stream.read(buffer.data(), 0, 124288), -1);
    EXPECT_EQ(stream.read(buffer.data(), 0, 124288), -1);
}

TEST_F(SndfileInputStreamT, FileWithNoFramesEndsAtOnce)
{
    const std::string path = file("empty-data.wav");
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, {});
    SndfileInputStream stream(path);
    std::vector<std::byte> buffer(124288);
    EXPECT_EQ(stream.read(buffer.data(), 0, 124288), -1);
}

TEST_F(SndfileInputStreamT, PathsThatAreNoSoundFailClearly)
{
    fs::create_directories(dir_ / "folder.wav");
    std::ofstream(file("text.wav")) << "Just some words.\n";
    std::ofstream(file("empty.wav")).flush();
    writeSound(
        file("good.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, sine(1000, 1, 440, 44100));
    {
        std::ifstream in(file("good.wav"), std::ios::binary);
        std::string whole((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(file("header-cut.wav"), std::ios::binary) << whole.substr(0, 20);
        std::string corrupt = whole;
        for (std::size_t i = 12; i < 44; ++i)
            corrupt[i] = static_cast<char>(0xA5 ^ i);
        std::ofstream(file("header-corrupt.wav"), std::ios::binary) << corrupt;
    }
    const std::size_t descriptors = openDescriptors();

    auto expectFailure = [&](const std::string& name, bool ioFailure) {
        SCOPED_TRACE(name);
        const std::string path = file(name);
        try {
            SndfileInputStream stream(path);
            ADD_FAILURE() << "opened";
        } catch (const IOException& failure) {
            EXPECT_TRUE(ioFailure) << failure.what();
            EXPECT_NE(std::string(failure.what()).find(path), std::string::npos) << failure.what();
        } catch (const UnsupportedAudioFileException& failure) {
            EXPECT_FALSE(ioFailure) << failure.what();
            EXPECT_NE(std::string(failure.what()).find(path), std::string::npos) << failure.what();
        }
    };
    expectFailure("folder.wav", true);
    expectFailure("no-such.wav", true);
    expectFailure("text.wav", false);
    expectFailure("empty.wav", false);
    expectFailure("header-cut.wav", false);
    expectFailure("header-corrupt.wav", false);
    EXPECT_EQ(openDescriptors(), descriptors) << "a failed open leaves no file open";
}

// A named pipe or a device in a kit folder is no sample: refused at once, as a folder is, and
// never waited on. Opening a pipe for reading used to wait for a writer that never comes,
// holding a player thread for ever, one more at each press.
TEST_F(SndfileInputStreamT, PipesAndDevicesAreRefusedAtOnce)
{
    ASSERT_EQ(::mkfifo(file("pipe.wav").c_str(), 0600), 0) << std::strerror(errno);
    fs::create_symlink("/dev/null", dir_ / "device.wav");
    fs::create_directory(dir_ / "folder.wav");
    const std::size_t descriptors = openDescriptors();
    for (const char* name : { "pipe.wav", "device.wav" }) {
        const std::string path = file(name);
        EXPECT_EQ(openOutcome(path), "IOException: " + path + " (" + std::strerror(ENOTSUP) + ")");
    }
    EXPECT_EQ(openOutcome(file("folder.wav")),
        "IOException: " + file("folder.wav") + " (Is a directory)");
    EXPECT_EQ(openDescriptors(), descriptors) << "a refused file is left closed";
}

TEST_F(SndfileInputStreamT, UnreadableFileIsAnIoFailure)
{
    const std::string path = file("locked.wav");
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, sine(100, 1, 440, 44100));
    fs::permissions(path, fs::perms::none);
    fs::permissions(dir_, fs::perms::all);
    // Root reads every file: try it as an unprivileged user in a child process then.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        try {
            SndfileInputStream stream(path);
            ::_exit(2);
        } catch (const IOException& failure) {
            ::_exit(
                std::string(failure.what()).find("Permission denied") != std::string::npos ? 0 : 4);
        } catch (...) {
            ::_exit(1);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: other failure, 2: opened, 3: no user to try, 4: unclear message";
}

TEST_F(SndfileInputStreamT, DataChunkLongerThanTheFilePlaysWhatIsThere)
{
    const std::string path = file("cut.wav");
    const auto written = sine(4000, 2, 300, 44100);
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, written);
    // Cut the file in the middle of a frame: the header still promises 4000 frames.
    const auto full = fs::file_size(path);
    fs::resize_file(path, full - 2000 * 4 - 3);
    SndfileInputStream stream(path);
    const auto read = samplesOf(readAll(stream), stream.getFormat());
    ASSERT_EQ(read.size(), 1999u * 2);
    for (std::size_t i = 0; i < read.size(); ++i)
        ASSERT_NEAR(read[i], written[i], 1.0 / 32768) << i;
}

TEST_F(SndfileInputStreamT, TheFileIsClosedWithTheStream)
{
    const std::string path = file("fd.wav");
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, sine(100, 1, 440, 44100));
    const std::size_t before = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        auto stream = std::make_unique<SndfileInputStream>(path);
        EXPECT_EQ(openDescriptors(), before + 1);
        stream.reset();
    }
    EXPECT_EQ(openDescriptors(), before);
}

// A failed open must close nothing but its own file: a descriptor closed twice may by then
// belong to another player's sample, which then fails to open or stops mid-read. And each
// broken file keeps its own reason, though libsndfile notes the reason of a failed open in one
// place for the whole process.
TEST_F(SndfileInputStreamT, BrokenFilesOpenedBesideGoodOnesKeepTheirReasonsAndCloseOnlyTheirOwn)
{
    const auto written = sine(2000, 1, 440, 44100);
    writeSound(file("good.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, written);
    std::ofstream(file("text.wav")) << "Just some words, long enough to be read as a header.\n";
    {
        std::ifstream in(file("good.wav"), std::ios::binary);
        std::string whole((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(file("fmt-cut.wav"), std::ios::binary) << whole.substr(0, 20);
        std::ofstream(file("no-data.wav"), std::ios::binary) << whole.substr(0, 36);
        whole[22] = whole[23] = 0; // the channel count
        std::ofstream(file("no-channels.wav"), std::ios::binary) << whole;
    }
    const std::vector<std::string> broken { file("text.wav"), file("fmt-cut.wav"),
        file("no-data.wav"), file("no-channels.wav") };
    // Each one's reason, opened alone: all four differ, so a swapped reason shows.
    std::vector<std::string> reasons;
    for (const std::string& path : broken) {
        try {
            SndfileInputStream alone(path);
        } catch (const UnsupportedAudioFileException& failure) {
            reasons.push_back(failure.what());
        }
    }
    ASSERT_EQ(reasons.size(), broken.size());
    ASSERT_EQ(std::set<std::string>(reasons.begin(), reasons.end()).size(), broken.size());
    const std::size_t descriptors = openDescriptors();

    constexpr int threads = 6;
    constexpr int rounds = 400;
    std::atomic<int> goodOpened { 0 }, goodWhole { 0 }, brokenRefused { 0 };
    std::vector<std::string> failures[threads];
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round) {
                if (t % 2 == 1) {
                    const std::size_t which = static_cast<std::size_t>(round + t) % broken.size();
                    try {
                        SndfileInputStream refused(broken[which]);
                    } catch (const UnsupportedAudioFileException& failure) {
                        if (failure.what() == reasons[which])
                            ++brokenRefused;
                        else
                            failures[t].push_back(failure.what());
                    } catch (const std::exception& other) {
                        failures[t].push_back(other.what());
                    }
                    continue;
                }
                try {
                    SndfileInputStream good(file("good.wav"));
                    ++goodOpened;
                    if (readAll(good, 512).size() == written.size() * 2)
                        ++goodWhole;
                } catch (const std::exception& failure) {
                    failures[t].push_back(failure.what());
                }
            }
        });
    for (auto& worker : workers)
        worker.join();

    for (const auto& seen : failures)
        EXPECT_TRUE(seen.empty()) << seen.size() << " failures, the first: " << seen.front();
    EXPECT_EQ(goodOpened.load(), rounds * threads / 2);
    EXPECT_EQ(goodWhole.load(), rounds * threads / 2);
    EXPECT_EQ(brokenRefused.load(), rounds * threads / 2);
    EXPECT_EQ(openDescriptors(), descriptors);
}

// A kit on a network mount that stops answering: the player opening a file there waits, and
// no other player does, whether its file is good or broken. A disk that fails instead is
// reported as the system's failure, at the open or at a read.
TEST_F(SndfileInputStreamT, ADiskThatStopsAnsweringHoldsUpItsOwnFileOnly)
{
    const auto written = sine(2000, 1, 440, 44100);
    for (const char* name : { "good.wav", "stuck.wav", "failing.wav" })
        writeSound(file(name), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, written);
    std::ofstream(file("text.wav")) << "Just some words, long enough to be read as a header.\n";
    disk::letGo = false;
    disk::stuckFile = disk::fileAt(file("stuck.wav"));

    auto stuck = std::async(std::launch::async, [&] {
        SndfileInputStream stream(file("stuck.wav"));
        return readAll(stream).size();
    });
    {
        std::unique_lock lock(disk::mutex);
        ASSERT_TRUE(disk::changed.wait_for(
            lock, std::chrono::seconds(10), [] { return disk::waiting > 0; }));
    }
    auto others = std::async(std::launch::async, [&] {
        SndfileInputStream good(file("good.wav"));
        std::string outcome = std::to_string(readAll(good).size()) + " bytes";
        try {
            SndfileInputStream text(file("text.wav"));
        } catch (const UnsupportedAudioFileException& failure) {
            outcome += std::string(", ") + failure.what();
        }
        return outcome;
    });
    // The others have all the time they need; only a wait behind the stuck read ends it.
    const bool doneWhileStuck
        = others.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    {
        std::lock_guard lock(disk::mutex);
        disk::letGo = true;
        disk::changed.notify_all();
    }
    EXPECT_TRUE(doneWhileStuck) << "the other opens waited for the stuck one";
    EXPECT_EQ(others.get(),
        std::to_string(written.size() * 2) + " bytes, " + file("text.wav")
            + ": Format not recognised.");
    EXPECT_EQ(stuck.get(), written.size() * 2);
    disk::stuckFile = 0;

    disk::failingFile = disk::fileAt(file("failing.wav"));
    EXPECT_EQ(openOutcome(file("failing.wav")),
        "IOException: " + file("failing.wav") + " (Input/output error)");
    disk::failingFile = 0;
    SndfileInputStream stream(file("failing.wav"));
    disk::failingFile = disk::fileAt(file("failing.wav"));
    std::vector<std::byte> buffer(512);
    try {
        stream.read(buffer.data(), 0, 512);
        ADD_FAILURE() << "read";
    } catch (const IOException& failure) {
        EXPECT_EQ(std::string(failure.what()), file("failing.wav") + " (Input/output error)");
    }
    disk::failingFile = 0;
}

TEST_F(SndfileInputStreamT, BadArgumentsAreRefused)
{
    const std::string path = file("args.wav");
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, sine(100, 1, 440, 44100));
    SndfileInputStream stream(path);
    std::byte buffer[8];
    EXPECT_THROW(stream.read(buffer, 0, -2), IllegalArgumentException);
    EXPECT_THROW(stream.read(buffer, -1, 2), IllegalArgumentException);
}
