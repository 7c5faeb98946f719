// The worker against a fake audio service that records every call.
#include "audio/AePlayWave.h"
#include "audio/AudioException.h"
#include "audio/AudioSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace audio;
namespace fs = std::filesystem;

namespace {

// Everything the fake service saw, in order.
struct Journal {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> calls;
    std::vector<std::int32_t> writeSizes;
    std::vector<std::byte> written;

    void add(std::string call)
    {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
        changed.notify_all();
    }
    std::vector<std::string> snapshot()
    {
        std::lock_guard lock(mutex);
        return calls;
    }
    bool waitFor(const std::string& call)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10),
            [&] { return std::find(calls.begin(), calls.end(), call) != calls.end(); });
    }
};

struct StreamScript {
    std::vector<std::byte> data;
    int frameSize = 4;
    int zeroReadsFirst = 0; // reads that return 0 before any data
    int failAtRead = -1; // read number (from 0) that throws
    bool failWithIo = true;
};

class FakeStream final : public AudioInputStream {
public:
    FakeStream(Journal& journal, StreamScript script)
        : journal_(journal)
        , script_(std::move(script))
    {
    }
    ~FakeStream() override { journal_.add("stream released"); }
    AudioFormat getFormat() const override
    {
        return { Encoding::PCM_SIGNED, 44100.0f, 16, script_.frameSize / 2, script_.frameSize,
            false, {} };
    }
    std::int32_t read(std::byte* buffer, std::int32_t off, std::int32_t len) override
    {
        const int number = reads_++;
        journal_.add("read " + std::to_string(len));
        if (number == script_.failAtRead) {
            if (script_.failWithIo)
                throw IOException("disk went away");
            throw std::runtime_error("something else broke");
        }
        if (number < script_.zeroReadsFirst)
            return 0;
        const auto left = static_cast<std::int32_t>(script_.data.size() - position_);
        if (left == 0)
            return -1;
        std::int32_t n = std::min(len - len % script_.frameSize, left);
        std::copy_n(script_.data.begin() + static_cast<std::ptrdiff_t>(position_), n, buffer + off);
        position_ += static_cast<std::size_t>(n);
        return n;
    }

private:
    Journal& journal_;
    StreamScript script_;
    std::size_t position_ = 0;
    int reads_ = 0;
};

// A pan or a gain that notes each value set as "pan V" or "gain V".
class FakeControl final : public FloatControl {
public:
    FakeControl(Journal& journal, Type type)
        : journal_(journal)
        , type_(type)
    {
    }
    Type getType() const override { return type_; }
    float getValue() const override { return value_; }
    void setValue(float value) override
    {
        value_ = value;
        journal_.add((type_ == Type::PAN ? "pan " : "gain ") + std::to_string(value));
    }
    float getMinimum() const override { return type_ == Type::PAN ? -1 : -80; }
    float getMaximum() const override { return type_ == Type::PAN ? 1 : 0; }

private:
    Journal& journal_;
    Type type_;
    float value_ = 0;
};

class FakeLine final : public SourceDataLine {
public:
    FakeLine(Journal& journal, bool hasPan)
        : journal_(journal)
        , hasPan_(hasPan)
        , pan_(journal, FloatControl::Type::PAN)
        , gain_(journal, FloatControl::Type::MASTER_GAIN)
    {
    }
    ~FakeLine() override { journal_.add("line released"); }
    void open(const AudioFormat& format) override
    {
        journal_.add("open " + std::to_string(format.frameSize));
    }
    bool isControlSupported(FloatControl::Type) const override { return hasPan_; }
    FloatControl& getControl(FloatControl::Type type) override
    {
        if (!hasPan_)
            throw IllegalArgumentException("no pan");
        journal_.add("getControl");
        return type == FloatControl::Type::PAN ? pan_ : gain_;
    }
    void start() override { journal_.add("start"); }
    std::int32_t write(const std::byte* buffer, std::int32_t off, std::int32_t len) override
    {
        {
            std::lock_guard lock(journal_.mutex);
            journal_.writeSizes.push_back(len);
            journal_.written.insert(journal_.written.end(), buffer + off, buffer + off + len);
        }
        journal_.add("write");
        return len;
    }
    void drain() override { journal_.add("drain"); }
    void close() override { journal_.add("close"); }

private:
    Journal& journal_;
    bool hasPan_;
    FakeControl pan_;
    FakeControl gain_;
};

class FakeSystem final : public AudioSystem {
public:
    explicit FakeSystem(Journal& journal)
        : journal_(journal)
    {
    }
    std::unique_ptr<AudioInputStream> getAudioInputStream(const std::string& path) override
    {
        journal_.add("getAudioInputStream " + path);
        if (failOpen)
            throw UnsupportedAudioFileException("not audio: " + path);
        return std::make_unique<FakeStream>(journal_, script);
    }
    std::unique_ptr<SourceDataLine> getLine(const DataLineInfo& info) override
    {
        journal_.add("getLine " + std::to_string(info.format.frameSize));
        if (noLine)
            throw LineUnavailableException("no device here");
        return std::make_unique<FakeLine>(journal_, hasPan);
    }

    StreamScript script;
    bool hasPan = true;
    bool failOpen = false;
    bool noLine = false;

private:
    Journal& journal_;
};

// Sends fd 2 to a file while alive, so a test can read what was reported, even from
// another thread.
class StderrFile {
public:
    StderrFile()
        : path_(fs::temp_directory_path() / ("tamborel-stderr-" + std::to_string(::getpid())))
    {
        std::fflush(stderr);
        std::cerr.flush();
        saved_ = ::dup(2);
        const int fd = ::open(path_.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrFile()
    {
        std::cerr.flush();
        ::dup2(saved_, 2);
        ::close(saved_);
        fs::remove(path_);
    }
    std::string text() const
    {
        std::cerr.flush();
        std::ifstream in(path_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool waitFor(const std::string& part) const
    {
        for (int i = 0; i < 1000; ++i) {
            if (text().find(part) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    fs::path path_;
    int saved_ = -1;
};

class AePlayWaveT : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("tamborel-player-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        sample_ = (dir_ / "Bass.wav").string();
        std::ofstream(sample_) << "fake";
        previous_ = AudioSystem::setInstance(&system_);
        previousPrompt_ = AePlayWave::setMissingFilePrompt(
            [this](const std::string& message, const std::string& title) {
                std::lock_guard lock(journal_.mutex);
                prompts_.emplace_back(message, title);
            });
    }
    void TearDown() override
    {
        AudioSystem::setInstance(previous_);
        AePlayWave::setMissingFilePrompt(previousPrompt_);
        fs::remove_all(dir_);
    }

    static std::vector<std::byte> pattern(std::size_t size)
    {
        std::vector<std::byte> bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<std::byte>((i * 7 + i / 251) & 0xff);
        return bytes;
    }

    std::vector<std::string> callsWithout(const std::string& prefix)
    {
        std::vector<std::string> kept;
        for (auto& call : journal_.snapshot())
            if (call.rfind(prefix, 0) != 0)
                kept.push_back(call);
        return kept;
    }

    Journal journal_;
    FakeSystem system_ { journal_ };
    fs::path dir_;
    std::string sample_;
    std::vector<std::pair<std::string, std::string>> prompts_;

private:
    AudioSystem* previous_ = nullptr;
    AePlayWave::MissingFilePrompt previousPrompt_;
};

} // namespace

TEST(AePlayWavePosition, ValuesKeepTheirOrderNamesAndOrdinals)
{
    const auto values = AePlayWave::Position::values();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0], AePlayWave::Position::LEFT);
    EXPECT_EQ(values[1], AePlayWave::Position::RIGHT);
    EXPECT_EQ(values[2], AePlayWave::Position::NORMAL);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(values[static_cast<std::size_t>(i)].ordinal(), i);
    EXPECT_EQ(values[0].name(), "LEFT");
    EXPECT_EQ(values[1].name(), "RIGHT");
    EXPECT_EQ(values[2].name(), "NORMAL");
}

TEST(AePlayWavePosition, ValueOfTakesExactNamesOnly)
{
    EXPECT_EQ(AePlayWave::Position::valueOf("LEFT"), AePlayWave::Position::LEFT);
    EXPECT_EQ(AePlayWave::Position::valueOf("RIGHT"), AePlayWave::Position::RIGHT);
    EXPECT_EQ(AePlayWave::Position::valueOf("NORMAL"), AePlayWave::Position::NORMAL);
    for (const char* wrong : { "left", "", "NORMAL ", "CENTER" }) {
        try {
            AePlayWave::Position::valueOf(wrong);
            ADD_FAILURE() << "accepted \"" << wrong << "\"";
        } catch (const std::invalid_argument& failure) {
            EXPECT_EQ(std::string(failure.what()),
                std::string("No enum constant AePlayWave.Position.") + wrong);
        }
    }
}

TEST(AePlayWavePosition, PathOnlyConstructorMeansNormal)
{
    EXPECT_EQ(AePlayWave("x.wav").curPosition, AePlayWave::Position::NORMAL);
    EXPECT_EQ(
        AePlayWave("x.wav", AePlayWave::Position::LEFT).curPosition, AePlayWave::Position::LEFT);
    EXPECT_EQ(AePlayWave("./kits/a/b.wav").filename, "./kits/a/b.wav");
}

TEST_F(AePlayWaveT, StreamsEveryByteInOrderInChunksOfAtMost124288)
{
    system_.script.data = pattern(2 * 124288 + 51424);
    AePlayWave(sample_).run();

    EXPECT_EQ(journal_.writeSizes, (std::vector<std::int32_t> { 124288, 124288, 51424 }));
    EXPECT_TRUE(journal_.written == system_.script.data);
    const std::vector<std::string> expected { "getAudioInputStream " + sample_, "getLine 4",
        "open 4", "getControl", "start", "read 124288", "write", "read 124288", "write",
        "read 124288", "write", "read 124288", "drain", "close", "line released",
        "stream released" };
    EXPECT_EQ(journal_.snapshot(), expected);
}

TEST_F(AePlayWaveT, ZeroCountReadsGiveEmptyWritesAndTheLoopGoesOn)
{
    system_.script.data = pattern(1000);
    system_.script.zeroReadsFirst = 2;
    AePlayWave(sample_).run();
    EXPECT_EQ(journal_.writeSizes, (std::vector<std::int32_t> { 0, 0, 1000 }));
    EXPECT_TRUE(journal_.written == system_.script.data);
}

TEST_F(AePlayWaveT, EmptyFileWritesNothingButIsStillDrainedAndClosed)
{
    AePlayWave(sample_).run();
    EXPECT_TRUE(journal_.writeSizes.empty());
    const std::vector<std::string> expected { "getAudioInputStream " + sample_, "getLine 4",
        "open 4", "getControl", "start", "read 124288", "drain", "close", "line released",
        "stream released" };
    EXPECT_EQ(journal_.snapshot(), expected);
}

TEST_F(AePlayWaveT, PanFollowsThePosition)
{
    struct Case {
        AePlayWave::Position position;
        bool hasPan;
        std::vector<std::string> panCalls;
    };
    const std::vector<Case> cases {
        { AePlayWave::Position::NORMAL, true, { "getControl" } },
        { AePlayWave::Position::RIGHT, true, { "getControl", "pan 1.000000" } },
        { AePlayWave::Position::LEFT, true, { "getControl", "pan -1.000000" } },
        { AePlayWave::Position::RIGHT, false, {} },
        { AePlayWave::Position::LEFT, false, {} },
    };
    for (const Case& c : cases) {
        journal_.calls.clear();
        system_.hasPan = c.hasPan;
        StderrFile err;
        AePlayWave(sample_, c.position).run();
        std::vector<std::string> panCalls;
        for (auto& call : journal_.snapshot())
            if (call == "getControl" || call.rfind("pan ", 0) == 0)
                panCalls.push_back(call);
        EXPECT_EQ(panCalls, c.panCalls)
            << c.position.name() << (c.hasPan ? " with pan" : " without pan");
        EXPECT_EQ(err.text(), "") << "nothing is reported";
        // The pan comes after open and before start.
        const auto calls = journal_.snapshot();
        const auto start = std::find(calls.begin(), calls.end(), "start");
        ASSERT_NE(start, calls.end());
        if (!c.panCalls.empty()) {
            EXPECT_LT(std::find(calls.begin(), calls.end(), c.panCalls.back()), start);
        }
    }
}

TEST_F(AePlayWaveT, AGainBelowFullLevelIsSetBeforeStartAndFullLevelLeavesTheLineAlone)
{
    for (const float db : { -12.5f, 0.0f, -200.0f }) {
        journal_.calls.clear();
        AePlayWave(sample_, AePlayWave::Position::NORMAL, db).run();
        const auto calls = journal_.snapshot();
        const auto gain = std::find_if(calls.begin(), calls.end(),
            [](const std::string& c) { return c.rfind("gain ", 0) == 0; });
        if (db == 0.0f) {
            EXPECT_EQ(gain, calls.end()) << "a full-level hit sets no gain";
            continue;
        }
        ASSERT_NE(gain, calls.end()) << db;
        EXPECT_EQ(*gain, "gain " + std::to_string(std::max(db, -80.0f)))
            << "held to the control's range";
        EXPECT_LT(gain, std::find(calls.begin(), calls.end(), "start"));
    }
}

TEST_F(AePlayWaveT, MissingFileAsksTheUserAndOpensNothing)
{
    const std::string path = "./kits/acoustic/NoSuch.wav";
    AePlayWave(path).run();
    ASSERT_EQ(prompts_.size(), 1u);
    EXPECT_EQ(prompts_[0].first, "File missing: ./kits/acoustic/NoSuch.wav");
    EXPECT_EQ(prompts_[0].second, "Error");
    EXPECT_TRUE(journal_.snapshot().empty());
}

TEST_F(AePlayWaveT, UnreadableStreamIsReportedOnStderrOnly)
{
    system_.failOpen = true;
    StderrFile err;
    AePlayWave(sample_).run();
    EXPECT_TRUE(prompts_.empty());
    EXPECT_EQ(journal_.snapshot(), (std::vector<std::string> { "getAudioInputStream " + sample_ }));
    EXPECT_NE(err.text().find("audio.UnsupportedAudioFileException: not audio: " + sample_),
        std::string::npos)
        << err.text();
}

TEST_F(AePlayWaveT, NoLineIsReportedAndTheStreamReleased)
{
    system_.noLine = true;
    StderrFile err;
    AePlayWave(sample_).run();
    EXPECT_EQ(callsWithout("getAudioInputStream"),
        (std::vector<std::string> { "getLine 4", "stream released" }));
    EXPECT_NE(err.text().find("audio.LineUnavailableException: no device here"), std::string::npos)
        << err.text();
}

TEST_F(AePlayWaveT, ReadFailureIsReportedThenTheLineDrainedAndClosed)
{
    system_.script.data = pattern(300000);
    system_.script.failAtRead = 1;
    StderrFile err;
    EXPECT_NO_THROW(AePlayWave(sample_).run());
    EXPECT_EQ(journal_.writeSizes, (std::vector<std::int32_t> { 124288 }));
    const auto calls = journal_.snapshot();
    const std::vector<std::string> tail(calls.end() - 4, calls.end());
    EXPECT_EQ(
        tail, (std::vector<std::string> { "drain", "close", "line released", "stream released" }));
    const std::string text = err.text();
    EXPECT_NE(text.find("audio.IOException: disk went away"), std::string::npos) << text;
    // The call stack names the functions in readable form.
    EXPECT_NE(text.find("\tat "), std::string::npos) << text;
    EXPECT_NE(text.find("AePlayWave::run() const"), std::string::npos) << text;
}

TEST_F(AePlayWaveT, OtherFailureInTheLoopEndsOnlyTheWorkerThread)
{
    system_.script.data = pattern(300000);
    system_.script.failAtRead = 2;
    system_.script.failWithIo = false;
    StderrFile err;
    AePlayWave(sample_).start();
    ASSERT_TRUE(journal_.waitFor("stream released"));
    ASSERT_TRUE(err.waitFor("something else broke")) << err.text();
    const auto calls = journal_.snapshot();
    const std::vector<std::string> tail(calls.end() - 4, calls.end());
    EXPECT_EQ(
        tail, (std::vector<std::string> { "drain", "close", "line released", "stream released" }));
    const std::string text = err.text();
    EXPECT_NE(text.find("Exception in thread \"player-"), std::string::npos) << text;
    EXPECT_NE(text.find("std::runtime_error: something else broke"), std::string::npos) << text;
    // Run directly, the same failure leaves run after the line is closed.
    journal_.calls.clear();
    EXPECT_THROW(AePlayWave(sample_).run(), std::runtime_error);
    EXPECT_TRUE(journal_.waitFor("close"));
}

// The real service under the worker: paths that exist but are no audio file.
class AePlayWaveRealT : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("tamborel-real-" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "Folder.wav");
        std::ofstream(dir_ / "Text.wav") << "This is a text file, not a sound.\n";
        previousPrompt_ = AePlayWave::setMissingFilePrompt(
            [this](const std::string& m, const std::string&) { prompts_.push_back(m); });
    }
    void TearDown() override
    {
        AePlayWave::setMissingFilePrompt(previousPrompt_);
        fs::remove_all(dir_);
    }
    fs::path dir_;
    std::vector<std::string> prompts_;
    AePlayWave::MissingFilePrompt previousPrompt_;
};

TEST_F(AePlayWaveRealT, FolderOrTextNamedWavGoesToStderrWithoutDialog)
{
    const std::string folder = (dir_ / "Folder.wav").string();
    const std::string text = (dir_ / "Text.wav").string();
    StderrFile err;
    AePlayWave(folder).run();
    AePlayWave(text).run();
    EXPECT_TRUE(prompts_.empty());
    const std::string report = err.text();
    EXPECT_NE(report.find("audio.IOException: " + folder), std::string::npos) << report;
    EXPECT_NE(report.find("audio.UnsupportedAudioFileException: " + text), std::string::npos)
        << report;
    EXPECT_NE(report.find("audio::SndfileInputStream::SndfileInputStream"), std::string::npos)
        << report;
}

// A press on a named pipe in the kit is reported like any file that is no sound, and the player
// thread is free again: its open does not wait for a writer to come.
TEST_F(AePlayWaveRealT, APressOnANamedPipeIsReportedAndHoldsNoThread)
{
    const std::string pipe = (dir_ / "Pipe.wav").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    StderrFile err;
    AePlayWave(pipe).start();
    bool waited = false;
    if (!err.waitFor("audio.")) {
        // Let the player go, so that it tells what it made of the pipe. A writer gets in only
        // while a reader holds the pipe open.
        while (err.text().find("audio.") == std::string::npos) {
            const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) {
                waited = true;
                ::close(writer);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_FALSE(waited) << "the player's open waited for a writer";
    EXPECT_TRUE(prompts_.empty());
    const std::string report = err.text();
    EXPECT_NE(report.find("audio.IOException: " + pipe + " (" + std::strerror(ENOTSUP) + ")"),
        std::string::npos)
        << report;
}
