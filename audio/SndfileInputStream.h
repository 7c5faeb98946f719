#pragma once

#include "audio/AudioSystem.h"

#include <string>
#include <vector>

struct sf_private_tag;

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

    // The file as libsndfile reads it: our descriptor, at our position.
    struct Reader {
        int fd = -1;
        std::int64_t position = 0;
        int error = 0; // errno of the last failed read
        static std::int64_t length(void* user);
        static std::int64_t seek(std::int64_t offset, int whence, void* user);
        static std::int64_t read(void* into, std::int64_t count, void* user);
        static std::int64_t tell(void* user);
    };

    std::string path_;
    Reader reader_;
    sf_private_tag* file_ = nullptr;
    AudioFormat format_;
    Delivery delivery_ = Delivery::Raw;
    std::vector<std::byte> decoded_; // decoded frames before they are copied out
};

} // namespace audio
