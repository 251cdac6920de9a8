#pragma once

#include <atomic>

/** Display values written by the engine (audio or message thread) and read by
    the editor's timer. Each field is an independent atomic, so a reader never
    sees half a value; fields may still be from different blocks. */
struct RenderValues
{
    std::atomic<int> synth1TuneSemi { 0 };
    std::atomic<float> synth1TuneCent { 0.0f };
    std::atomic<int> synth2TuneSemi { 0 };
    std::atomic<float> synth2TuneCent { 0.0f };
    std::atomic<int> synth1Voices { 1 };
    std::atomic<int> synth2Voices { 1 };
    std::atomic<int> synth1Unison { 0 };
    std::atomic<int> synth2Unison { 0 };
    std::atomic<int> cutoffHz { 0 }; // the frequency the filter runs at, in whole Hz
    std::atomic<float> lfo1Value { 0.0f }, lfo1Level { 0.0f };
    std::atomic<float> lfo2Value { 0.0f }, lfo2Level { 0.0f };
    std::atomic<float> env1Value { 0.0f }, env1Level { 0.0f };
    std::atomic<float> env2Value { 0.0f }, env2Level { 0.0f };

    /** Every field to 0, except the two voice counts, which become 1. */
    void reset() noexcept
    {
        synth1TuneSemi = 0;
        synth1TuneCent = 0.0f;
        synth2TuneSemi = 0;
        synth2TuneCent = 0.0f;
        synth1Voices = 1;
        synth2Voices = 1;
        synth1Unison = 0;
        synth2Unison = 0;
        cutoffHz = 0;
        lfo1Value = 0.0f;
        lfo1Level = 0.0f;
        lfo2Value = 0.0f;
        lfo2Level = 0.0f;
        env1Value = 0.0f;
        env1Level = 0.0f;
        env2Value = 0.0f;
        env2Level = 0.0f;
    }
};
