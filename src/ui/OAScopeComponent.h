// To be completed: popping frames, the spectra, drawing and locking (members and interface only so far).
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

    explicit OAScopeComponent (kvAP& processor);
    ~OAScopeComponent() override;

    void timerCallback() override;
    void paint (juce::Graphics& g) override;
    void mouseDown (const juce::MouseEvent& event) override;
    void resized() override;

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
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OAScopeComponent)
};

extern template class OAScopeComponent<float>;
