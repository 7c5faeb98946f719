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
        constexpr operator Value() const { return value_; }
        constexpr int ordinal() const { return value_; }
        std::string_view name() const;

        static std::array<Position, 3> values();
        // Throws std::invalid_argument for any text but "LEFT", "RIGHT" and "NORMAL".
        static Position valueOf(std::string_view name);

    private:
        Value value_;
    };

    static constexpr std::int32_t EXTERNAL_BUFFER_SIZE = 124288;

    explicit AePlayWave(std::string filename);
    AePlayWave(std::string filename, Position position);

    // Plays the file on a thread of its own and returns at once; nobody waits for it.
    void start() const;
    // Plays the file on the calling thread.
    void run() const;

    const std::string filename;
    const Position curPosition;

    // Asks the user about a missing file (message, title) with OK and Cancel, and returns
    // when answered. Without one installed the message goes to stderr.
    using MissingFilePrompt
        = std::function<void(const std::string& message, const std::string& title)>;
    static MissingFilePrompt setMissingFilePrompt(MissingFilePrompt prompt);
};
