#pragma once

// What the stress test and the soak look at in their own process, and the sound files they
// write for themselves.

#include "../audio/WavFiles.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWidget>

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sndfile.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define TAMBOREL_STRESS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAMBOREL_STRESS_ASAN 1
#endif
#endif

#ifdef TAMBOREL_STRESS_ASAN
// From the sanitizer's runtime; GCC ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace stress {

// Entries of a /proc folder, such as the process's open descriptors or threads.
inline std::size_t entriesIn(const char* folder)
{
    std::error_code error;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        ++count;
    return count;
}

// Open descriptors, less the one that reading the folder takes.
inline std::size_t openDescriptors()
{
    return entriesIn("/proc/self/fd") - 1;
}

inline std::size_t threads()
{
    return entriesIn("/proc/self/task");
}

inline std::string firstLine(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Whether a thread of the program's own, other than the caller, is running. A thread that a
// pool lets go runs on for a moment after the pool has stopped counting it, and stays in /proc
// until it has ended, while a thread waiting for work sleeps. The program's own threads carry
// its name, taken from the thread that made them; SDL and Qt name theirs.
inline bool ownThreadRunning()
{
    const std::string name = firstLine("/proc/self/comm");
    const std::string self = std::to_string(::gettid());
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename() == self || firstLine(it->path() / "comm") != name)
            continue;
        // "pid (name) state ...": the state follows the name's closing bracket.
        const std::string stat = firstLine(it->path() / "stat");
        const auto bracket = stat.rfind(')');
        if (bracket != std::string::npos && bracket + 2 < stat.size() && stat[bracket + 2] == 'R')
            return true;
    }
    return false;
}

// A "Vm..." figure of /proc/self/status in KiB.
inline long statusKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
    return -1;
}

inline long residentKiB()
{
    return statusKiB("VmRSS");
}

// Starts the peak resident size (VmHWM) anew from the current size.
inline void resetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Bytes the program holds from the allocator now: exact, unlike the resident size, which
// also counts pages the allocator keeps for later.
inline std::size_t heapInUse()
{
#ifdef TAMBOREL_STRESS_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

// Gives memory the allocator keeps back to the system; under AddressSanitizer its own
// allocator decides.
inline void returnFreeMemory()
{
#ifndef TAMBOREL_STRESS_ASAN
    malloc_trim(0);
#endif
}

// Runs the event loop until done() or the deadline; true when done.
inline bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
    const std::function<void()>& each = {})
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (each)
            each();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Sends key presses to a window at a steady rate, keeping the event loop running between
// them; the schedule is absolute, so a late press does not push back the ones after it. With
// autoRepeat every press after the first is a held key's repeat. Returns the presses sent.
inline int pressAtRate(QWidget& window, int presses, double perSecond,
    const std::function<int(int)>& keyOf, bool autoRepeat = false,
    const std::function<void()>& each = {})
{
    const auto start = std::chrono::steady_clock::now();
    const auto period = std::chrono::duration<double>(1.0 / perSecond);
    for (int i = 0; i < presses; ++i) {
        const auto due = start + std::chrono::duration_cast<std::chrono::nanoseconds>(period * i);
        spinUntil([&] { return std::chrono::steady_clock::now() >= due; },
            std::chrono::milliseconds(60'000), each);
        const int key = keyOf(i);
        if (autoRepeat && i > 0) {
            // What a held key sends after the first press.
            QKeyEvent press(
                QEvent::KeyPress, key, Qt::NoModifier, QString(QChar(key)).toLower(), true);
            QCoreApplication::sendEvent(&window, &press);
        } else {
            QTest::keyPress(&window, static_cast<Qt::Key>(key));
        }
    }
    return presses;
}

using audio_test::writeSound;

// A short decaying tone, the same on every channel.
inline std::vector<double> hit(double seconds, int channels, int rate, double frequency)
{
    const auto frames = static_cast<int>(seconds * rate);
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(frames * channels));
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double value = 0.6 * std::exp(-t * 12.0) * std::sin(2 * M_PI * frequency * t);
        for (int c = 0; c < channels; ++c)
            samples.push_back(value);
    }
    return samples;
}

// Cymbal-like: bright noise with a long decay, slightly different on each side.
inline std::vector<double> cymbal(double seconds, int rate)
{
    std::mt19937 random(1234);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const auto frames = static_cast<int>(seconds * rate);
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(frames) * 2);
    double lowLeft = 0, lowRight = 0;
    for (int i = 0; i < frames; ++i) {
        const double envelope = 0.5 * std::exp(-static_cast<double>(i) / rate * 1.2);
        // Noise less its low part: a high-passed hiss, as a crash sounds.
        const double left = noise(random), right = noise(random);
        lowLeft += 0.2 * (left - lowLeft);
        lowRight += 0.2 * (right - lowRight);
        samples.push_back(envelope * (left - lowLeft));
        samples.push_back(envelope * (right - lowRight));
    }
    return samples;
}

} // namespace stress
