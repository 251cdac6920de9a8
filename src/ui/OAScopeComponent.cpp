// To be completed: popping frames, the spectra, drawing and locking (members and interface only so far).
#include "OAScopeComponent.h"

#include "processor/PluginProcessor.h"

template <typename SampleType>
OAScopeComponent<SampleType>::OAScopeComponent (kvAP& processor)
    : fifoL (processor.scopeFifos[0]),
      fifoR (processor.scopeFifos[1])
{
}

template <typename SampleType>
OAScopeComponent<SampleType>::~OAScopeComponent() = default;

template <typename SampleType>
void OAScopeComponent<SampleType>::timerCallback() {}

template <typename SampleType>
void OAScopeComponent<SampleType>::paint (juce::Graphics&) {}

template <typename SampleType>
void OAScopeComponent<SampleType>::mouseDown (const juce::MouseEvent&) {}

template <typename SampleType>
void OAScopeComponent<SampleType>::resized() {}

template class OAScopeComponent<float>;
