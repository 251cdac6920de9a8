#pragma once

#include <cstddef>

/** Counts the heap allocations and frees made by the calling thread while it
    is alive (operator new/delete and, with glibc, the malloc family). Scopes
    may nest; each sees only what happened since it was opened.

        AllocationScope scope;
        renderSomething();
        EXPECT_EQ (scope.allocations(), 0u);
*/
class AllocationScope
{
public:
    AllocationScope() noexcept;

    /** False in sanitizer builds, whose own allocator the counter cannot wrap. */
    static bool isAvailable() noexcept;

    std::size_t allocations() const noexcept;
    std::size_t deallocations() const noexcept;

private:
    std::size_t allocationsAtStart, deallocationsAtStart;
};
