#pragma once

#include "audio/AudioSystem.h"

#include <string>
#include <vector>

struct sf_private_tag;
struct SF_INFO;

namespace audio {

// An input stream on a sound file read through libsndfile; the content decides the format,
// not the file name. Plain PCM and float come out as the bytes stored in the file; anything
// coded (u-law, a-law, ADPCM, compressed) comes out decoded as 16-bit signed PCM, or as
// 32-bit float when the coding holds more than 16 bits. The file is closed with the object.
class SndfileInputStream final : public AudioInputStream {
public:
    // [player] Throws IOException when the path cannot be read (missing, a folder, a pipe or a
    // device, no permission) and UnsupportedAudioFileException when the content is not audio
    // libsndfile reads.
    explicit SndfileInputStream(const std::string& path);
    ~SndfileInputStream() override;
    SndfileInputStream(const SndfileInputStream&) = delete;
    SndfileInputStream& operator=(const SndfileInputStream&) = delete;

    // [player]
    AudioFormat getFormat() const override { return format_; }
    // [player]
    std::int32_t read(std::byte* buffer, std::int32_t off, std::int32_t len) override;

private:
    enum class Delivery { Raw, Short, Float };

    // The file as libsndfile reads it: our descriptor, at our position. While libsndfile opens
    // the file it reads only the pieces of it already fetched into memory, never the disk.
    struct Reader {
        struct Piece {
            std::int64_t at;
            std::vector<std::byte> bytes;
        };
        int fd = -1;
        std::int64_t position = 0;
        int error = 0; // errno of the last failed read
        bool fromMemory = false;
        std::int64_t size = 0; // the file's length, as the open sees it
        std::vector<Piece> pieces;
        std::int64_t missedAt = -1; // the first byte asked for that was not in memory
        std::int64_t missedCount = 0; // and how many from there

        // Reads count bytes at at from the disk into a new piece; false when that failed.
        std::int64_t readDisk(std::byte* into, std::int64_t at, std::int64_t count);
        bool fetch(std::int64_t at, std::int64_t count);
        std::int64_t readMemory(std::byte* into, std::int64_t count);
        static std::int64_t length(void* user);
        static std::int64_t seek(std::int64_t offset, int whence, void* user);
        static std::int64_t read(void* into, std::int64_t count, void* user);
        static std::int64_t tell(void* user);
    };

    // Opens the file through libsndfile, or throws as the constructor says.
    sf_private_tag* openSound(SF_INFO& info);
    // Takes the stream's format from what libsndfile found.
    void describe(const SF_INFO& info);

    std::string path_;
    Reader reader_;
    sf_private_tag* file_ = nullptr;
    AudioFormat format_;
    Delivery delivery_ = Delivery::Raw;
    std::vector<std::byte> decoded_; // decoded frames before they are copied out
};

} // namespace audio
