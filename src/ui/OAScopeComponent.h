#pragma once

#include "processor/ScopeFifo.h"

#include <juce_dsp/juce_dsp.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

class kvAP;

/** The front panel's oscilloscope: the latest triggered frame of each output
    channel in the upper half and their spectra in the lower half, taken
    from the processor's two scope queues on a 12 Hz timer. A click locks and
    unlocks the picture. Only SampleType float is built. */
template <typename SampleType>
class OAScopeComponent : public juce::Component,
                         public juce::Timer
{
public:
    static constexpr int fftOrder = 9;
    static constexpr int fftSize = 1 << fftOrder; // one frame, ScopeFifo::frameSize
    static constexpr int timerHz = 12;

    static_assert (fftSize == ScopeFifo::frameSize, "one transform per frame");

    /** Reads the processor's two scope queues (left, right). */
    explicit OAScopeComponent (kvAP& processor);
    /** Reads the given queues; the component is their only reader. */
    OAScopeComponent (ScopeFifo& left, ScopeFifo& right);
    ~OAScopeComponent() override;

    /** Takes the next frame of each channel (unless locked), computes its
        spectrum and repaints when something new was taken. */
    void timerCallback() override;
    void paint (juce::Graphics& g) override;
    /** Locks or unlocks the picture. */
    void mouseDown (const juce::MouseEvent& event) override;
    void resized() override;

    /** The spectrum of samples in spectrum's first half, as display heights
        0..1 in all of its entries (0 dB at full-scale sine amplitude 1
        after the window is 1). */
    void computeSpectrum (const std::array<SampleType, fftSize>& samples, std::array<SampleType, 2 * fftSize>& spectrum);

    juce::Colour backgroundColour { juce::Colours::black };
    juce::Colour traceColourL { juce::Colours::orange };
    juce::Colour traceColourR { juce::Colours::cyan }; // also the "LOCKED" text
    juce::Colour frameColour { juce::Colours::cyan };
    ScopeFifo& fifoL; // the processor's first queue (left channel)
    ScopeFifo& fifoR; // its second (right channel)
    std::array<SampleType, fftSize> samplesL {}, samplesR {};
    juce::dsp::FFT fft { fftOrder };
    juce::dsp::WindowingFunction<SampleType> window { (size_t) fftSize, juce::dsp::WindowingFunction<SampleType>::hann, true, 0 };
    std::array<SampleType, 2 * fftSize> spectrumL {}, spectrumR {};
    float intensity = 0.5f; // the display factor: opacity and spectrum height
    bool locked = false;

private:
    static bool popFrame (ScopeFifo& fifo, std::array<SampleType, fftSize>& dest) noexcept;

    // Set on unlocking: the next tick repaints even when no frame waits.
    bool repaintOwed = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OAScopeComponent)
};

extern template class OAScopeComponent<float>;
