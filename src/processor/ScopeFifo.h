#pragma once

#include <juce_core/juce_core.h>

#include <array>

/** Carries whole 512-sample frames from the audio thread (the only producer)
    to the oscilloscope's timer (the only consumer). At most four frames wait;
    a frame pushed while four are waiting is dropped. */
struct ScopeFifo
{
    static constexpr int frameSize = 512;
    static constexpr int numFrames = 5;
    using Frame = std::array<float, frameSize>;

    juce::AbstractFifo fifo { numFrames };
    std::array<Frame, numFrames> frames {};

    /** Returns false when the frame was dropped. */
    bool push (const Frame& frame) noexcept
    {
        int start1, size1, start2, size2;
        fifo.prepareToWrite (1, start1, size1, start2, size2);

        if (size1 > 0)
            frames[(size_t) start1] = frame;

        fifo.finishedWrite (size1);
        return size1 > 0;
    }

    /** Copies the oldest waiting frame into dest; false when none waits. */
    bool pop (Frame& dest) noexcept
    {
        int start1, size1, start2, size2;
        fifo.prepareToRead (1, start1, size1, start2, size2);

        if (size1 > 0)
            dest = frames[(size_t) start1];

        fifo.finishedRead (size1);
        return size1 > 0;
    }

    int getNumReady() const noexcept { return fifo.getNumReady(); }
};

/** Turns a stream of samples into frames that each start right after a rising
    crossing of the trigger level. */
struct ScopeCapture
{
    static constexpr float triggerLevel = 0.005f;

    explicit ScopeCapture (ScopeFifo& fifoToFeed) noexcept : target (fifoToFeed) {}

    void process (const float* samples, int numSamples) noexcept
    {
        for (int i = 0; i < numSamples; ++i)
        {
            const auto x = samples[i];

            if (phase == 0)
            {
                if (x >= triggerLevel && lastSample < triggerLevel)
                {
                    fillCount = 0;
                    phase = 1;
                    continue;
                }

                lastSample = x;
            }
            else
            {
                frame[fillCount++] = x;

                if (fillCount == (size_t) ScopeFifo::frameSize)
                {
                    target.push (frame);
                    lastSample = 100.0f;
                    phase = 0;
                    return; // no new trigger before the next block
                }
            }
        }
    }

    ScopeFifo& target;
    ScopeFifo::Frame frame {};
    size_t fillCount = 0;
    float lastSample = 100.0f;
    int phase = 0; // 0 waiting for a trigger, 1 collecting
};
