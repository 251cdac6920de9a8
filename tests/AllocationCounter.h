#pragma once

#include <cstddef>

/** Counts heap allocations made by the current thread while a scope is alive.
    The test binary replaces the global operator new to do the counting. */
class AllocationCounter
{
public:
    AllocationCounter() noexcept;
    ~AllocationCounter();

    std::size_t getCount() const noexcept;

private:
    std::size_t startCount;
    bool wasCounting;
};
