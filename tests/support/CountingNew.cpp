#include "CountingNew.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
thread_local bool countingHere = false;
std::atomic<std::size_t> countedAllocations { 0 };

void* allocate(std::size_t size)
{
    if (countingHere)
        countedAllocations.fetch_add(1);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
} // namespace

namespace testing_support {

void countAllocationsHere(bool counting) noexcept
{
    countingHere = counting;
}

std::size_t takeCountedAllocations() noexcept
{
    return countedAllocations.exchange(0);
}

} // namespace testing_support

void* operator new(std::size_t size)
{
    return allocate(size);
}
void* operator new[](std::size_t size)
{
    return allocate(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
