#include "OAScopeComponent.h"

#include "processor/PluginProcessor.h"

#include <cmath>

template <typename SampleType>
OAScopeComponent<SampleType>::OAScopeComponent (kvAP& processor)
    : OAScopeComponent (processor.scopeFifos[0], processor.scopeFifos[1])
{
}

template <typename SampleType>
OAScopeComponent<SampleType>::OAScopeComponent (ScopeFifo& left, ScopeFifo& right)
    : fifoL (left),
      fifoR (right)
{
    // The flat start picture: the spectrum of silence.
    computeSpectrum (samplesL, spectrumL);
    computeSpectrum (samplesR, spectrumR);
    startTimerHz (timerHz);
}

template <typename SampleType>
OAScopeComponent<SampleType>::~OAScopeComponent()
{
    stopTimer();
}

template <typename SampleType>
bool OAScopeComponent<SampleType>::popFrame (ScopeFifo& fifo, std::array<SampleType, fftSize>& dest) noexcept
{
    int start1, size1, start2, size2;
    fifo.fifo.prepareToRead (1, start1, size1, start2, size2);

    if (size1 > 0)
    {
        const auto& frame = fifo.frames[(size_t) start1];
        std::copy (frame.begin(), frame.end(), dest.begin());
    }

    fifo.fifo.finishedRead (size1);
    return size1 > 0;
}

template <typename SampleType>
void OAScopeComponent<SampleType>::computeSpectrum (const std::array<SampleType, fftSize>& samples,
                                                    std::array<SampleType, 2 * fftSize>& spectrum)
{
    std::copy (samples.begin(), samples.end(), spectrum.begin());
    std::fill (spectrum.begin() + fftSize, spectrum.end(), SampleType (0));

    window.multiplyWithWindowingTable (spectrum.data(), (size_t) fftSize);
    fft.performFrequencyOnlyForwardTransform (spectrum.data());

    const auto ref = juce::jmax (-100.0f, 20.0f * std::log10 ((float) fftSize));

    for (auto& s : spectrum)
    {
        // A frame that is not finite (it never should be) shows as silence.
        const auto db = (s > 0 && std::isfinite ((float) s)) ? juce::jmax (-100.0f, 20.0f * std::log10 ((float) s)) : -100.0f;
        const auto v = db - ref;
        s = (SampleType) (v < -160.0f ? 0.0f : (v > 0.0f ? 1.0f : (v + 160.0f) / 160.0f));
    }
}

template <typename SampleType>
void OAScopeComponent<SampleType>::timerCallback()
{
    if (locked)
        return;

    const auto newL = popFrame (fifoL, samplesL);
    const auto newR = popFrame (fifoR, samplesR);

    if (newL)
        computeSpectrum (samplesL, spectrumL);

    if (newR)
        computeSpectrum (samplesR, spectrumR);

    // An unchanged picture is not drawn again.
    if (newL || newR || repaintOwed)
    {
        repaintOwed = false;
        repaint();
    }
}

template <typename SampleType>
void OAScopeComponent<SampleType>::paint (juce::Graphics& g)
{
    const auto W = (float) getWidth();
    const auto H = (float) getHeight();

    g.fillAll (backgroundColour);

    if (locked)
    {
        g.setColour (traceColourR.withAlpha (0.5f * intensity));
        g.setFont (20.0f);
        g.drawFittedText ("LOCKED", juce::Rectangle<float> (0.0f, H - 20.0f, W, 20.0f).toNearestInt(),
                          juce::Justification::centred, 1);
    }

    g.setColour (frameColour.withAlpha (0.25f * intensity));
    g.drawRect (getLocalBounds(), 1);

    // Samples are drawn as they come; one that is not finite is drawn at 0.
    const auto finite = [] (SampleType x) { return std::isfinite ((float) x) ? (float) x : 0.0f; };

    {
        const auto centre = H / 2.0f - H / 4.0f;
        const auto gain = 0.49f * H / 2.0f;
        const auto drawWave = [&] (const std::array<SampleType, fftSize>& samples, juce::Colour colour)
        {
            g.setColour (colour.withAlpha (0.9f * intensity));

            for (int i = 1; i < fftSize; ++i)
                g.drawLine (((float) (i - 1) * W) / (float) (fftSize - 1), centre - gain * finite (samples[(size_t) i - 1]),
                            ((float) i * W) / (float) (fftSize - 1), centre - gain * finite (samples[(size_t) i]));
        };

        drawWave (samplesL, traceColourL);
        drawWave (samplesR, traceColourR);
    }

    {
        constexpr int bins = fftSize / 2; // up to half the sample rate
        const auto base = 2.0f * (H / 2.0f) - 1.0f;
        const auto gain = (H / 2.0f) * intensity;
        const auto drawSpectrum = [&] (const std::array<SampleType, 2 * fftSize>& spectrum, juce::Colour colour)
        {
            g.setColour (colour.withAlpha (0.5f));

            for (int i = 1; i < bins; ++i)
                g.drawLine (((float) (i - 1) * W) / (float) (bins - 1), base - gain * (float) spectrum[(size_t) i - 1],
                            ((float) i * W) / (float) (bins - 1), base - gain * (float) spectrum[(size_t) i]);
        };

        drawSpectrum (spectrumL, traceColourL);
        drawSpectrum (spectrumR, traceColourR);
    }
}

template <typename SampleType>
void OAScopeComponent<SampleType>::mouseDown (const juce::MouseEvent&)
{
    locked = ! locked;

    if (locked)
        repaint();
    else
        repaintOwed = true;
}

template <typename SampleType>
void OAScopeComponent<SampleType>::resized() {}

template class OAScopeComponent<float>;
