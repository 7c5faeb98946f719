#include "audio/mix/Mixer.h"

#include "audio/Clock.h"
#include "audio/mix/FlushDenormals.h"
#include "audio/mix/LineState.h"
#include "audio/mix/MixConfig.h"
#include "audio/mix/MixerLine.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace audio {

namespace {

std::atomic<std::size_t> liveStates { 0 };

// Adds count frames of one span, the gains moving linearly from (l0, r0) by (dl, dr) a frame
// (done is how many frames of the block came before this span) and the whole scaled by an
// envelope going from e0 by de a frame.
void addSpan(float* out, const float* in, std::size_t count, std::size_t done, float l0, float r0,
    float dl, float dr, float e0, float de)
{
    for (std::size_t i = 0; i < count; ++i) {
        const auto step = static_cast<float>(done + i + 1);
        const float envelope = e0 + de * static_cast<float>(i);
        out[2 * i] += in[2 * i] * (l0 + dl * step) * envelope;
        out[2 * i + 1] += in[2 * i + 1] * (r0 + dr * step) * envelope;
    }
}

void addSpan(float* out, const float* in, std::size_t count, float left, float right)
{
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] += in[2 * i] * left;
        out[2 * i + 1] += in[2 * i + 1] * right;
    }
}

// A line's gains now: its pan and its gain together.
void targetGains(const LineState& line, float& left, float& right) noexcept
{
    panGains(line.pan.load(std::memory_order_relaxed), left, right);
    const float gain = line.gain.load(std::memory_order_relaxed);
    left *= gain;
    right *= gain;
}

// How a line enters a block.
enum class Entry { waits, begins, comesBack, goesOn };

// Begins, or comes back after running dry, only with a few blocks in hand (or the whole rest of
// the sound), so the start is not followed by a gap. A pan and a gain set before the start hold
// from the first frame.
Entry enter(LineState& line, std::size_t ready, bool ended, std::size_t n) noexcept
{
    const bool waiting = !line.playing || line.starved;
    if (waiting && (ready == 0 || (ready < std::max(n, config::startFrames) && !ended)))
        return Entry::waits;
    if (!line.playing) {
        line.playing = true;
        targetGains(line, line.gainLeft, line.gainRight);
        return Entry::begins;
    }
    if (line.starved) {
        line.starved = false;
        return Entry::comesBack;
    }
    return Entry::goesOn;
}

struct Fades {
    bool in; // the line comes back after running dry
    bool out; // the line runs dry in this block
    std::size_t frames;
};

// Adds count frames of a line from the ring's spans. A pan or gain change glides over the
// block, so it makes no click. A line that comes back fades in over its first frames; one that
// runs dry fades out over its last ones (or over what it has, when that is less), never to zero
// or from it.
void addLine(float* out, LineState& line, const SpscRing::Spans& spans, std::size_t count,
    const Fades& fades) noexcept
{
    float targetLeft, targetRight;
    targetGains(line, targetLeft, targetRight);
    const bool glides = targetLeft != line.gainLeft || targetRight != line.gainRight;
    if (!glides && !fades.in && !fades.out) {
        addSpan(out, spans.p1, spans.n1, targetLeft, targetRight);
        addSpan(out + 2 * spans.n1, spans.p2, spans.n2, targetLeft, targetRight);
        return;
    }
    const float dl = (targetLeft - line.gainLeft) / static_cast<float>(count);
    const float dr = (targetRight - line.gainRight) / static_cast<float>(count);
    const float fadeStep = 1.0f / static_cast<float>(fades.frames + 1);
    // Frames [from, to) with an envelope from e0 by de a frame, span by span.
    auto add = [&](std::size_t from, std::size_t to, float e0, float de) {
        for (std::size_t at = from; at < to;) {
            const bool inFirst = at < spans.n1;
            const float* src = inFirst ? spans.p1 + 2 * at : spans.p2 + 2 * (at - spans.n1);
            const std::size_t until = inFirst ? std::min(to, spans.n1) : to;
            addSpan(out + 2 * at, src, until - at, at, line.gainLeft, line.gainRight, dl, dr,
                e0 + de * static_cast<float>(at - from), de);
            at = until;
        }
    };
    if (fades.in) {
        add(0, fades.frames, fadeStep, fadeStep);
        add(fades.frames, count, 1.0f, 0.0f);
    } else if (fades.out) {
        add(0, count - fades.frames, 1.0f, 0.0f);
        add(count - fades.frames, count, 1.0f - fadeStep, -fadeStep);
    } else {
        add(0, count, 1.0f, 0.0f);
    }
    line.gainLeft = targetLeft;
    line.gainRight = targetRight;
}

} // namespace

LineState::LineState(std::size_t ringFrames)
    : ring(ringFrames)
{
    liveStates.fetch_add(1, std::memory_order_relaxed);
}

LineState::~LineState()
{
    liveStates.fetch_sub(1, std::memory_order_relaxed);
}

struct Mixer::Table {
    explicit Table(std::size_t size)
        : size(size)
        , slots(new std::atomic<LineState*>[size])
    {
        for (std::size_t i = 0; i < size; ++i)
            slots[i].store(nullptr, std::memory_order_relaxed);
    }
    const std::size_t size;
    std::unique_ptr<std::atomic<LineState*>[]> slots;
};

Mixer::Mixer(int sampleRate)
    : sampleRate_(sampleRate)
    , table_(new Table(config::initialLineSlots))
    , converterQuality_(config::converterQuality)
    , limiterRelease_(static_cast<float>(
          1.0 - std::exp(-1.0 / (config::limiterReleaseSeconds * std::max(sampleRate, 1)))))
    , limiterHoldFrames_(static_cast<std::size_t>(config::limiterHoldSeconds * sampleRate))
    , fadeFrames_(std::max<std::size_t>(
          1, static_cast<std::size_t>(sampleRate) * config::starvedFadeMs / 1000))
{
}

Mixer::~Mixer()
{
    delete table_.load();
    for (const Retired& r : retired_)
        delete r.table;
}

std::unique_ptr<SourceDataLine> Mixer::createLine()
{
    return std::make_unique<MixerLine>(*this);
}

std::size_t Mixer::lineCount() const
{
    std::lock_guard lock(tableMutex_);
    return attached_;
}

std::size_t Mixer::peakLineCount() const
{
    std::lock_guard lock(tableMutex_);
    return peakAttached_;
}

void Mixer::resetPeakLineCount()
{
    std::lock_guard lock(tableMutex_);
    peakAttached_ = attached_;
}

std::size_t Mixer::tableCapacity() const
{
    std::lock_guard lock(tableMutex_);
    return table_.load()->size;
}

std::size_t Mixer::liveLineStates() noexcept
{
    return liveStates.load();
}

bool Mixer::renderHasPassed(std::uint64_t seen) const
{
    // Seen even: render was not running, and its next run starts after the change that came
    // before the look, so it sees it. Seen odd: that run must be over.
    return (seen & 1) == 0 || renderSequence_.load(std::memory_order_acquire) != seen;
}

void Mixer::waitForRenderToPass() const
{
    const std::uint64_t seen = renderSequence_.load(std::memory_order_seq_cst);
    while (!renderHasPassed(seen))
        std::this_thread::sleep_for(config::renderPassPoll);
}

void Mixer::reclaimTables()
{
    std::erase_if(retired_, [this](const Retired& r) {
        if (!renderHasPassed(r.sequence))
            return false;
        delete r.table;
        return true;
    });
}

void Mixer::attach(LineState* line)
{
    std::lock_guard lock(tableMutex_);
    linesOpened_.fetch_add(1, std::memory_order_relaxed);
    peakAttached_ = std::max(peakAttached_, attached_ + 1);
    ++attached_;
    Table* table = table_.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < table->size; ++i) {
        if (!table->slots[i].load(std::memory_order_relaxed)) {
            table->slots[i].store(line, std::memory_order_seq_cst);
            return;
        }
    }
    // Full: publish a table twice the size. The old one is freed later, by whoever next finds
    // render gone past it; nobody waits for that here.
    auto* grown = new Table(table->size * 2);
    for (std::size_t i = 0; i < table->size; ++i)
        grown->slots[i].store(
            table->slots[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
    grown->slots[table->size].store(line, std::memory_order_relaxed);
    table_.store(grown, std::memory_order_seq_cst);
    retired_.push_back({ table, renderSequence_.load(std::memory_order_seq_cst) });
    reclaimTables();
}

void Mixer::detach(LineState* line)
{
    {
        std::lock_guard lock(tableMutex_);
        Table* table = table_.load(std::memory_order_relaxed);
        for (std::size_t i = 0; i < table->size; ++i) {
            if (table->slots[i].load(std::memory_order_relaxed) == line) {
                table->slots[i].store(nullptr, std::memory_order_seq_cst);
                --attached_;
                break;
            }
        }
    }
    // Outside the lock: the line's own closer waits, nobody else.
    waitForRenderToPass();
    std::lock_guard lock(tableMutex_);
    reclaimTables();
}

void Mixer::limit(float* out, std::size_t frames) noexcept
{
    // A peak limiter with no look-ahead, so no latency: while the mix stays within full scale
    // and the gain is 1 it passes every sample exactly. A frame beyond full scale sets the gain
    // at once to what brings it to full scale, both sides alike so the image holds. The gain
    // then holds a while, so that the peaks after it pass under full scale instead of each
    // being brought to it, and glides back to 1: the wave is turned down, not squared off.
    float gain = limiterGain_;
    std::size_t hold = limiterHold_;
    bool limited = false;
    for (std::size_t i = 0; i < frames; ++i) {
        float& left = out[2 * i];
        float& right = out[2 * i + 1];
        if (!std::isfinite(left))
            left = 0.0f;
        if (!std::isfinite(right))
            right = 0.0f;
        if (hold > 0) {
            --hold;
        } else if (gain < 1.0f) {
            gain += (1.0f - gain) * limiterRelease_;
            if (gain > 0.99999f)
                gain = 1.0f;
        }
        const float peak = std::max(std::fabs(left), std::fabs(right));
        if (peak * gain > 1.0f) {
            gain = 1.0f / peak;
            hold = limiterHoldFrames_;
            limited = true;
        }
        if (gain < 1.0f) {
            left = std::clamp(left * gain, -1.0f, 1.0f);
            right = std::clamp(right * gain, -1.0f, 1.0f);
        }
    }
    limiterGain_ = gain;
    limiterHold_ = hold;
    if (limited)
        counters_.limitedBlocks.fetch_add(1, std::memory_order_relaxed);
}

void Mixer::render(float* out, int frames) noexcept
{
    const FlushDenormals flush;
    // The clock is read for the late-block figure and when a line begins (its latency).
    const std::int64_t start = monotonicNs();
    renderSequence_.fetch_add(1, std::memory_order_seq_cst);

    const auto n = static_cast<std::size_t>(std::max(frames, 0));
    std::fill_n(out, n * 2, 0.0f);
    BlockTally tally;
    const Table* table = table_.load(std::memory_order_seq_cst);
    for (std::size_t slot = 0; slot < table->size; ++slot) {
        LineState* line = table->slots[slot].load(std::memory_order_seq_cst);
        if (line && line->started.load(std::memory_order_acquire))
            mixLine(*line, out, n, tally);
    }
    limit(out, n);

    renderSequence_.fetch_add(1, std::memory_order_release);
    countBlock(n, tally, start);
}

void Mixer::mixLine(LineState& line, float* out, std::size_t n, BlockTally& tally) noexcept
{
    // The end flag first: once it is seen, the ready count includes every frame written.
    const bool ended = line.ended.load(std::memory_order_acquire);
    const std::size_t ready = line.ring.readyFrames();
    const Entry entry = enter(line, ready, ended, n);
    if (entry == Entry::waits)
        return;
    if (entry == Entry::begins) {
        ++tally.begun;
        if (!tally.firstOutputNs)
            tally.firstOutputNs = monotonicNs();
        line.firstOutputNs.store(tally.firstOutputNs, std::memory_order_relaxed);
    }

    const std::size_t count = std::min(ready, n);
    // Running out at the block's edge is running dry too, when nothing was written since the
    // block before: the next block would stop it at full level, too late to fade.
    const bool runsDry = !ended && (count < n || (ready == n && ready == line.leftAfterBlock));
    if (runsDry) {
        ++tally.ranDry;
        line.starved = true;
    }
    line.leftAfterBlock = ready - count;
    if (count == 0)
        return;
    const Fades fades { entry == Entry::comesBack, runsDry, std::min(fadeFrames_, count) };
    addLine(out, line, line.ring.peek(count), count, fades);
    line.ring.consume(count);
}

void Mixer::countBlock(std::size_t n, const BlockTally& tally, std::int64_t startNs) noexcept
{
    counters_.blocks.fetch_add(1, std::memory_order_relaxed);
    counters_.frames.fetch_add(n, std::memory_order_relaxed);
    if (tally.begun)
        counters_.linesSounded.fetch_add(tally.begun, std::memory_order_relaxed);
    if (tally.ranDry)
        counters_.underruns.fetch_add(tally.ranDry, std::memory_order_relaxed);
    const std::int64_t budgetNs = static_cast<std::int64_t>(n) * 1'000'000'000 / sampleRate_;
    if (monotonicNs() - startNs > budgetNs)
        counters_.lateBlocks.fetch_add(1, std::memory_order_relaxed);
}

} // namespace audio
