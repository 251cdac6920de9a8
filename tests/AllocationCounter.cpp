#include "AllocationCounter.h"

#include <cstdlib>

// The test binary interposes the C allocator (which operator new, juce::HeapBlock
// and juce::Array all end up in) and forwards to glibc's own entry points.
extern "C"
{
    void* __libc_malloc (std::size_t);
    void* __libc_calloc (std::size_t, std::size_t);
    void* __libc_realloc (void*, std::size_t);
}

namespace
{
    thread_local bool counting = false;
    thread_local std::size_t allocations = 0;
}

extern "C"
{
    void* malloc (std::size_t size)
    {
        if (counting)
            ++allocations;

        return __libc_malloc (size);
    }

    void* calloc (std::size_t count, std::size_t size)
    {
        if (counting)
            ++allocations;

        return __libc_calloc (count, size);
    }

    void* realloc (void* p, std::size_t size)
    {
        if (counting)
            ++allocations;

        return __libc_realloc (p, size);
    }
}

AllocationCounter::AllocationCounter() noexcept : startCount (allocations), wasCounting (counting)
{
    counting = true;
}

AllocationCounter::~AllocationCounter()
{
    counting = wasCounting;
}

std::size_t AllocationCounter::getCount() const noexcept
{
    return allocations - startCount;
}
