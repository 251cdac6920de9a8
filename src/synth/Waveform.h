#pragma once

#include <juce_core/juce_core.h>

/** One oscillator shape: turns a running phase (radians, never wrapped), two
    shape parameters (0..1) and a noise amount (0..1) into one sample.

    Every instance belongs to one WaveManager, and so to one voice: wave()
    advances the shape's own random generator, so it must only be called from
    the thread that renders that voice. */
class Waveform
{
public:
    Waveform();

    virtual float wave (double phase, float* params, float noise);
    virtual juce::String getName();
    virtual juce::String getId();
    virtual juce::String getSection();
    virtual bool acceptsParam1();
    virtual bool acceptsParam2();
    virtual bool isWavetable();

    juce::String name;
    juce::String id;
    juce::String section;
    bool usesParam1 = false;
    bool usesParam2 = false;
    juce::Random rng;

    float pi, twoPi, halfPi, threeHalfPi;

protected:
    // Instances are members of a WaveManager and never deleted through a base pointer.
    ~Waveform() = default;
};
