#include "PluginProcessor.h"
#include "synth/ValueCurve.h"

#include <cmath>

//==============================================================================
// Filter

void kvAP::prepareFilter (double, int samplesPerBlock)
{
    filter.prepare ({ getSampleRate(), (juce::uint32) samplesPerBlock, (juce::uint32) getTotalNumOutputChannels() });
}

float kvAP::filterCutoffHzFor (float cutoff)
{
    return 80.0f + ValueCurve::curved (cutoff) * 19920.0f;
}

float kvAP::filterCutoffHzAt (float cutoff, double sampleRate)
{
    const auto hz = filterCutoffHzFor (cutoff);

    // At sample rates below 40 kHz the top of the cutoff range lies above
    // Nyquist, where the low-pass design turns unstable: keep it just below.
    return sampleRate > 0.0 ? juce::jmin (hz, (float) (sampleRate * 0.5) * 0.999f) : hz;
}

float kvAP::filterQFor (float resonance, float qMax)
{
    return ValueCurve::curved (resonance) * 256.0f * qMax + 0.01f;
}

std::array<float, 6> kvAP::computeFilterCoefficients (double sampleRate) const
{
    const auto cutoffHz = filterCutoffHzAt (filterCutoff.load(), sampleRate);
    const auto q = filterQFor (filterResonance.load(), filterQMaxValue.load());
    return juce::dsp::IIR::ArrayCoefficients<float>::makeLowPass (sampleRate, cutoffHz, q);
}

void kvAP::updateFilter()
{
    // Called on the message thread for user changes and on the audio thread for
    // modulation; the audio thread applies the new coefficients before it
    // filters the next block, without allocating.
    filterDirty = true;
}

void kvAP::applyPendingFilterCoefficients()
{
    const auto sampleRate = getSampleRate();

    // Before the device has ever run there is no rate to design for; the first
    // prepareToPlay applies the settings again.
    if (sampleRate <= 0.0 || ! filterDirty.exchange (false))
        return;

    *filter.state = computeFilterCoefficients (sampleRate);
}

std::string kvAP::filterCutoffString() const
{
    return std::to_string (renderValues.cutoffHz.load()) + " Hz";
}

//==============================================================================
// Overdrive

void kvAP::prepareOverdrive (double sampleRate, int samplesPerBlock)
{
    overdriveChain.get<preGainIndex>().setGainLinear (1.0f);
    overdriveChain.get<biasIndex>().setBias (0.4f);
    overdriveChain.get<shaperIndex>().functionToUse = std::tanh;
    *overdriveChain.get<dcBlockerIndex>().state = juce::dsp::IIR::ArrayCoefficients<float>::makeHighPass (sampleRate, 20.0f);
    overdriveChain.get<postGainIndex>().setGainLinear (0.025118863f);
    overdriveChain.prepare ({ sampleRate, (juce::uint32) samplesPerBlock, (juce::uint32) getTotalNumOutputChannels() });
    updateOverdrive();
    applyPendingOverdriveSettings();
}

void kvAP::updateOverdrive()
{
    const auto amount = overdriveAmount.load();

    if (amount == 0.0f)
    {
        overdriveBypassed = true;
        return;
    }

    // The gains are handed to the chain by the audio thread before its next block.
    overdriveDirty = true;
    overdriveBypassed = false;
}

void kvAP::applyPendingOverdriveSettings()
{
    if (! overdriveDirty.exchange (false))
        return;

    const auto amount = overdriveAmount.load();

    if (amount == 0.0f)
        return;

    overdriveChain.get<preGainIndex>().setGainDecibels (64.0f * amount);
    overdriveChain.get<postGainIndex>().setGainDecibels ((4.0f - 4.0f * amount) - 4.0f);
}
