#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

// Counters of the calling thread; constant-initialised, so safe inside the
// allocator itself.
static thread_local std::size_t threadAllocations = 0;
static thread_local std::size_t threadDeallocations = 0;

AllocationScope::AllocationScope() noexcept
    : allocationsAtStart (threadAllocations),
      deallocationsAtStart (threadDeallocations)
{
}

std::size_t AllocationScope::allocations() const noexcept     { return threadAllocations - allocationsAtStart; }
std::size_t AllocationScope::deallocations() const noexcept   { return threadDeallocations - deallocationsAtStart; }

#if defined (__SANITIZE_ADDRESS__) || defined (__SANITIZE_THREAD__)
// Sanitizers bring their own allocator; counting is left to the normal build.
bool AllocationScope::isAvailable() noexcept { return false; }
#else
bool AllocationScope::isAvailable() noexcept { return true; }

//==============================================================================
#if defined (__GLIBC__)
// glibc lets a program replace malloc by defining these; they forward to the
// library's own implementation. JUCE's containers allocate through malloc.
extern "C"
{
void* __libc_malloc (std::size_t);
void* __libc_calloc (std::size_t, std::size_t);
void* __libc_realloc (void*, std::size_t);
void* __libc_memalign (std::size_t, std::size_t);
void __libc_free (void*);

void* malloc (std::size_t size)
{
    ++threadAllocations;
    return __libc_malloc (size);
}

void* calloc (std::size_t count, std::size_t size)
{
    ++threadAllocations;
    return __libc_calloc (count, size);
}

void* realloc (void* p, std::size_t size)
{
    ++threadAllocations;
    return __libc_realloc (p, size);
}

void* memalign (std::size_t alignment, std::size_t size)
{
    ++threadAllocations;
    return __libc_memalign (alignment, size);
}

void* aligned_alloc (std::size_t alignment, std::size_t size)
{
    ++threadAllocations;
    return __libc_memalign (alignment, size);
}

int posix_memalign (void** result, std::size_t alignment, std::size_t size)
{
    if (alignment < sizeof (void*) || (alignment & (alignment - 1)) != 0)
        return 22; // EINVAL

    ++threadAllocations;
    *result = __libc_memalign (alignment, size);
    return *result != nullptr || size == 0 ? 0 : 12; // ENOMEM
}

void free (void* p)
{
    if (p != nullptr)
        ++threadDeallocations;

    __libc_free (p);
}
}

static void* rawAllocate (std::size_t size) noexcept                           { return __libc_malloc (size == 0 ? 1 : size); }
static void* rawAllocateAligned (std::size_t size, std::size_t align) noexcept { return __libc_memalign (align, size == 0 ? 1 : size); }
static void rawFree (void* p) noexcept                                         { __libc_free (p); }
#else
static void* rawAllocate (std::size_t size) noexcept                           { return std::malloc (size == 0 ? 1 : size); }
static void* rawAllocateAligned (std::size_t size, std::size_t align) noexcept
{
    void* p = nullptr;
    return posix_memalign (&p, align < sizeof (void*) ? sizeof (void*) : align, size == 0 ? 1 : size) == 0 ? p : nullptr;
}
static void rawFree (void* p) noexcept                                         { std::free (p); }
#endif

//==============================================================================
static void* countedNew (std::size_t size)
{
    ++threadAllocations;

    if (auto* p = rawAllocate (size))
        return p;

    throw std::bad_alloc();
}

static void* countedNewAligned (std::size_t size, std::align_val_t align)
{
    ++threadAllocations;

    if (auto* p = rawAllocateAligned (size, static_cast<std::size_t> (align)))
        return p;

    throw std::bad_alloc();
}

static void countedDelete (void* p) noexcept
{
    if (p != nullptr)
        ++threadDeallocations;

    rawFree (p);
}

void* operator new (std::size_t size)                                           { return countedNew (size); }
void* operator new[] (std::size_t size)                                         { return countedNew (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept           { try { return countedNew (size); } catch (...) { return nullptr; } }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept         { try { return countedNew (size); } catch (...) { return nullptr; } }
void* operator new (std::size_t size, std::align_val_t a)                       { return countedNewAligned (size, a); }
void* operator new[] (std::size_t size, std::align_val_t a)                     { return countedNewAligned (size, a); }
void* operator new (std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept   { try { return countedNewAligned (size, a); } catch (...) { return nullptr; } }
void* operator new[] (std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept { try { return countedNewAligned (size, a); } catch (...) { return nullptr; } }

void operator delete (void* p) noexcept                                         { countedDelete (p); }
void operator delete[] (void* p) noexcept                                       { countedDelete (p); }
void operator delete (void* p, std::size_t) noexcept                            { countedDelete (p); }
void operator delete[] (void* p, std::size_t) noexcept                          { countedDelete (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept                  { countedDelete (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept                { countedDelete (p); }
void operator delete (void* p, std::align_val_t) noexcept                       { countedDelete (p); }
void operator delete[] (void* p, std::align_val_t) noexcept                     { countedDelete (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept          { countedDelete (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept        { countedDelete (p); }
void operator delete (void* p, std::align_val_t, const std::nothrow_t&) noexcept   { countedDelete (p); }
void operator delete[] (void* p, std::align_val_t, const std::nothrow_t&) noexcept { countedDelete (p); }

#endif
