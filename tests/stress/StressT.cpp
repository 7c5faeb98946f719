// A thousand key presses at a hundred a second through a real main window into the real audio
// service, on a kit where good samples of several formats lie among missing files, folders
// and text named like samples, and cut-off files. Nothing may crash, every good sample must
// sound, every missing one must ask once, and afterwards nothing may be left behind.
#include "Probes.h"
#include "TestSupport.h"

#include "app/Main.h"
#include "app/Wiring.h"
#include "audio/AePlayWave.h"
#include "audio/Config.h"
#include "audio/OutputDevice.h"
#include "audio/PlayerThreads.h"
#include "audio/mix/Mixer.h"
#include "bindings/DrumKeys.h"

#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// What a press of each drum's keys meets in the stress kit.
enum class Kind { Plays, Missing, Unreadable };

struct KeyCase {
    Qt::Key key;
    const char* file;
    Kind kind;
};

// The 24 default keys, drum by drum.
constexpr std::array<KeyCase, 24> keyCases { {
    { Qt::Key_Q, "Bass.wav", Kind::Plays },
    { Qt::Key_W, "Bass.wav", Kind::Plays },
    { Qt::Key_E, "Snare.wav", Kind::Plays },
    { Qt::Key_R, "Snare.wav", Kind::Plays },
    { Qt::Key_T, "Tom1.wav", Kind::Plays },
    { Qt::Key_Y, "Tom1.wav", Kind::Plays },
    { Qt::Key_G, "Tom2.wav", Kind::Plays },
    { Qt::Key_H, "Tom2.wav", Kind::Plays },
    { Qt::Key_B, "FloorTom.wav", Kind::Plays },
    { Qt::Key_N, "FloorTom.wav", Kind::Plays },
    { Qt::Key_P, "HiHat.wav", Kind::Plays },
    { Qt::Key_X, "HiHat.wav", Kind::Plays },
    { Qt::Key_I, "OHiHat.wav", Kind::Missing },
    { Qt::Key_C, "OHiHat.wav", Kind::Missing },
    { Qt::Key_L, "Ride.wav", Kind::Missing },
    { Qt::Key_M, "Ride.wav", Kind::Missing },
    { Qt::Key_K, "RideCup.wav", Kind::Unreadable }, // a folder
    { Qt::Key_J, "RideCup.wav", Kind::Unreadable },
    { Qt::Key_O, "Crash.wav", Kind::Unreadable }, // text
    { Qt::Key_U, "Crash.wav", Kind::Unreadable },
    { Qt::Key_Period, "China.wav", Kind::Unreadable }, // cut inside its header
    { Qt::Key_Z, "China.wav", Kind::Unreadable },
    { Qt::Key_Comma, "Splash.wav", Kind::Plays }, // cut inside its samples: plays what is there
    { Qt::Key_A, "Splash.wav", Kind::Plays },
} };

void makeStressKit(const fs::path& kit)
{
    fs::create_directories(kit);
    // A short hit of the given pitch in the given format, channels and rate.
    auto sound = [&kit](const char* file, int format, int channels, int rate, double seconds,
                     double pitch) {
        stress::writeSound(
            kit / file, format, channels, rate, stress::hit(seconds, channels, rate, pitch));
    };
    sound("Bass.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 0.12, 60);
    sound("Snare.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 48000, 0.1, 200);
    sound("Tom1.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 96000, 0.1, 150);
    sound("Tom2.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 22050, 0.12, 120);
    sound("FloorTom.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 11025, 0.15, 90);
    // Four channels, folded down to two.
    sound("HiHat.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_32, 4, 32000, 0.05, 3000);
    fs::create_directory(kit / "RideCup.wav");
    std::ofstream(kit / "Crash.wav") << "These are not the samples you are looking for.\n";
    sound("China.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 0.2, 400);
    fs::resize_file(kit / "China.wav", 20);
    sound("Splash.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 0.2, 800);
    fs::resize_file(kit / "Splash.wav", fs::file_size(kit / "Splash.wav") / 2);
}

// Sends what the process writes to stderr into a file while it lives.
class StderrCapture {
public:
    explicit StderrCapture(const fs::path& file)
        : file_(file)
    {
        std::cerr.flush();
        saved_ = ::dup(STDERR_FILENO);
        const int into = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(into, STDERR_FILENO);
        ::close(into);
    }
    ~StderrCapture() { stop(); }
    void stop()
    {
        if (saved_ < 0)
            return;
        std::cerr.flush();
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    std::string text() const
    {
        std::ifstream in(file_);
        return { std::istreambuf_iterator<char>(in), {} };
    }

private:
    fs::path file_;
    int saved_ = -1;
};

// What the audio service reported on stderr, counted by the sample each report names (its
// first line reads "SomeException: path: what went wrong"). Anything else it said, such as a
// player that died of a failure, counts under its first line and trace, so that a failure of
// the test shows what it was.
std::map<std::string, int> reportsBySample(const std::string& text)
{
    const std::string folder = "./kits/stress/";
    std::map<std::string, int> reports;
    std::istringstream lines(text);
    std::string line;
    std::string other;
    auto endOther = [&] {
        if (!other.empty())
            ++reports[other];
        other.clear();
    };
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '\t') {
            if (!other.empty())
                other += "\n" + line;
            continue;
        }
        endOther();
        if (line.find("Exception") == std::string::npos && line.rfind("audio", 0) != 0)
            continue; // not the audio service's
        const auto at = line.find(folder);
        const auto end = at == std::string::npos ? at : line.find(".wav", at);
        if (line.rfind("audio.", 0) == 0 && end != std::string::npos)
            ++reports[line.substr(at + folder.size(), end + 4 - at - folder.size())];
        else
            other = line;
    }
    endOther();
    return reports;
}

class KeyStress : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        audio::closeOutput();
        app::wireProgram();
        dir_ = fs::temp_directory_path() / ("tamborel-stress-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        makeStressKit(dir_ / "kits" / "stress");
        previousDir_ = fs::current_path();
        fs::current_path(dir_);
        DrumKeys::drumFolder = "stress";
    }
    void TearDown() override
    {
        AePlayWave::setMissingFilePrompt({});
        fs::current_path(previousDir_);
        fs::remove_all(dir_);
        audio::closeOutput();
        ::unsetenv("SDL_AUDIODRIVER");
    }

    StoreGuard store_;
    FakeDialogs dialogs_;
    fs::path dir_;
    fs::path previousDir_;
};

} // namespace

TEST_F(KeyStress, AThousandPressesAtAHundredASecondLeaveNothingBehind)
{
    constexpr int presses = 1000;
    constexpr double perSecond = 100;
    // Cancel and OK in turn, and now and then the dialog closed without an answer.
    for (int i = 0; i < presses; ++i)
        dialogs_.answers.push_back(i % 7 == 6 ? -1 : i % 2);

    Main window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    audio::Mixer& mixer = audio::outputMixer();

    // Warm-up: every kind of press once, all at once, so the pool has made more threads than
    // it keeps; then wait until it is back to the ones it keeps warm. What remains is the
    // baseline: the device's thread, the warm players and whatever Qt has started.
    for (const KeyCase& c : keyCases)
        QTest::keyPress(&window, c.key);
    const auto warmDialogs = static_cast<std::size_t>(std::count_if(keyCases.begin(),
        keyCases.end(), [](const KeyCase& c) { return c.kind == Kind::Missing; }));
    ASSERT_TRUE(stress::spinUntil(
        [&] {
            return dialogs_.shown.size() == warmDialogs && audio::Mixer::liveLineStates() == 0
                && audio::playerThreadCount() == audio::config::warmPlayerThreads;
        },
        std::chrono::seconds(30)))
        << "warm-up: " << dialogs_.shown.size() << " dialogs, " << audio::playerThreadCount()
        << " player threads";
    ASSERT_GE(mixer.linesOpened(), 14u) << "the warm-up played its good samples";

    const fs::path errors
        = fs::temp_directory_path() / ("tamborel-stress-" + std::to_string(::getpid()) + ".stderr");
    StderrCapture capture(errors);
    // The pool has let its extra threads go; the last of them may still be ending, and /proc
    // counts it until it has.
    ASSERT_TRUE(
        stress::spinUntil([] { return !stress::ownThreadRunning(); }, std::chrono::seconds(10)))
        << "a thread of the program's own is still running after the warm-up";
    const std::size_t fdsBefore = stress::openDescriptors();
    const std::size_t threadsBefore = stress::threads();
    const std::size_t linesBefore = audio::Mixer::liveLineStates();
    const std::uint64_t openedBefore = mixer.linesOpened();
    const std::uint64_t soundedBefore = mixer.linesSounded();
    const std::uint64_t underrunsBefore = mixer.underruns();
    const std::uint64_t lateBefore = mixer.lateBlocks();
    const std::size_t dialogsBefore = dialogs_.shown.size();

    std::map<Kind, int> expected;
    std::map<std::string, int> missingPresses;
    std::map<std::string, int> unreadablePresses;
    std::size_t peakThreads = 0, peakLines = 0;
    const auto start = std::chrono::steady_clock::now();
    stress::pressAtRate(
        window, presses, perSecond,
        [&](int i) {
            const KeyCase& c = keyCases[static_cast<std::size_t>(i) % keyCases.size()];
            ++expected[c.kind];
            if (c.kind == Kind::Missing)
                ++missingPresses[std::string("File missing: ./kits/stress/") + c.file];
            if (c.kind == Kind::Unreadable)
                ++unreadablePresses[c.file];
            return c.key;
        },
        false,
        [&] {
            peakThreads = std::max(peakThreads, stress::threads());
            peakLines = std::max(peakLines, mixer.lineCount());
        });
    const double pressSeconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // Every question is answered, and every good sample has had its line and ended.
    const bool settled = stress::spinUntil(
        [&] {
            return dialogs_.shown.size() - dialogsBefore
                == static_cast<std::size_t>(expected[Kind::Missing])
                && mixer.linesOpened() - openedBefore
                >= static_cast<std::uint64_t>(expected[Kind::Plays])
                && audio::Mixer::liveLineStates() == linesBefore && mixer.lineCount() == 0;
        },
        std::chrono::seconds(30));
    // Then the pool lets its extra threads go.
    const bool threadsBack = stress::spinUntil([&] { return stress::threads() == threadsBefore; },
        audio::config::playerThreadIdleLifetime + std::chrono::seconds(10));
    const std::size_t fdsAfter = stress::openDescriptors();
    const std::size_t threadsAfter = stress::threads();
    capture.stop();
    const std::string reported = capture.text();
    const std::map<std::string, int> reports = reportsBySample(reported);
    int reportCount = 0;
    for (const auto& [what, count] : reports)
        reportCount += count;
    fs::remove(errors);

    const std::uint64_t sounds = mixer.linesSounded() - soundedBefore;
    std::cout << "presses fired: " << presses << " in " << pressSeconds << " s ("
              << presses / pressSeconds << " a second); survived: yes\n"
              << "sounds produced: " << sounds << " of " << expected[Kind::Plays]
              << " good-sample presses; lines opened: " << mixer.linesOpened() - openedBefore
              << "; missing-file questions: " << dialogs_.shown.size() - dialogsBefore << " of "
              << expected[Kind::Missing] << "; stderr reports: " << reportCount << " of "
              << expected[Kind::Unreadable] << " unreadable-file presses\n"
              << "descriptors: " << fdsBefore << " before, " << fdsAfter << " after\n"
              << "threads: " << threadsBefore << " before (" << audio::config::warmPlayerThreads
              << " warm players), " << peakThreads << " at peak, " << threadsAfter << " after\n"
              << "lines: " << linesBefore << " live before, " << peakLines << " at peak, "
              << audio::Mixer::liveLineStates() << " after\n"
              << "underruns: " << mixer.underruns() - underrunsBefore
              << ", late blocks: " << mixer.lateBlocks() - lateBefore << std::endl;

    EXPECT_TRUE(settled) << "sounds or questions still outstanding";
    EXPECT_TRUE(threadsBack) << threadsAfter << " threads, " << threadsBefore << " before";

    // Every good sample made its line, and the mixer played every one of them.
    EXPECT_EQ(
        mixer.linesOpened() - openedBefore, static_cast<std::uint64_t>(expected[Kind::Plays]));
    EXPECT_EQ(sounds, static_cast<std::uint64_t>(expected[Kind::Plays]));

    // One question for each press of a missing file, with its own path, and nothing else.
    std::map<std::string, int> asked;
    for (std::size_t i = dialogsBefore; i < dialogs_.shown.size(); ++i) {
        const auto& request = dialogs_.shown[i];
        EXPECT_EQ(request.title, "Error");
        ++asked[request.message.toStdString()];
    }
    EXPECT_EQ(asked, missingPresses);

    // Each unreadable file is reported once per press and nothing else is reported: no good
    // sample failed, no player died of a failure.
    EXPECT_EQ(reports, unreadablePresses);

    // Nothing left behind: descriptors, threads (the warm players stay, as before) and lines.
    EXPECT_EQ(fdsAfter, fdsBefore);
    EXPECT_EQ(threadsAfter, threadsBefore);
    EXPECT_EQ(audio::playerThreadCount(), audio::config::warmPlayerThreads);
    EXPECT_EQ(audio::Mixer::liveLineStates(), linesBefore);
    EXPECT_EQ(mixer.lineCount(), 0u);
}
