// Figures for the road of a key press: how long the main window's KeyListener holds the event
// thread, and how long from the key event reaching it to the first frame of the drum's sample
// leaving the mixer, with the real window, dispatcher, player thread, file and device.
// Prints a table; passes or fails nothing.
//
//   tamborel-keybench [KITS-FOLDER-PARENT]   (default: the working directory, which holds kits/)
#include "app/Main.h"
#include "audio/AudioSystem.h"
#include "audio/OutputDevice.h"
#include "audio/mix/Mixer.h"
#include "audio/mix/MixerLine.h"
#include "bench/BenchFigures.h"
#include "bindings/DrumKeys.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using bench::Clock;
using bench::monotonicNs;
using bench::percentile;

// The real audio service, with every line watched: when a line closes, the time it first held
// enough for the mixer to start it and the time its first frame left the mixer are handed to
// the benchmark.
class WatchedAudio final : public audio::AudioSystem {
public:
    explicit WatchedAudio(audio::AudioSystem& real)
        : real_(real)
    {
    }

    std::unique_ptr<audio::AudioInputStream> getAudioInputStream(const std::string& path) override
    {
        return real_.getAudioInputStream(path);
    }

    std::unique_ptr<audio::SourceDataLine> getLine(const audio::DataLineInfo& info) override
    {
        return std::make_unique<Line>(*this, real_.getLine(info));
    }

    struct Times {
        std::int64_t firstReady = 0;
        std::int64_t firstOutput = 0;
    };
    // Waits for the next closed line's times (0: none came in time).
    Times nextClosed(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        if (!closed_.wait_for(lock, timeout, [this] { return !closedTimes_.empty(); }))
            return {};
        const Times times = closedTimes_.front();
        closedTimes_.pop_front();
        return times;
    }

private:
    class Line final : public audio::SourceDataLine {
    public:
        Line(WatchedAudio& owner, std::unique_ptr<audio::SourceDataLine> real)
            : owner_(owner)
            , real_(std::move(real))
        {
        }
        void open(const audio::AudioFormat& format) override { real_->open(format); }
        bool isControlSupported(audio::FloatControl::Type type) const override
        {
            return real_->isControlSupported(type);
        }
        audio::FloatControl& getControl(audio::FloatControl::Type type) override
        {
            return real_->getControl(type);
        }
        void start() override { real_->start(); }
        std::int32_t write(const std::byte* buffer, std::int32_t off, std::int32_t len) override
        {
            return real_->write(buffer, off, len);
        }
        void drain() override { real_->drain(); }
        void close() override
        {
            const auto* line = dynamic_cast<const audio::MixerLine*>(real_.get());
            const std::int64_t firstReady = line ? line->firstReadyNs() : 0;
            const std::int64_t firstOutput = line ? line->firstOutputNs() : 0;
            real_->close();
            std::lock_guard lock(owner_.mutex_);
            owner_.closedTimes_.push_back({ firstReady, firstOutput });
            owner_.closed_.notify_one();
        }

    private:
        WatchedAudio& owner_;
        std::unique_ptr<audio::SourceDataLine> real_;
    };

    audio::AudioSystem& real_;
    std::mutex mutex_;
    std::condition_variable closed_;
    std::deque<Times> closedTimes_;
};

struct Figures {
    std::vector<double> listenerUs;
    std::vector<double> listenerCpuUs;
    std::vector<double> keyToSoundMs;
    std::vector<double> keyToReadyMs;
    int lost = 0;

    void add(const Figures& more)
    {
        for (auto field : { &Figures::listenerUs, &Figures::listenerCpuUs, &Figures::keyToSoundMs,
                 &Figures::keyToReadyMs })
            (this->*field).insert((this->*field).end(), (more.*field).begin(), (more.*field).end());
        lost += more.lost;
    }
};

// CPU time of the calling thread: what KeyListener itself costs, without the time the
// scheduler gives to the player it has just woken.
std::int64_t threadCpuNs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Presses a key once, waits for its sound to have played out, and times both legs.
void pressAndTime(Main& window, WatchedAudio& audio, int qtKey, Figures& figures)
{
    QKeyEvent press(QEvent::KeyPress, qtKey, Qt::NoModifier);
    const std::int64_t cpuBefore = threadCpuNs();
    const std::int64_t before = monotonicNs();
    window.KeyListener(&press);
    const std::int64_t after = monotonicNs();
    const std::int64_t cpuAfter = threadCpuNs();
    figures.listenerUs.push_back(static_cast<double>(after - before) / 1e3);
    figures.listenerCpuUs.push_back(static_cast<double>(cpuAfter - cpuBefore) / 1e3);
    const WatchedAudio::Times times = audio.nextClosed(std::chrono::seconds(5));
    if (times.firstOutput == 0) {
        ++figures.lost;
        return;
    }
    figures.keyToSoundMs.push_back(static_cast<double>(times.firstOutput - before) / 1e6);
    figures.keyToReadyMs.push_back(static_cast<double>(times.firstReady - before) / 1e6);
}

void print(const char* what, const std::vector<double>& values, const char* unit)
{
    std::printf("%-48s %6zu %10.3f %10.3f %10.3f  %s\n", what, values.size(),
        percentile(values, 50), percentile(values, 99),
        values.empty() ? NAN : *std::max_element(values.begin(), values.end()), unit);
}

void printFigures(const char* what, const Figures& figures)
{
    std::printf("%s\n", what);
    print("  key event to first frame out of the mixer", figures.keyToSoundMs, "ms");
    print("  key event to first frames ready for the mixer", figures.keyToReadyMs, "ms");
    print("  KeyListener on the event thread", figures.listenerUs, "us");
    print("  of which the event thread's own CPU time", figures.listenerCpuUs, "us");
    if (figures.lost)
        std::printf("  presses whose sound never came: %d\n", figures.lost);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc > 1)
        QDir::setCurrent(QString::fromLocal8Bit(argv[1]));
    if (!QDir(QStringLiteral("kits/acoustic")).exists()) {
        std::fprintf(
            stderr, "tamborel-keybench: no kits/acoustic in %s\n", qPrintable(QDir::currentPath()));
        return 2;
    }

    audio::openOutputEarly();
    try {
        audio::outputMixer();
    } catch (const std::exception& failure) {
        std::printf("== Key to sound: no device (%s)\n", failure.what());
        return 0;
    }
    const audio::OutputInfo device = audio::outputInfo();
    WatchedAudio audio(audio::AudioSystem::instance());
    audio::AudioSystem::setInstance(&audio);
    // As in the program, the device has been open a while before the first hit.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    Main window;
    const double period = 1000.0 * device.bufferFrames / device.sampleRate;
    std::printf("== Key event to first frame out of the mixer, inside the program (driver \"%s\", "
                "%d Hz, %d-frame blocks = %.2f ms; the server's buffer comes on top)\n",
        device.driver.c_str(), device.sampleRate, device.bufferFrames, period);
    std::printf("%-48s %6s %10s %10s %10s\n", "", "presses", "median", "p99", "max");

    // One press at a time, each after the last sound has closed, so each is timed alone; the
    // closed hi-hat is the shortest sample. Then the same key repeated, as when a key is held.
    const struct {
        const char* what;
        int key;
        const char* kit;
    } runs[] = {
        { "P, closed hi-hat, acoustic kit (44.1 kHz, resampled)", Qt::Key_P, "acoustic" },
        { "P, closed hi-hat, rock kit (48 kHz, as it is)", Qt::Key_P, "rock" },
        { "Q, bass drum, metal kit (16-bit mono 44.1 kHz)", Qt::Key_Q, "metal" },
    };
    Figures all;
    for (const auto& run : runs) {
        DrumKeys::drumFolder = QString::fromLatin1(run.kit);
        Figures figures;
        for (int i = 0; i < 100; ++i)
            pressAndTime(window, audio, run.key, figures);
        printFigures(run.what, figures);
        all.add(figures);
    }
    printFigures("all runs", all);
    const audio::Mixer& mixer = audio::outputMixer();
    std::printf("mixer: %llu underruns, %llu late blocks; presses whose sound never came: %d\n",
        static_cast<unsigned long long>(mixer.underruns()),
        static_cast<unsigned long long>(mixer.lateBlocks()), all.lost);
    std::printf("goals: key to first frame p99 <= period + 2 ms = %.2f ms; KeyListener < 50 us\n",
        period + 2);
    audio::AudioSystem::setInstance(nullptr);
    std::fflush(stdout);
    std::_Exit(0);
}
