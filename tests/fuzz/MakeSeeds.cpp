// Writes the fuzzer's seed corpus into a folder: short sounds in every coding libsndfile writes
// in WAV, WAVE_FORMAT_EXTENSIBLE and RF64, with metadata chunks, and hand-built broken files.
// Usage: tamborel-fuzz-seeds FOLDER
#include "Bytes.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sndfile.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace fuzz_bytes;

fs::path folder;
int written = 0;

void save(const std::string& name, const Bytes& bytes)
{
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + (folder / name).string());
    ++written;
}

// ---- Sounds written by libsndfile ----

std::vector<double> tone(int frames, int channels, int rate)
{
    std::vector<double> samples;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples.push_back(0.6 * (1.0 - 0.1 * c) * std::sin(2 * M_PI * 440.0 * i / rate)
                * std::exp(-3.0 * i / frames));
    return samples;
}

bool writeSound(
    const std::string& name, int format, int channels, int rate, int frames, bool metadata = false)
{
    SF_INFO info {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    if (!sf_format_check(&info))
        return false;
    const fs::path path = folder / name;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    if (metadata) {
        sf_set_string(file, SF_STR_TITLE, "snare");
        sf_set_string(file, SF_STR_ARTIST, "tamborel");
        sf_set_string(file, SF_STR_COMMENT, "seed");
        SF_BROADCAST_INFO bext {};
        std::strcpy(bext.description, "seed");
        sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
        SF_INSTRUMENT instrument {};
        instrument.basenote = 60;
        instrument.velocity_hi = 127;
        instrument.key_hi = 127;
        instrument.loop_count = 1;
        instrument.loops[0].mode = SF_LOOP_FORWARD;
        instrument.loops[0].end = static_cast<unsigned>(frames);
        sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument);
        SF_CUES cues {};
        cues.cue_count = 2;
        cues.cue_points[0].indx = 1;
        cues.cue_points[1].indx = 2;
        cues.cue_points[1].position = 10;
        cues.cue_points[1].sample_offset = 10;
        std::strcpy(cues.cue_points[0].name, "hit");
        sf_command(file, SFC_SET_CUE, &cues, sizeof cues);
    }
    const auto samples = tone(frames, channels, rate);
    sf_writef_double(file, samples.data(), frames);
    sf_close(file);
    ++written;
    return true;
}

void writeEveryCoding()
{
    struct Container {
        const char* name;
        int major;
    };
    struct Coding {
        const char* name;
        int subtype;
    };
    const Container containers[]
        = { { "wav", SF_FORMAT_WAV }, { "wavex", SF_FORMAT_WAVEX }, { "rf64", SF_FORMAT_RF64 } };
    const Coding codings[] = { { "u8", SF_FORMAT_PCM_U8 }, { "s16", SF_FORMAT_PCM_16 },
        { "s24", SF_FORMAT_PCM_24 }, { "s32", SF_FORMAT_PCM_32 }, { "f32", SF_FORMAT_FLOAT },
        { "f64", SF_FORMAT_DOUBLE }, { "ulaw", SF_FORMAT_ULAW }, { "alaw", SF_FORMAT_ALAW },
        { "ima", SF_FORMAT_IMA_ADPCM }, { "msadpcm", SF_FORMAT_MS_ADPCM },
        { "gsm", SF_FORMAT_GSM610 }, { "g721", SF_FORMAT_G721_32 } };
    const int rates[] = { 8000, 11025, 22050, 44100, 48000, 96000, 192000 };
    const int channelCounts[] = { 1, 2, 6 };
    int turn = 0;
    for (const auto& container : containers) {
        for (const auto& coding : codings) {
            for (const int channels : channelCounts) {
                const int rate = rates[turn++ % 7];
                const std::string name = std::string(container.name) + "-" + coding.name + "-"
                    + std::to_string(channels) + "ch-" + std::to_string(rate) + ".wav";
                writeSound(name, container.major | coding.subtype, channels, rate, 600);
            }
        }
    }
    // The metadata chunks libsndfile writes and parses: LIST/INFO, bext, smpl, inst, cue.
    writeSound("wav-s16-meta.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 300, true);
    writeSound("wavex-f32-meta.wav", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 1, 48000, 300, true);
    writeSound("rf64-s24-meta.wav", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 2, 96000, 300, true);
    // The extremes of the rates a line takes, and empty sounds.
    writeSound("wav-u8-188hz.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 188, 40);
    writeSound("wav-s16-12mhz.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 12288000, 2000);
    writeSound("wav-s16-empty.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 0);
    writeSound("wav-ima-empty.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 44100, 0);
}

// ---- Hand-built files ----

struct Fmt {
    unsigned tag = 1;
    unsigned channels = 2;
    std::uint32_t rate = 44100;
    std::uint32_t byteRate = 44100 * 4;
    unsigned blockAlign = 4;
    unsigned bits = 16;
    Bytes extra; // cbSize and what follows, for codings that have it
};

Bytes fmtBody(const Fmt& f)
{
    Bytes b;
    put16(b, f.tag);
    put16(b, f.channels);
    put32(b, f.rate);
    put32(b, f.byteRate);
    put16(b, f.blockAlign);
    put16(b, f.bits);
    b.insert(b.end(), f.extra.begin(), f.extra.end());
    return b;
}

struct Chunk {
    std::string id;
    Bytes body;
    std::int64_t declared = -1; // size written in the header; -1 for the body's size
    bool pad = true; // a pad byte after an odd body
};

Bytes container(const char* magic, const std::vector<Chunk>& chunks, std::int64_t riffSize = -1,
    const char* form = "WAVE")
{
    Bytes inner;
    putText(inner, form);
    for (const auto& c : chunks) {
        putText(inner, c.id.c_str());
        put32(inner,
            static_cast<std::uint32_t>(c.declared >= 0 ? c.declared : std::int64_t(c.body.size())));
        inner.insert(inner.end(), c.body.begin(), c.body.end());
        if (c.pad && c.body.size() % 2)
            inner.push_back(0);
    }
    Bytes out;
    putText(out, magic);
    put32(out, static_cast<std::uint32_t>(riffSize >= 0 ? riffSize : std::int64_t(inner.size())));
    out.insert(out.end(), inner.begin(), inner.end());
    return out;
}

Bytes pcm16(int frames, int channels)
{
    Bytes b;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            put16(b,
                static_cast<unsigned>(static_cast<std::int16_t>(
                    12000 * std::sin(2 * M_PI * 330.0 * i / 44100) / (c + 1))));
    return b;
}

Bytes plainWav(const Fmt& fmt, const Bytes& data)
{
    return container("RIFF", { { "fmt ", fmtBody(fmt) }, { "data", data } });
}

Bytes cut(Bytes b, std::size_t size)
{
    b.resize(std::min(size, b.size()));
    return b;
}

Bytes extensible(unsigned validBits, std::uint32_t mask, const std::uint8_t guidFirst[2],
    bool standardGuid = true)
{
    Bytes b;
    put16(b, 22);
    put16(b, validBits);
    put32(b, mask);
    b.push_back(guidFirst[0]);
    b.push_back(guidFirst[1]);
    const std::uint8_t rest[14] = { 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71 };
    for (std::uint8_t x : rest)
        b.push_back(standardGuid ? x : static_cast<std::uint8_t>(x ^ 0x5A));
    return b;
}

void writeBrokenFiles()
{
    const Fmt stereo16;
    const Bytes tone16 = pcm16(400, 2);
    const Bytes good = plainWav(stereo16, tone16);
    save("hand-s16-good.wav", good);

    // Headers cut short at every field boundary.
    for (const std::size_t size : { 3u, 4u, 8u, 12u, 16u, 20u, 24u, 30u, 36u, 40u, 43u, 47u })
        save("cut-header-" + std::to_string(size) + ".wav", cut(good, size));
    save("cut-mid-frame.wav", cut(good, good.size() - 3));

    // Sizes that lie.
    save("data-longer-than-file.wav",
        container("RIFF", { { "fmt ", fmtBody(stereo16) }, { "data", pcm16(50, 2), 1000000 } }));
    save("data-size-huge.wav",
        container("RIFF", { { "fmt ", fmtBody(stereo16) }, { "data", pcm16(50, 2), 0xFFFFFFFF } },
            0xFFFFFFFF));
    save("data-size-zero-with-samples.wav",
        container("RIFF", { { "fmt ", fmtBody(stereo16) }, { "data", pcm16(50, 2), 0 } }));
    save("riff-size-small.wav",
        container("RIFF", { { "fmt ", fmtBody(stereo16) }, { "data", pcm16(50, 2) } }, 20));
    save("fmt-size-huge.wav",
        container("RIFF", { { "fmt ", fmtBody(stereo16), 0x7FFFFFF0 }, { "data", tone16 } }));
    save("fmt-size-short.wav",
        container("RIFF", { { "fmt ", cut(fmtBody(stereo16), 10) }, { "data", tone16 } }));

    // Channels, rates and frame sizes no sound has.
    for (const unsigned channels : { 0u, 3u, 33u, 1025u, 65535u }) {
        Fmt f = stereo16;
        f.channels = channels;
        f.blockAlign = 2 * channels;
        save("channels-" + std::to_string(channels) + ".wav", plainWav(f, pcm16(60, 2)));
    }
    for (const std::uint32_t rate :
        { 0u, 1u, 187u, 188u, 12288000u, 12288001u, 0x7FFFFFFFu, 0xFFFFFFFFu }) {
        Fmt f = stereo16;
        f.rate = rate;
        f.byteRate = rate * 4;
        save("rate-" + std::to_string(rate) + ".wav", plainWav(f, pcm16(60, 2)));
    }
    for (const unsigned align : { 0u, 1u, 3u, 5u, 65535u }) {
        Fmt f = stereo16;
        f.blockAlign = align;
        save("block-align-" + std::to_string(align) + ".wav", plainWav(f, tone16));
    }
    for (const unsigned bits : { 0u, 1u, 7u, 12u, 20u, 40u, 64u, 65535u }) {
        Fmt f = stereo16;
        f.bits = bits;
        save("bits-" + std::to_string(bits) + ".wav", plainWav(f, tone16));
    }

    // Chunk order and odd sizes.
    Bytes odd(7, 0x41);
    save("odd-chunk-padded.wav",
        container("RIFF", { { "fmt ", fmtBody(stereo16) }, { "LIST", odd }, { "data", tone16 } }));
    save("odd-chunk-unpadded.wav",
        container("RIFF",
            { { "fmt ", fmtBody(stereo16) }, { "JUNK", odd, -1, false }, { "data", tone16 } }));
    {
        Fmt f = stereo16;
        f.extra = { 0 }; // a 17-byte fmt
        save("odd-fmt.wav", plainWav(f, tone16));
    }
    save("fmt-after-data.wav",
        container("RIFF", { { "data", tone16 }, { "fmt ", fmtBody(stereo16) } }));
    save("no-fmt.wav", container("RIFF", { { "data", tone16 } }));
    save("no-data.wav", container("RIFF", { { "fmt ", fmtBody(stereo16) } }));
    {
        Fmt mono = stereo16;
        mono.channels = 1;
        mono.blockAlign = 2;
        save("two-fmt.wav",
            container("RIFF",
                { { "fmt ", fmtBody(stereo16) }, { "fmt ", fmtBody(mono) }, { "data", tone16 } }));
        save("two-data.wav",
            container("RIFF",
                { { "fmt ", fmtBody(stereo16) }, { "data", pcm16(30, 2) }, { "data", tone16 } }));
    }
    save("unknown-chunks.wav",
        container("RIFF",
            { { "fmt ", fmtBody(stereo16) }, { "zzzz", Bytes(12, 1) }, { "\x01\x02\x03\x04", {} },
                { "data", tone16 } }));

    // Float samples that are no sound: NaN, infinities, far beyond full scale.
    {
        Fmt f { 3, 1, 48000, 48000 * 4, 4, 32, {} };
        Bytes data;
        const float values[] = { 0.5f, std::numeric_limits<float>::quiet_NaN(),
            std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), 1e30f,
            -3.0f, 1.0f, -1.0f };
        for (int i = 0; i < 200; ++i)
            putValue(data, values[i % 8]);
        save("float-nan-inf.wav", plainWav(f, data));
        Fmt d { 3, 2, 44100, 44100 * 16, 16, 64, {} };
        Bytes doubles;
        const double big[] = { 1e300, -1e300, std::numeric_limits<double>::quiet_NaN(), 0.25 };
        for (int i = 0; i < 400; ++i)
            putValue(doubles, big[i % 4]);
        save("double-huge.wav", plainWav(d, doubles));
    }

    // WAVE_FORMAT_EXTENSIBLE done right and wrong.
    {
        const std::uint8_t pcm[2] = { 1, 0 }, flt[2] = { 3, 0 }, ulaw[2] = { 7, 0 },
                           bogus[2] = { 0x55, 0x55 };
        Fmt f = stereo16;
        f.tag = 0xFFFE;
        f.extra = extensible(16, 3, pcm);
        save("ext-pcm.wav", plainWav(f, tone16));
        f.extra = extensible(24, 3, pcm);
        save("ext-valid-bits-over.wav", plainWav(f, tone16));
        f.extra = extensible(16, 0xFFFFFFFF, pcm);
        save("ext-mask-all.wav", plainWav(f, tone16));
        f.extra = extensible(16, 3, bogus);
        save("ext-unknown-guid.wav", plainWav(f, tone16));
        f.extra = extensible(16, 3, pcm, false);
        save("ext-foreign-guid.wav", plainWav(f, tone16));
        f.extra = extensible(16, 3, flt);
        save("ext-float-16bit.wav", plainWav(f, tone16));
        f.extra = extensible(16, 3, ulaw);
        save("ext-ulaw-16bit.wav", plainWav(f, tone16));
        f.extra = { 0, 0 };
        save("ext-no-extension.wav", plainWav(f, tone16));
        Fmt six = stereo16;
        six.tag = 0xFFFE;
        six.channels = 6;
        six.blockAlign = 12;
        six.extra = extensible(16, 0x3F, pcm);
        save("ext-5.1.wav", plainWav(six, pcm16(300, 6)));
    }

    // Coded formats with broken parameters.
    {
        Bytes ima;
        put16(ima, 2);
        put16(ima, 505); // samples per block
        for (const unsigned align : { 0u, 1u, 256u, 65535u }) {
            Fmt f { 0x11, 1, 22050, 11100, align, 4, ima };
            save("ima-align-" + std::to_string(align) + ".wav", plainWav(f, Bytes(1024, 0x37)));
        }
        Bytes imaZero;
        put16(imaZero, 2);
        put16(imaZero, 0);
        save("ima-no-samples.wav",
            plainWav(Fmt { 0x11, 2, 22050, 22050, 512, 4, imaZero }, Bytes(2048, 0x99)));
        Bytes ms;
        put16(ms, 32);
        put16(ms, 500);
        put16(ms, 7);
        const int coefs[7][2] = { { 256, 0 }, { 512, -256 }, { 0, 0 }, { 192, 64 }, { 240, 0 },
            { 460, -208 }, { 392, -232 } };
        for (const auto& c : coefs) {
            put16(ms, static_cast<unsigned>(c[0] & 0xFFFF));
            put16(ms, static_cast<unsigned>(c[1] & 0xFFFF));
        }
        save("msadpcm-good-header.wav",
            plainWav(Fmt { 2, 1, 22050, 11100, 256, 4, ms }, Bytes(1024, 0x5C)));
        Bytes msMany = ms;
        msMany[4] = 0xFF;
        msMany[5] = 0xFF; // 65535 coefficients promised
        save("msadpcm-many-coefs.wav",
            plainWav(Fmt { 2, 1, 22050, 11100, 256, 4, msMany }, Bytes(1024, 0x5C)));
        Bytes msNone = ms;
        msNone[4] = msNone[5] = 0;
        save("msadpcm-no-coefs.wav",
            plainWav(Fmt { 2, 2, 22050, 11100, 0, 4, msNone }, Bytes(1024, 0x5C)));
        save(
            "ulaw-wide.wav", plainWav(Fmt { 7, 2, 8000, 16000, 7, 8, { 0, 0 } }, Bytes(800, 0xD5)));
        save("alaw-16bit.wav",
            plainWav(Fmt { 6, 1, 8000, 8000, 2, 16, { 0, 0 } }, Bytes(800, 0xD5)));
        Bytes gsm;
        put16(gsm, 2);
        put16(gsm, 320);
        save("gsm-bad-align.wav",
            plainWav(Fmt { 0x31, 1, 8000, 1625, 3, 0, gsm }, Bytes(650, 0xA5)));
    }

    // Metadata chunks with counts far beyond their size.
    {
        Bytes fact;
        put32(fact, 0xFFFFFFF0);
        save("fact-huge.wav",
            container(
                "RIFF", { { "fmt ", fmtBody(stereo16) }, { "fact", fact }, { "data", tone16 } }));
        Bytes smpl(28, 0);
        put32(smpl, 0x7FFFFFFF); // loops
        put32(smpl, 0);
        save("smpl-many-loops.wav",
            container(
                "RIFF", { { "fmt ", fmtBody(stereo16) }, { "smpl", smpl }, { "data", tone16 } }));
        Bytes cue;
        put32(cue, 0x10000000);
        save("cue-many-points.wav",
            container(
                "RIFF", { { "fmt ", fmtBody(stereo16) }, { "cue ", cue }, { "data", tone16 } }));
        Bytes list;
        putText(list, "adtl");
        putText(list, "labl");
        put32(list, 0xFFFF);
        put32(list, 1);
        putText(list, "x");
        save("list-label-huge.wav",
            container(
                "RIFF", { { "fmt ", fmtBody(stereo16) }, { "LIST", list }, { "data", tone16 } }));
        Bytes info;
        putText(info, "INFO");
        putText(info, "INAM");
        put32(info, 0x7FFFFFFF);
        putText(info, "snare");
        save("list-info-huge.wav",
            container(
                "RIFF", { { "fmt ", fmtBody(stereo16) }, { "LIST", info }, { "data", tone16 } }));
        save("bext-short.wav",
            container("RIFF",
                { { "fmt ", fmtBody(stereo16) }, { "bext", Bytes(10, 0x20) },
                    { "data", tone16 } }));
        Bytes peak;
        put32(peak, 1);
        put32(peak, 0);
        for (int c = 0; c < 9; ++c) {
            putValue(peak, 0.5f);
            put32(peak, 0);
        }
        save("peak-wrong-channels.wav",
            container(
                "RIFF", { { "fmt ", fmtBody(stereo16) }, { "PEAK", peak }, { "data", tone16 } }));
        Bytes acid(24, 0xFF);
        save("acid.wav",
            container(
                "RIFF", { { "fmt ", fmtBody(stereo16) }, { "acid", acid }, { "data", tone16 } }));
        Bytes inst = { 60, 0, 0, 0, 127, 1, 127 };
        save("inst.wav",
            container(
                "RIFF", { { "fmt ", fmtBody(stereo16) }, { "inst", inst }, { "data", tone16 } }));
    }

    // RF64 with and without a sensible ds64.
    {
        auto rf64 = [&](std::uint64_t riff, std::uint64_t data, std::uint64_t samples,
                        std::uint32_t tableLength) {
            Bytes ds64;
            put64(ds64, riff);
            put64(ds64, data);
            put64(ds64, samples);
            put32(ds64, tableLength);
            return container("RF64",
                { { "ds64", ds64 }, { "fmt ", fmtBody(stereo16) }, { "data", tone16, 0xFFFFFFFF } },
                0xFFFFFFFF);
        };
        save("rf64-hand.wav", rf64(36 + 28 + 24 + 8 + tone16.size(), tone16.size(), 400, 0));
        save("rf64-huge-sizes.wav", rf64(~0ull, ~0ull, ~0ull, 0));
        save("rf64-table-long.wav", rf64(1000, tone16.size(), 400, 0xFFFFFFFF));
        save("rf64-no-ds64.wav",
            container("RF64", { { "fmt ", fmtBody(stereo16) }, { "data", tone16, 0xFFFFFFFF } },
                0xFFFFFFFF));
    }

    // Big-endian RIFX, and a text file named like a sound.
    {
        Bytes rifx = good;
        std::memcpy(rifx.data(), "RIFX", 4);
        save("rifx-little-fields.wav", rifx);
        Bytes text;
        putText(text, "not a sound at all\n");
        save("text.wav", text);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    folder = argv[1];
    try {
        fs::create_directories(folder);
        writeEveryCoding();
        writeBrokenFiles();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "tamborel-fuzz-seeds: %s\n", failure.what());
        return 1;
    }
    std::printf("%d seed files in %s\n", written, folder.c_str());
    return 0;
}
