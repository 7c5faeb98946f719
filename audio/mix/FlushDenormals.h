#pragma once

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace audio {

// Denormal floats cost a hundred times a normal one on x86: a decaying tail or a limiter's
// gain creeping back to 1 would make a block late. Flushed to zero while one lives.
class FlushDenormals {
public:
#if defined(__SSE__)
    FlushDenormals() noexcept
        : saved_(_mm_getcsr())
    {
        _mm_setcsr(saved_ | 0x8040); // flush to zero, denormals are zero
    }
    ~FlushDenormals()
    {
        _mm_setcsr(saved_);
    }
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;

private:
    unsigned saved_;
#endif
};

} // namespace audio
