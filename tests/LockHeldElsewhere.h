#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

/** Holds locks from another thread, as the message thread does while it
    changes a layer's voices, until release() or the end of its life.

    isHolding() tells whether they are still held: a call that returned while
    it is true did not wait for them. So that a call that does wait fails the
    test instead of hanging it, the locks are let go after safetyLimit. */
class LockHeldElsewhere
{
public:
    explicit LockHeldElsewhere (const juce::CriticalSection& lock,
                                std::chrono::milliseconds safetyLimit = std::chrono::seconds (20))
        : LockHeldElsewhere (std::vector<const juce::CriticalSection*> { &lock }, safetyLimit) {}

    explicit LockHeldElsewhere (std::vector<const juce::CriticalSection*> locks,
                                std::chrono::milliseconds safetyLimit = std::chrono::seconds (20))
        : holder ([this, locks, safetyLimit]
          {
              for (auto* lock : locks)
                  lock->enter();

              holding = true;
              const auto until = std::chrono::steady_clock::now() + safetyLimit;

              while (! letGo && std::chrono::steady_clock::now() < until)
                  std::this_thread::yield();

              holding = false;

              for (auto* lock : locks)
                  lock->exit();
          })
    {
        while (! holding)
            std::this_thread::yield();
    }

    ~LockHeldElsewhere() { release(); }

    bool isHolding() const noexcept   { return holding; }

    void release()
    {
        letGo = true;

        if (holder.joinable())
            holder.join();
    }

private:
    std::atomic<bool> holding { false }, letGo { false };
    std::thread holder;
};
