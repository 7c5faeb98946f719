#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Plays one WAV file from start to end on a thread of its own, optionally panned. One is
// made for every drum hit and dropped once started; overlapping hits each have their own.
class AePlayWave {
public:
    // Where the sound sits between the speakers. NORMAL leaves the line's pan alone.
    class Position {
    public:
        enum Value : int { LEFT, RIGHT, NORMAL };

        constexpr Position(Value value)
            : value_(value)
        {
        }
        // [any]
        constexpr operator Value() const { return value_; }
        constexpr int ordinal() const { return value_; }
        std::string_view name() const;

        // [any]
        static std::array<Position, 3> values();
        // [any] Throws std::invalid_argument for any text but "LEFT", "RIGHT" and "NORMAL".
        static Position valueOf(std::string_view name);

    private:
        Value value_;
    };

    static constexpr std::int32_t EXTERNAL_BUFFER_SIZE = 124288;

    explicit AePlayWave(std::string filename);
    AePlayWave(std::string filename, Position position);
    // gainDb below 0 plays the file softer (a struck pad's velocity); 0 plays it as it is.
    AePlayWave(std::string filename, Position position, float gainDb);

    // [any] Plays the file on a player thread and returns at once; nobody waits for it, so the
    // event thread calls it for every hit.
    void start() const;
    // [player] Plays the file on the calling thread, to its end.
    void run() const;

    const std::string filename;
    const Position curPosition;
    const float gainDb = 0.0f;

    // [any] Installs what asks the user about a missing file (message, title) with OK and
    // Cancel; a player calls it and waits until it is answered. Without one installed the
    // message goes to stderr. Returns the one before.
    using MissingFilePrompt
        = std::function<void(const std::string& message, const std::string& title)>;
    static MissingFilePrompt setMissingFilePrompt(MissingFilePrompt prompt);
};
