#include "audio/AePlayWave.h"

#include "audio/AudioException.h"
#include "audio/AudioSystem.h"
#include "audio/PlayerThreads.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

std::mutex promptMutex;
AePlayWave::MissingFilePrompt missingFilePrompt;

void askAboutMissingFile(const std::string& message, const std::string& title)
{
    AePlayWave::MissingFilePrompt prompt;
    {
        std::lock_guard lock(promptMutex);
        prompt = missingFilePrompt;
    }
    if (prompt)
        prompt(message, title);
    else
        std::cerr << title << ": " << message << std::endl;
}

bool fileExists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// What the thread reports for a failure that left run, as for any failure a thread let go.
void reportUncaught(const std::exception* failure)
{
    static std::atomic<unsigned> threadNumber { 0 };
    std::cerr << "Exception in thread \"player-" << threadNumber++ << "\" " << std::flush;
    if (failure)
        audio::printStackTrace(*failure);
    else
        std::cerr << "unknown failure" << std::endl;
}

} // namespace

std::string_view AePlayWave::Position::name() const
{
    switch (value_) {
    case LEFT:
        return "LEFT";
    case RIGHT:
        return "RIGHT";
    case NORMAL:
        break;
    }
    return "NORMAL";
}

std::array<AePlayWave::Position, 3> AePlayWave::Position::values()
{
    return { LEFT, RIGHT, NORMAL };
}

AePlayWave::Position AePlayWave::Position::valueOf(std::string_view name)
{
    for (Position position : values()) {
        if (position.name() == name)
            return position;
    }
    throw std::invalid_argument("No enum constant AePlayWave.Position." + std::string(name));
}

AePlayWave::AePlayWave(std::string filename)
    : AePlayWave(std::move(filename), Position::NORMAL)
{
}

AePlayWave::AePlayWave(std::string filename, Position position)
    : AePlayWave(std::move(filename), position, 0.0f)
{
}

AePlayWave::AePlayWave(std::string filename, Position position, float gainDb)
    : filename(std::move(filename))
    , curPosition(position)
    , gainDb(gainDb)
{
}

AePlayWave::MissingFilePrompt AePlayWave::setMissingFilePrompt(MissingFilePrompt prompt)
{
    std::lock_guard lock(promptMutex);
    return std::exchange(missingFilePrompt, std::move(prompt));
}

void AePlayWave::start() const
{
    audio::runOnPlayerThread([player = *this] {
        // A failure that escapes run ends this sound only, never the process.
        try {
            player.run();
        } catch (const std::exception& failure) {
            reportUncaught(&failure);
        } catch (...) {
            reportUncaught(nullptr);
        }
    });
}

void AePlayWave::run() const
{
    using namespace audio;

    if (!fileExists(filename)) {
        askAboutMissingFile("File missing: " + filename, "Error");
        return;
    }

    AudioSystem& system = AudioSystem::instance();
    std::unique_ptr<AudioInputStream> audioInputStream;
    try {
        audioInputStream = system.getAudioInputStream(filename);
    } catch (const UnsupportedAudioFileException& failure) {
        printStackTrace(failure);
        return;
    } catch (const IOException& failure) {
        printStackTrace(failure);
        return;
    }

    const AudioFormat format = audioInputStream->getFormat();
    const DataLineInfo info { format };

    std::unique_ptr<SourceDataLine> auline;
    try {
        auline = system.getLine(info);
        auline->open(format);
    } catch (const std::exception& failure) {
        printStackTrace(failure);
        return;
    }

    if (auline->isControlSupported(FloatControl::Type::PAN)) {
        FloatControl& pan = auline->getControl(FloatControl::Type::PAN);
        if (curPosition == Position::RIGHT)
            pan.setValue(1.0f);
        else if (curPosition == Position::LEFT)
            pan.setValue(-1.0f);
    }
    if (gainDb < 0.0f && auline->isControlSupported(FloatControl::Type::MASTER_GAIN)) {
        FloatControl& gain = auline->getControl(FloatControl::Type::MASTER_GAIN);
        gain.setValue(std::max(gainDb, gain.getMinimum()));
    }

    auline->start();
    std::int32_t nBytesRead = 0;
    std::vector<std::byte> abData(EXTERNAL_BUFFER_SIZE);

    // However the loop ends the line is drained and closed; a failure other than a read
    // failure then goes on to the thread's top.
    std::exception_ptr escaped;
    try {
        while (nBytesRead != -1) {
            nBytesRead = audioInputStream->read(
                abData.data(), 0, static_cast<std::int32_t>(abData.size()));
            if (nBytesRead >= 0)
                auline->write(abData.data(), 0, nBytesRead);
        }
    } catch (const IOException& failure) {
        printStackTrace(failure);
    } catch (...) {
        escaped = std::current_exception();
    }
    auline->drain();
    auline->close();
    if (escaped)
        std::rethrow_exception(escaped);
}
