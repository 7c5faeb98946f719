// tamborel-soak [--short] [--kits DIR]: a drummer's worst cases through a real main window and
// the real audio service. A burst of long cymbal hits all ringing at once, then a key held
// down with the keyboard repeating it. Prints the mixer's underruns and late blocks, the hits
// that sounded, the peak number of lines and the resident memory before, at peak and after.
// Fails (exit status 1) only on what does not depend on the machine's speed: a hit that never
// sounded, a line left open, heap memory not given back once the sounds have ended.
#include "Probes.h"

#include "app/Main.h"
#include "app/Wiring.h"
#include "audio/Config.h"
#include "audio/OutputDevice.h"
#include "audio/PlayerThreads.h"
#include "audio/mix/Mixer.h"
#include "bindings/DrumKeys.h"

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <string_view>
#include <unistd.h>

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:libX11\nleak:libxcb\n";
}

namespace fs = std::filesystem;

namespace {

// Heap still held once every sound has ended, beyond what was held before: a few tables and
// caches that only grow. A line holds about 400 KiB, so one left behind would be seen.
constexpr std::size_t heapSlackBytes = 256 * 1024;

struct Options {
    bool shortForm = false;
    fs::path kits;
};

struct Phase {
    std::string name;
    int hits = 0;
    long rssBefore = 0, rssPeak = 0, rssAfter = 0, rssTrimmed = 0;
    std::size_t heapBefore = 0, heapPeak = 0, heapAfter = 0;
    std::uint64_t sounded = 0, underruns = 0, lateBlocks = 0, blocks = 0;
    std::size_t peakLines = 0, linesLeft = 0;
    double seconds = 0;
    bool settled = false;
};

int failures = 0;

void check(bool ok, const std::string& what)
{
    if (!ok) {
        std::cout << "FAIL: " << what << std::endl;
        ++failures;
    }
}

// Fires the hits, waits until every one has ended and the pool is back to its warm threads,
// and measures on the way.
Phase runPhase(const std::string& name, audio::Mixer& mixer, const std::function<int()>& fire)
{
    Phase phase;
    phase.name = name;
    const std::size_t linesBefore = audio::Mixer::liveLineStates();
    phase.rssBefore = stress::residentKiB();
    phase.heapBefore = stress::heapInUse();
    const std::uint64_t opened = mixer.linesOpened();
    const std::uint64_t sounded = mixer.linesSounded();
    const std::uint64_t underruns = mixer.underruns();
    const std::uint64_t late = mixer.lateBlocks();
    const std::uint64_t blocks = mixer.blocks();
    stress::resetPeakResident();
    mixer.resetPeakLineCount();

    auto sample = [&] {
        phase.rssPeak = std::max(phase.rssPeak, stress::residentKiB());
        phase.heapPeak = std::max(phase.heapPeak, stress::heapInUse());
    };
    const auto start = std::chrono::steady_clock::now();
    phase.hits = fire();
    // Every hit has had its line (the players start a moment after the presses), and every
    // line is gone again.
    phase.settled = stress::spinUntil(
        [&] {
            return mixer.linesOpened() - opened >= static_cast<std::uint64_t>(phase.hits)
                && audio::Mixer::liveLineStates() == linesBefore && mixer.lineCount() == 0;
        },
        std::chrono::seconds(120), sample);
    phase.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    phase.sounded = mixer.linesSounded() - sounded;
    phase.underruns = mixer.underruns() - underruns;
    phase.lateBlocks = mixer.lateBlocks() - late;
    phase.blocks = mixer.blocks() - blocks;
    phase.peakLines = mixer.peakLineCount();
    phase.linesLeft = audio::Mixer::liveLineStates() - linesBefore;
    phase.rssPeak = std::max(phase.rssPeak, stress::statusKiB("VmHWM"));

    // The extra player threads end after a few idle seconds; their stacks go with them.
    stress::spinUntil([] { return audio::playerThreadCount() == audio::config::warmPlayerThreads; },
        audio::config::playerThreadIdleLifetime + std::chrono::seconds(10));
    phase.rssAfter = stress::residentKiB();
    phase.heapAfter = stress::heapInUse();
    stress::returnFreeMemory();
    phase.rssTrimmed = stress::residentKiB();
    return phase;
}

void print(const Phase& p)
{
    std::cout << std::fixed << std::setprecision(2) << p.name << ":\n"
              << "  hits fired " << p.hits << ", played " << p.sounded << ", peak lines "
              << p.peakLines << ", all ended after " << p.seconds << " s\n"
              << "  underruns " << p.underruns << ", late blocks " << p.lateBlocks << " (of "
              << p.blocks << " blocks)\n"
              << "  VmRSS before " << p.rssBefore << " KiB, peak " << p.rssPeak << " KiB, after "
              << p.rssAfter << " KiB, after giving free memory back " << p.rssTrimmed << " KiB\n"
              << "  heap in use before " << p.heapBefore / 1024 << " KiB, peak "
              << p.heapPeak / 1024 << " KiB, after " << p.heapAfter / 1024 << " KiB" << std::endl;
    check(p.settled && p.linesLeft == 0, p.name + ": lines still open");
    check(p.sounded == static_cast<std::uint64_t>(p.hits),
        p.name + ": " + std::to_string(p.hits - static_cast<int>(p.sounded))
            + " hits never sounded");
    check(p.heapAfter <= p.heapBefore + heapSlackBytes,
        p.name + ": heap not given back (" + std::to_string(p.heapAfter / 1024) + " KiB after, "
            + std::to_string(p.heapBefore / 1024) + " KiB before)");
}

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--short")
            options.shortForm = true;
        else if (arg == "--kits" && i + 1 < argc)
            options.kits = argv[++i];
        else {
            std::cerr << "usage: tamborel-soak [--short] [--kits DIR]" << std::endl;
            std::exit(2);
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No sound card needed; another driver can be chosen for figures from real hardware.
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    const fs::path dir
        = fs::temp_directory_path() / ("tamborel-soak-" + std::to_string(::getpid()));
    fs::create_directories(dir / "kits" / "soak");
    // Qt wants a private runtime folder; test shells often have none.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        fs::create_directory(dir / "run");
        fs::permissions(dir / "run", fs::perms::owner_all);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString((dir / "run").string()));
    }
    QApplication application(argc, argv);

    const fs::path crash = dir / "kits" / "soak" / "Crash.wav";
    const fs::path demo = options.kits / "acoustic" / "Crash.wav";
    std::string source;
    if (!options.kits.empty() && fs::exists(demo)) {
        fs::copy_file(demo, crash);
        source = demo.string();
    } else {
        stress::writeSound(
            crash, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, stress::cymbal(4.0, 44100));
        source = "a 4 s cymbal written here";
    }
    fs::current_path(dir);
    DrumKeys::drumFolder = "soak";
    const int crashKey = Qt::Key_O; // the crash's first default key

    app::wireProgram();
    auto* window = new Main;
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) {
        std::cout << "FAIL: the main window did not show" << std::endl;
        return 1;
    }
    audio::Mixer& mixer = audio::outputMixer();
    const audio::OutputInfo info = audio::outputInfo();
    std::cout << "device: " << info.driver << ", " << info.sampleRate << " Hz, "
              << info.bufferFrames << "-frame blocks; sample: " << source << "; "
              << (options.shortForm ? "short form" : "full form") << std::endl;

    // One hit first, so what is made once (the device, the pool's warm threads, the first
    // line table) is in the baseline.
    runPhase("warm-up", mixer, [&] {
        return stress::pressAtRate(*window, static_cast<int>(audio::config::warmPlayerThreads),
            1000, [&](int) { return crashKey; });
    });

    const int burst = options.shortForm ? 50 : 200;
    print(runPhase("burst of " + std::to_string(burst) + " crash hits at once", mixer, [&] {
        for (int i = 0; i < burst; ++i)
            QTest::keyPress(window, static_cast<Qt::Key>(crashKey));
        return burst;
    }));

    const int heldSeconds = options.shortForm ? 2 : 10;
    constexpr double repeatsPerSecond = 30;
    print(runPhase(
        "crash key held " + std::to_string(heldSeconds) + " s, repeating 30 a second", mixer, [&] {
            return stress::pressAtRate(
                *window, static_cast<int>(heldSeconds * repeatsPerSecond), repeatsPerSecond,
                [&](int) { return crashKey; }, true);
        }));

    delete window;
    fs::current_path(dir.parent_path());
    fs::remove_all(dir);
    std::cout << (failures ? "soak: FAILED" : "soak: every hit sounded, lines and heap back")
              << std::endl;
    return failures ? 1 : 0;
}
