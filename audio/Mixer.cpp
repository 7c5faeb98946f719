#include "audio/Mixer.h"

#include "audio/Config.h"
#include "audio/LineState.h"
#include "audio/MixerLine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace audio {

namespace {

std::atomic<std::size_t> liveStates { 0 };

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Adds count frames of one span with gains moving linearly from (l0, r0) by (dl, dr) a
// frame; done is how many frames of the block came before this span.
void addSpan(float* out, const float* in, std::size_t count, std::size_t done, float l0, float r0,
    float dl, float dr)
{
    for (std::size_t i = 0; i < count; ++i) {
        const auto step = static_cast<float>(done + i + 1);
        out[2 * i] += in[2 * i] * (l0 + dl * step);
        out[2 * i + 1] += in[2 * i + 1] * (r0 + dr * step);
    }
}

void addSpan(float* out, const float* in, std::size_t count, float left, float right)
{
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] += in[2 * i] * left;
        out[2 * i + 1] += in[2 * i + 1] * right;
    }
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
    , resamplerType_(config::resamplerType)
{
}

Mixer::~Mixer()
{
    delete table_.load();
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

std::size_t Mixer::liveLineStates()
{
    return liveStates.load();
}

void Mixer::waitForRenderToPass() const
{
    // Seen even: render is not running, and its next run starts after our change, so it
    // sees it. Seen odd: wait until that run is over.
    const std::uint64_t seen = renderSequence_.load(std::memory_order_seq_cst);
    if ((seen & 1) == 0)
        return;
    while (renderSequence_.load(std::memory_order_acquire) == seen)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

void Mixer::attach(LineState* line)
{
    std::lock_guard lock(tableMutex_);
    linesOpened_.fetch_add(1, std::memory_order_relaxed);
    peakAttached_ = std::max(peakAttached_, attached_ + 1);
    Table* table = table_.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < table->size; ++i) {
        if (!table->slots[i].load(std::memory_order_relaxed)) {
            table->slots[i].store(line, std::memory_order_seq_cst);
            ++attached_;
            return;
        }
    }
    // Full: publish a table twice the size, then free the old one once render has left it.
    auto* grown = new Table(table->size * 2);
    for (std::size_t i = 0; i < table->size; ++i)
        grown->slots[i].store(
            table->slots[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
    grown->slots[table->size].store(line, std::memory_order_relaxed);
    table_.store(grown, std::memory_order_seq_cst);
    ++attached_;
    waitForRenderToPass();
    delete table;
}

void Mixer::detach(LineState* line)
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
    waitForRenderToPass();
}

void Mixer::render(float* out, int frames) noexcept
{
    const std::int64_t start = nowNs();
    renderSequence_.fetch_add(1, std::memory_order_seq_cst);

    const auto n = static_cast<std::size_t>(std::max(frames, 0));
    std::fill_n(out, n * 2, 0.0f);
    std::int64_t firstOutput = 0;
    std::uint64_t shortLines = 0;
    std::uint64_t begun = 0;

    const Table* table = table_.load(std::memory_order_seq_cst);
    for (std::size_t slot = 0; slot < table->size; ++slot) {
        LineState* line = table->slots[slot].load(std::memory_order_seq_cst);
        if (!line || !line->started.load(std::memory_order_acquire))
            continue;
        // The end flag first: once it is seen, the ready count includes every frame written.
        const bool ended = line->ended.load(std::memory_order_acquire);
        const std::size_t ready = line->ring.readyFrames();
        float targetLeft, targetRight;
        panGains(line->pan.load(std::memory_order_relaxed), targetLeft, targetRight);

        if (!line->playing) {
            // Begin only with a few blocks in hand (or the whole sound), so the start is
            // not followed by a gap; a pan set before start holds from the first frame.
            if (ready == 0 || (ready < std::max(n, config::startFrames) && !ended))
                continue;
            line->playing = true;
            ++begun;
            line->gainLeft = targetLeft;
            line->gainRight = targetRight;
            if (!firstOutput)
                firstOutput = nowNs();
            line->firstOutputNs.store(firstOutput, std::memory_order_relaxed);
        }

        const std::size_t count = std::min(ready, n);
        if (count < n && !ended)
            ++shortLines;
        if (count == 0)
            continue;
        const SpscRing::Spans spans = line->ring.peek(count);
        if (targetLeft == line->gainLeft && targetRight == line->gainRight) {
            addSpan(out, spans.p1, spans.n1, targetLeft, targetRight);
            addSpan(out + 2 * spans.n1, spans.p2, spans.n2, targetLeft, targetRight);
        } else {
            // A pan change glides over this block, so it makes no click.
            const float dl = (targetLeft - line->gainLeft) / static_cast<float>(count);
            const float dr = (targetRight - line->gainRight) / static_cast<float>(count);
            addSpan(out, spans.p1, spans.n1, 0, line->gainLeft, line->gainRight, dl, dr);
            addSpan(out + 2 * spans.n1, spans.p2, spans.n2, spans.n1, line->gainLeft,
                line->gainRight, dl, dr);
            line->gainLeft = targetLeft;
            line->gainRight = targetRight;
        }
        line->ring.consume(count);
    }

    for (std::size_t i = 0; i < n * 2; ++i) {
        const float x = out[i];
        out[i] = std::isfinite(x) ? std::clamp(x, -1.0f, 1.0f) : 0.0f;
    }

    renderSequence_.fetch_add(1, std::memory_order_release);
    blocks_.fetch_add(1, std::memory_order_relaxed);
    frames_.fetch_add(n, std::memory_order_relaxed);
    if (begun)
        linesSounded_.fetch_add(begun, std::memory_order_relaxed);
    if (shortLines)
        underruns_.fetch_add(shortLines, std::memory_order_relaxed);
    const std::int64_t budgetNs = static_cast<std::int64_t>(n) * 1'000'000'000 / sampleRate_;
    if (nowNs() - start > budgetNs)
        lateBlocks_.fetch_add(1, std::memory_order_relaxed);
}

} // namespace audio
