#include "audio/SndfileInputStream.h"

#include "audio/AudioException.h"
#include "audio/mix/MixConfig.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace audio {

namespace {

// Containers whose sample data is stored as plain, uncompressed samples that
// sf_read_raw hands out unchanged.
bool storesPlainSamples(int major)
{
    switch (major) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
    case SF_FORMAT_W64:
    case SF_FORMAT_AIFF:
    case SF_FORMAT_AU:
    case SF_FORMAT_CAF:
        return true;
    default:
        return false;
    }
}

// Bytes a raw sample takes, or 0 when the coding is not plain PCM or float.
int plainSampleBytes(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 1;
    case SF_FORMAT_PCM_16:
        return 2;
    case SF_FORMAT_PCM_24:
        return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4;
    case SF_FORMAT_DOUBLE:
        return 8;
    default:
        return 0;
    }
}

// Codings whose decoded resolution is 16 bits or less: 16-bit PCM loses nothing.
bool fitsSixteenBits(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_VOX_ADPCM:
    case SF_FORMAT_NMS_ADPCM_16:
    case SF_FORMAT_NMS_ADPCM_24:
    case SF_FORMAT_NMS_ADPCM_32:
    case SF_FORMAT_G721_32:
    case SF_FORMAT_G723_24:
    case SF_FORMAT_G723_40:
    case SF_FORMAT_DWVW_12:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_DPCM_8:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_ALAC_16:
        return true;
    default:
        return false;
    }
}

std::string systemError(const std::string& path, int error)
{
    return path + " (" + std::strerror(error) + ")";
}

// Where libsndfile says a channel sounds.
Speaker speakerOf(int channel)
{
    switch (channel) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
        return Speaker::FrontLeft;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
        return Speaker::FrontRight;
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER:
    case SF_CHANNEL_MAP_TOP_CENTER:
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
        return Speaker::FrontCentre;
    case SF_CHANNEL_MAP_REAR_CENTER:
    case SF_CHANNEL_MAP_TOP_REAR_CENTER:
        return Speaker::BackCentre;
    case SF_CHANNEL_MAP_LFE:
        return Speaker::LowFrequency;
    case SF_CHANNEL_MAP_REAR_LEFT:
    case SF_CHANNEL_MAP_TOP_REAR_LEFT:
        return Speaker::BackLeft;
    case SF_CHANNEL_MAP_REAR_RIGHT:
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
        return Speaker::BackRight;
    case SF_CHANNEL_MAP_SIDE_LEFT:
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
        return Speaker::SideLeft;
    case SF_CHANNEL_MAP_SIDE_RIGHT:
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
        return Speaker::SideRight;
    default:
        return Speaker::Other;
    }
}

// Opens path for reading, and throws IOException unless it is a regular file. Nothing waits:
// a named pipe would hold the player in open until a writer came, so the file is opened
// without waiting and looked at before anything is read. The descriptor is ours alone, so
// system errors are told apart from content errors and the file is closed exactly once.
int openRegularFile(const std::string& path)
{
    // No controlling terminal either, should the path lead to one.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw IOException(systemError(path, errno));
    struct stat status { };
    int error = 0;
    if (::fstat(fd, &status) != 0)
        error = errno;
    else if (S_ISDIR(status.st_mode))
        error = EISDIR;
    else if (!S_ISREG(status.st_mode))
        error = ENOTSUP; // a pipe, a device or a socket: no sample to play
    // Reads of the sample itself wait for the disk as usual, rather than fail with EAGAIN on
    // a file system that minds the flag.
    else if (const int flags = ::fcntl(fd, F_GETFL);
             flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        error = errno;
    if (error != 0) {
        ::close(fd);
        throw IOException(systemError(path, error));
    }
    return fd;
}

} // namespace

// libsndfile reads the file through these, at a position of ours, so it never holds the
// descriptor: versions 1.0.30 to 1.2.0 close a descriptor lent to sf_open_fd when the open
// fails, and by the time we close it too the number may be another player's file.
sf_count_t SndfileInputStream::Reader::length(void* user)
{
    auto* self = static_cast<Reader*>(user);
    if (self->fromMemory)
        return self->size;
    struct stat status { };
    return ::fstat(self->fd, &status) == 0 ? status.st_size : 0;
}

sf_count_t SndfileInputStream::Reader::seek(sf_count_t offset, int whence, void* user)
{
    auto* self = static_cast<Reader*>(user);
    const sf_count_t base = whence == SEEK_CUR ? self->position
        : whence == SEEK_END                   ? length(user)
                                               : 0;
    if (base + offset < 0)
        return -1;
    self->position = base + offset;
    return self->position;
}

sf_count_t SndfileInputStream::Reader::read(void* into, sf_count_t count, void* user)
{
    auto* self = static_cast<Reader*>(user);
    auto* bytes = static_cast<std::byte*>(into);
    if (self->fromMemory)
        return self->readMemory(bytes, count);
    const sf_count_t done = self->readDisk(bytes, self->position, count);
    self->position += done;
    return done;
}

sf_count_t SndfileInputStream::Reader::tell(void* user)
{
    return static_cast<Reader*>(user)->position;
}

// Reads up to count bytes at `at`, through interruptions; stops short at the file's end or at
// an error, which it notes.
std::int64_t SndfileInputStream::Reader::readDisk(
    std::byte* into, std::int64_t at, std::int64_t count)
{
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(
            fd, into + done, static_cast<std::size_t>(count - done), static_cast<off_t>(at + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            error = errno;
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

// Answers from the pieces fetched so far. A byte not among them stops the read short, and
// the first such byte is noted: the open that asked for it is tried again once it is there.
std::int64_t SndfileInputStream::Reader::readMemory(std::byte* into, std::int64_t count)
{
    std::int64_t done = 0;
    while (done < count && position + done < size) {
        const std::int64_t at = position + done;
        const auto piece = std::find_if(pieces.begin(), pieces.end(), [at](const Piece& p) {
            return p.at <= at && at < p.at + static_cast<std::int64_t>(p.bytes.size());
        });
        if (piece == pieces.end()) {
            if (missedAt < 0) {
                missedAt = at;
                missedCount = std::min(count - done, size - at);
            }
            break;
        }
        const std::int64_t n = std::min(
            count - done, piece->at + static_cast<std::int64_t>(piece->bytes.size()) - at);
        std::memcpy(
            into + done, piece->bytes.data() + (at - piece->at), static_cast<std::size_t>(n));
        done += n;
    }
    position += done;
    return done;
}

bool SndfileInputStream::Reader::fetch(std::int64_t at, std::int64_t count)
{
    Piece piece { at, std::vector<std::byte>(static_cast<std::size_t>(count)) };
    error = 0;
    const std::int64_t done = readDisk(piece.bytes.data(), at, count);
    if (error != 0)
        return false;
    if (done < count)
        size = at + done; // the file is shorter than it was
    piece.bytes.resize(static_cast<std::size_t>(done));
    if (done > 0)
        pieces.push_back(std::move(piece));
    return true;
}

SndfileInputStream::SndfileInputStream(const std::string& path)
    : path_(path)
{
    reader_.fd = openRegularFile(path);
    // The descriptor is closed here on every failure, and by the destructor otherwise.
    try {
        SF_INFO info {};
        file_ = openSound(info);
        describe(info);
    } catch (...) {
        // Never sf_close(nullptr): that notes an error where another open's reason is kept.
        if (file_)
            sf_close(file_);
        ::close(reader_.fd);
        throw;
    }
}

// libsndfile notes the reason a failed open gives in one place for the whole process, and
// every open, failed or not, writes it: so opens take turns under one lock, and a failed one
// reads its reason before letting go. Under the lock libsndfile reads only what is already in
// memory, so a disk that stops answering holds up its own player alone, not every hit of every
// drum. What an open asks for that is not there yet is read from the disk after the lock is
// let go, and the open is tried again: a try that missed nothing is the one that counts, and
// for most files that is the first.
SNDFILE* SndfileInputStream::openSound(SF_INFO& info)
{
    static std::mutex openMutex;
    // Enough for the header of most files at the first try; a later fetch takes at least as
    // much as is already there, so files whose header is long need few tries all the same.
    constexpr std::int64_t firstFetch = 16384;

    SF_VIRTUAL_IO io {};
    io.get_filelen = Reader::length;
    io.seek = Reader::seek;
    io.read = Reader::read;
    io.tell = Reader::tell;
    reader_.size = Reader::length(&reader_);
    reader_.fromMemory = true;
    std::int64_t at = 0;
    std::int64_t wanted = firstFetch;
    for (;;) {
        std::int64_t held = 0;
        for (const Reader::Piece& piece : reader_.pieces)
            held += static_cast<std::int64_t>(piece.bytes.size());
        if (!reader_.fetch(at, std::min(std::max({ wanted, firstFetch, held }), reader_.size - at)))
            throw IOException(systemError(path_, reader_.error));
        reader_.position = 0;
        reader_.missedAt = -1;
        info = {};
        SNDFILE* file = nullptr;
        int code = SF_ERR_NO_ERROR;
        {
            std::lock_guard lock(openMutex);
            file = sf_open_virtual(&io, SFM_READ, &info, &reader_);
            if (!file)
                code = sf_error(nullptr);
            else if (reader_.missedAt >= 0)
                sf_close(file);
        }
        if (reader_.missedAt < 0) {
            reader_.fromMemory = false;
            std::vector<Reader::Piece>().swap(reader_.pieces);
            if (file)
                return file;
            const std::string reason = path_ + ": " + sf_error_number(code);
            if (code == SF_ERR_SYSTEM)
                throw IOException(reason);
            throw UnsupportedAudioFileException(reason);
        }
        at = reader_.missedAt;
        wanted = reader_.missedCount;
    }
}

void SndfileInputStream::describe(const SF_INFO& info)
{
    if (info.channels < 1 || info.samplerate < 1)
        throw UnsupportedAudioFileException(
            path_ + ": no channels or no sample rate in the header");

    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const int plainBytes = storesPlainSamples(major) ? plainSampleBytes(subtype) : 0;

    format_.sampleRate = static_cast<float>(info.samplerate);
    format_.channels = info.channels;
    if (plainBytes > 0) {
        delivery_ = Delivery::Raw;
        format_.encoding = subtype == SF_FORMAT_PCM_U8                    ? Encoding::PCM_UNSIGNED
            : (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE) ? Encoding::PCM_FLOAT
                                                                          : Encoding::PCM_SIGNED;
        format_.sampleSizeInBits = plainBytes * 8;
        const bool swapped = sf_command(file_, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_TRUE;
        format_.bigEndian = (std::endian::native == std::endian::big) != swapped;
    } else {
        delivery_ = fitsSixteenBits(subtype) ? Delivery::Short : Delivery::Float;
        format_.encoding
            = delivery_ == Delivery::Short ? Encoding::PCM_SIGNED : Encoding::PCM_FLOAT;
        format_.sampleSizeInBits = delivery_ == Delivery::Short ? 16 : 32;
        format_.bigEndian = std::endian::native == std::endian::big;
    }
    format_.frameSize = format_.channels * (format_.sampleSizeInBits / 8);
    if (info.channels > 2 && info.channels <= config::maxChannels) {
        std::vector<int> map(static_cast<std::size_t>(info.channels));
        if (sf_command(file_, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                static_cast<int>(map.size() * sizeof(int)))
            == SF_TRUE)
            for (int channel : map)
                format_.speakers.push_back(speakerOf(channel));
    }
}

SndfileInputStream::~SndfileInputStream()
{
    sf_close(file_);
    ::close(reader_.fd);
}

std::int32_t SndfileInputStream::read(std::byte* buffer, std::int32_t off, std::int32_t len)
{
    if (off < 0 || len < 0)
        throw IllegalArgumentException("negative offset or length");
    const std::int32_t frames = len / format_.frameSize;
    if (frames == 0)
        return 0;
    const std::int32_t bytes = frames * format_.frameSize;

    sf_count_t got = 0;
    switch (delivery_) {
    case Delivery::Raw:
        got = sf_read_raw(file_, buffer + off, bytes);
        break;
    case Delivery::Short:
    case Delivery::Float:
        // The caller's buffer need not be aligned for the sample type.
        if (decoded_.size() < static_cast<std::size_t>(bytes))
            decoded_.resize(static_cast<std::size_t>(bytes));
        got = delivery_ == Delivery::Short
            ? sf_readf_short(file_, reinterpret_cast<short*>(decoded_.data()), frames)
            : sf_readf_float(file_, reinterpret_cast<float*>(decoded_.data()), frames);
        got *= format_.frameSize;
        std::memcpy(buffer + off, decoded_.data(), static_cast<std::size_t>(got));
        break;
    }

    if (reader_.error != 0 && got <= 0)
        throw IOException(systemError(path_, reader_.error));
    const int error = sf_error(file_);
    if (error != SF_ERR_NO_ERROR && got <= 0)
        throw IOException(path_ + ": " + sf_strerror(file_));
    // A short last read can end mid-frame in a truncated file: keep whole frames only.
    got -= got % format_.frameSize;
    return got > 0 ? static_cast<std::int32_t>(got) : -1;
}

} // namespace audio
