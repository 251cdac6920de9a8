#include "AllocationCounter.h"
#include "AudioAnalysis.h"
#include "ProcessorFixture.h"
#include "state/OAStringTools.h"
#include "synth/ValueCurve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>

namespace
{
    template <typename Fn>
    void forEachVoice (SynthGroup& group, Fn&& fn)
    {
        group.forEachVoice ([&] (SynthVoice& v) { fn (v); });
    }

    int voicesPerLayer (SynthGroup& group)
    {
        return group.synths[0]->getNumVoices();
    }

    int activeVoices (SynthGroup& group)
    {
        int count = 0;
        group.forEachVoice ([&count] (SynthVoice& v) { count += v.isVoiceActive() ? 1 : 0; });
        return count;
    }

    double peakOfBoth (const juce::AudioBuffer<float>& out, int from = 0)
    {
        const auto n = out.getNumSamples() - from;
        return std::max (AudioAnalysis::peak (out.getReadPointer (0) + from, n),
                         AudioAnalysis::peak (out.getReadPointer (1) + from, n));
    }

    ::testing::AssertionResult sameSamples (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
            return ::testing::AssertionFailure() << "the buffers differ in size";

        for (int c = 0; c < a.getNumChannels(); ++c)
            for (int i = 0; i < a.getNumSamples(); ++i)
                if (a.getSample (c, i) != b.getSample (c, i))
                    return ::testing::AssertionFailure() << "channel " << c << ", sample " << i << ": "
                                                         << a.getSample (c, i) << " against " << b.getSample (c, i);

        return ::testing::AssertionSuccess();
    }
}

//==============================================================================
TEST (EngineDispatch, VoiceAndUnisonCounts)
{
    ProcessorRig rig;
    auto& p = rig.proc;

    struct Case { float v; int count; };
    for (const auto& c : { Case { 0.0f, 1 }, Case { 0.5f, 9 }, Case { 1.0f, 16 } })
    {
        rig.set ("synth1_voices", c.v);
        for (auto& synth : p.synth1.synths)
            EXPECT_EQ (synth->getNumVoices(), c.count) << c.v;
        EXPECT_EQ (p.renderValues.synth1Voices, c.count);
        EXPECT_EQ (voicesPerLayer (p.synth2), 16); // untouched

        rig.set ("synth2_unison", c.v);
        EXPECT_EQ (p.synth2.unison, c.count);
        EXPECT_EQ (p.renderValues.synth2Unison, c.count);
    }

    // New voices get the section's waveform.
    p.setModMapEntry ("synth1_oscType", "square_if");
    p.updateOscTypes();
    rig.set ("synth1_voices", 0.2f);
    forEachVoice (p.synth1, [] (SynthVoice& v) { EXPECT_EQ (v.oscType, "square_if"); });
}

TEST (EngineDispatch, RenderValuesOfTuningAndCutoff)
{
    ProcessorRig rig;
    auto& rv = rig.proc.renderValues;

    struct Case { float v; int semi; float cent; };
    for (const auto& c : { Case { 0.5f, 0, 0.0f }, Case { 1.0f, 24, 1.0f }, Case { 0.0f, -24, -1.0f } })
    {
        rig.set ("synth1_tune", c.v);
        rig.set ("synth2_microtune", c.v);
        EXPECT_EQ (rv.synth1TuneSemi, c.semi);
        EXPECT_FLOAT_EQ (rv.synth2TuneCent, c.cent);
    }

    // The cutoff read-out is the frequency the filter runs at, in whole Hz:
    // the same curve as the coefficients, not a line through the knob's range.
    struct CutoffCase { double rate; float v; int hz; };
    const CutoffCase cutoffCases[] {
        { 48000.0, 0.0f, 80 },      { 48000.0, 0.25f, 1324 }, { 48000.0, 0.5f, 3078 },
        { 48000.0, 0.9f, 10040 },   { 48000.0, 0.99f, 20000 }, { 48000.0, 1.0f, 20000 },
        { 32000.0, 1.0f, 15984 }, // kept below Nyquist, as the filter is
    };

    for (const auto& c : cutoffCases)
    {
        ProcessorRig at (c.rate, 256);
        at.set ("cutoff", c.v);
        EXPECT_EQ (at.proc.renderValues.cutoffHz, c.hz) << c.rate << " " << c.v;
        EXPECT_EQ (at.proc.filterCutoffString(), std::to_string (c.hz) + " Hz") << c.rate << " " << c.v;

        // The coefficients the audio thread takes are designed for that frequency.
        at.render (256);
        const auto stored = at.proc.getParamValue ("cutoff");
        const auto designed = juce::dsp::IIR::Coefficients<float>::makeLowPass (c.rate, kvAP::filterCutoffHzAt (stored, c.rate),
                                                                                kvAP::filterQFor (at.proc.getParamValue ("res"),
                                                                                                  at.proc.getParamValue ("filterQMax")));
        EXPECT_EQ (c.hz, (int) kvAP::filterCutoffHzAt (stored, c.rate));
        for (int i = 0; i < designed->coefficients.size(); ++i)
            EXPECT_EQ (at.proc.filter.state->coefficients[i], designed->coefficients[i]) << c.rate << " " << c.v;
    }
}

TEST (EngineDispatch, GlideIsCappedAt099)
{
    ProcessorRig rig;
    auto& p = rig.proc;
    auto glideOfSomeVoice = [&p] { return static_cast<float> (dynamic_cast<SynthVoice*> (p.synth1.synths[3]->getVoice (5))->glide); };

    rig.set ("synth1_glide", 1.0f);
    const auto atOne = glideOfSomeVoice();
    rig.set ("synth1_glide", 0.99f);
    const auto at099 = glideOfSomeVoice();

    EXPECT_EQ (atOne, at099);
    EXPECT_NEAR (atOne, 0.982f, 0.001f);
    forEachVoice (p.synth2, [] (SynthVoice& v) { EXPECT_EQ (static_cast<float> (v.glide), 0.0f); });
}

TEST (EngineDispatch, DetuneSpreadsAcrossLayersAndVolumeSharesOut)
{
    ProcessorRig rig;
    auto& p = rig.proc;
    rig.set ("synth1_unison", 0.2f); // roundf (3) + 1 = 4 layers
    ASSERT_EQ (p.synth1.unison, 4);

    rig.set ("synth1_detune", 0.6f);
    rig.set ("synth1_volume", 0.8f);

    for (int layer = 0; layer < 16; ++layer)
    {
        auto expectedOffset = 0.0f;
        for (int j = 0; j < layer; ++j)
            expectedOffset += 0.6f / 4.0f;

        p.synth1.forEachVoiceOfLayer (layer, [&] (SynthVoice& v)
        {
            EXPECT_FLOAT_EQ (static_cast<float> (v.detune), expectedOffset) << layer;
            EXPECT_FLOAT_EQ (static_cast<float> (v.volume), 0.8f / 4.0f);
        });
    }

    // A unison change alone keeps the volume and detune of the old count ...
    rig.set ("synth1_unison", 1.0f);
    p.synth1.forEachVoiceOfLayer (1, [] (SynthVoice& v) { EXPECT_FLOAT_EQ (static_cast<float> (v.volume), 0.2f); });

    // ... until everything is applied again.
    p.updateAllParams();
    p.synth1.forEachVoiceOfLayer (1, [] (SynthVoice& v)
    {
        EXPECT_FLOAT_EQ (static_cast<float> (v.volume), 0.8f / 16.0f);
        EXPECT_FLOAT_EQ (static_cast<float> (v.detune), 0.6f / 16.0f);
    });
}

TEST (EngineDispatch, BulkUpdateGatesUnforcedChanges)
{
    ProcessorRig rig;
    auto& p = rig.proc;
    rig.set ("cutoff", 0.5f);
    ASSERT_EQ (p.renderValues.cutoffHz, 3078);

    p.bulkUpdate = true;
    rig.set ("cutoff", 0.0f);
    EXPECT_EQ (p.renderValues.cutoffHz, 3078);

    p.updateSynth ("cutoff", 0.0f, true);
    EXPECT_EQ (p.renderValues.cutoffHz, 80);
    p.bulkUpdate = false;
}

TEST (EngineDispatch, ValuesAreClampedAndUnknownIdsIgnored)
{
    // Values outside 0..1 act as the nearest end of the range, in the filter
    // itself as in its read-out; a value that is not a number changes nothing.
    {
        ProcessorRig rig (48000.0, 256);
        auto& p = rig.proc;
        const auto filterAfter = [&] (float cutoff)
        {
            p.updateSynth ("cutoff", cutoff, false);
            rig.render (256); // the audio thread takes the new coefficients
            const auto& c = p.filter.state->coefficients;
            return std::vector<float> (c.begin(), c.end());
        };

        const auto atOne = filterAfter (1.0f);
        const auto atZero = filterAfter (0.0f);
        ASSERT_NE (atOne, atZero);

        struct Case { float value; const std::vector<float>& filter; int hz; };
        const Case cases[] {
            { 7.0f, atOne, 20000 },
            { std::numeric_limits<float>::infinity(), atOne, 20000 },
            { -3.0f, atZero, 80 },
            { -std::numeric_limits<float>::infinity(), atZero, 80 },
            { std::numeric_limits<float>::quiet_NaN(), atZero, 80 }, // the last good value stays
        };

        for (const auto& c : cases)
        {
            EXPECT_EQ (filterAfter (c.value), c.filter) << c.value;
            EXPECT_EQ (p.renderValues.cutoffHz, c.hz) << c.value;
        }

        // Not a number from the host's automation: the sound stays finite.
        rig.set ("res", std::numeric_limits<float>::quiet_NaN());
        const auto out = rig.renderHeld ({ 60 }, 4800);
        EXPECT_TRUE (AudioAnalysis::allFinite (out.getReadPointer (0), out.getNumSamples()));
        EXPECT_GT (AudioAnalysis::rms (out.getReadPointer (0), out.getNumSamples()), 0.01);
    }

    // Ids outside the table (a hand-edited patch's mapping, a name that only
    // looks like an id) reach nothing: the sound is that of a twin that never
    // saw them, sample for sample.
    ProcessorRig changed (48000.0, 256), twin (48000.0, 256);

    for (auto* id : { "no_such_param", "", "_", "synth1", "synth1_", "synth1_vol", "Cutoff", "cutoff ",
                      "lfo1_mappedParam", "synth2_oscType", "fx_delay" })
    {
        changed.proc.updateSynth (id, 0.9f, true);
        changed.proc.updateSynth (id, 0.0f, false);
    }

    EXPECT_TRUE (sameSamples (changed.renderHeld ({ 48, 60, 67 }, 9600), twin.renderHeld ({ 48, 60, 67 }, 9600)));
}

TEST (EngineDispatch, SplitRule)
{
    using OAStringTools::split;
    EXPECT_EQ (split ("synth1_attack", "_"), juce::Array<juce::String> ({ "synth1", "attack" }));
    EXPECT_EQ (split ("velMin", "_"), juce::Array<juce::String> ({ "velMin" }));
    EXPECT_EQ (split ("a__b", "_"), juce::Array<juce::String> ({ "a", "", "b" }));
    EXPECT_EQ (split ("", "_"), juce::Array<juce::String> ({ "" }));
    EXPECT_EQ (split ("lfo1_retrigAuto", "_"), juce::Array<juce::String> ({ "lfo1", "retrigAuto" }));
}

// Text from outside must be well-formed UTF-8 before it becomes a string.
TEST (EngineText, OnlyWellFormedUtf8Passes)
{
    struct Case { const char* what; std::string bytes; bool wellFormed; };
    const Case cases[] {
        { "empty",                         "",                        true },
        { "ASCII and a zero byte",         std::string ("a\0b", 3),   true },
        { "two, three and four bytes",     "\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb9", true },
        { "the last code point",           "\xf4\x8f\xbf\xbf",        true },
        { "overlong two bytes",            "\xc1\xbd",                false },
        { "overlong zero",                 "\xc0\x80",                false },
        { "overlong three bytes",          "\xe0\x9f\xbf",            false },
        { "overlong four bytes",           "\xf0\x8f\xbf\xbf",        false },
        { "a surrogate",                   "\xed\xa0\x80",            false },
        { "above U+10FFFF",                "\xf4\x90\x80\x80",        false },
        { "five-byte form",                "\xf8\x88\x80\x80\x80",    false },
        { "lone continuation byte",        "a\x80",                   false },
        { "cut short at the end",          "a\xe2\x82",               false },
        { "a lead byte then ASCII",        "\xe2" "a" "\x82",          false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (OAStringTools::isWellFormedUtf8 (c.bytes.data(), c.bytes.size()), c.wellFormed) << c.what;
}

//==============================================================================
TEST (EngineFilter, CutoffAndQTables)
{
    struct CutoffCase { float v, hz; };
    for (const auto& c : { CutoffCase { 0.0f, 80.0f }, CutoffCase { 0.5f, 3078.26f }, CutoffCase { 0.9f, 10040.0f },
                           CutoffCase { 0.99f, 20000.0f }, CutoffCase { 1.0f, 20000.0f } })
        EXPECT_NEAR (kvAP::filterCutoffHzFor (c.v), c.hz, 0.01f) << c.v;

    struct QCase { float res, qMax, q; };
    for (const auto& c : { QCase { 0.0f, 0.25f, 0.01f }, QCase { 0.1f, 0.25f, 1.474f }, QCase { 0.5f, 0.25f, 9.643f },
                           QCase { 0.99f, 0.25f, 64.01f }, QCase { 1.0f, 0.25f, 64.01f }, QCase { 0.0f, 1.0f, 0.01f },
                           QCase { 0.1f, 1.0f, 5.87f }, QCase { 0.5f, 1.0f, 38.54f }, QCase { 0.99f, 1.0f, 256.01f },
                           QCase { 0.7f, 0.0f, 0.01f } })
        EXPECT_NEAR (kvAP::filterQFor (c.res, c.qMax), c.q, 0.005f) << c.res << " " << c.qMax;

    // The top of the curve is exact: the 0.99 cap is taken in double, so 0.99
    // (a float a little above it) and 1.0 give 20000 Hz and Q 256.01, not a
    // few thousandths more, and the stage times reach exactly their maximum.
    for (const float top : { 0.99f, 1.0f })
    {
        EXPECT_EQ (ValueCurve::curved (top), 1.0f) << top;
        EXPECT_EQ (kvAP::filterCutoffHzFor (top), 20000.0f) << top;
        EXPECT_EQ (kvAP::filterQFor (top, 1.0f), 256.01f) << top;
    }

    EXPECT_EQ (ValueCurve::curved (0.0f), 0.0f);

    SynthVoice voice;
    voice.setADSR ("attack", 0.99f);
    voice.setADSR ("release", 1.0f);
    voice.setADSR ("time", 0.5f);
    EXPECT_EQ (voice.getEnvelopeParameters().attack, 20.0f);  // 1 x time 0.5 x scaling 40
    EXPECT_EQ (voice.getEnvelopeParameters().release, 20.0f);
}

TEST (EngineFilter, CoefficientsEqualTheFrameworksLowPassDesign)
{
    for (auto rate : { 44100.0, 48000.0, 96000.0 })
    {
        ProcessorRig rig (rate, 256);
        auto& p = rig.proc;

        for (float cutoff : { 0.0f, 0.3f, 0.9f, 1.0f })
        {
            rig.set ("cutoff", cutoff);
            rig.set ("res", 0.4f);
            rig.render (256); // the audio thread takes the new coefficients

            const auto storedCutoff = p.apvts.getRawParameterValue ("cutoff")->load();
            const auto storedRes = p.apvts.getRawParameterValue ("res")->load();
            const auto storedQMax = p.apvts.getRawParameterValue ("filterQMax")->load();
            auto expected = juce::dsp::IIR::Coefficients<float>::makeLowPass (rate, kvAP::filterCutoffHzFor (storedCutoff),
                                                                              kvAP::filterQFor (storedRes, storedQMax));
            ASSERT_EQ (p.filter.state->coefficients.size(), expected->coefficients.size());
            for (int i = 0; i < expected->coefficients.size(); ++i)
                EXPECT_EQ (p.filter.state->coefficients[i], expected->coefficients[i]) << rate << " " << cutoff;
        }
    }
}

TEST (EngineFilter, StaysStableWhenTheCutoffIsAboveNyquist)
{
    ProcessorRig rig (32000.0, 256);
    rig.set ("cutoff", 1.0f);
    rig.set ("res", 0.9f);
    rig.set ("filterQMax", 1.0f);
    auto out = rig.renderHeld ({ 60, 64, 67 }, 32000);
    EXPECT_TRUE (AudioAnalysis::allFinite (out.getReadPointer (0), out.getNumSamples()));
    EXPECT_LT (AudioAnalysis::peak (out.getReadPointer (0), out.getNumSamples()), 50.0);
}

//==============================================================================
namespace
{
    // A rig whose oscillator B is silent and whose filter is wide open, so that
    // output-stage tests see oscillator A alone.
    void quietOscillatorB (ProcessorRig& rig)
    {
        rig.set ("synth2_volume", 0.0f);
        rig.set ("cutoff", 1.0f);
        rig.set ("masterVol", 1.0f);
    }
}

TEST (EngineOutput, NoteSoundsAtItsPitchInBothChannels)
{
    ProcessorRig rig;
    quietOscillatorB (rig);
    auto out = rig.renderHeld ({ 69 }, 48000 * 2);

    for (int c = 0; c < 2; ++c)
    {
        const auto* x = out.getReadPointer (c) + 4800; // past the attack
        EXPECT_NEAR (AudioAnalysis::frequencyFromCrossings (x, 48000, 48000.0), 440.0, 0.5) << c;
        EXPECT_GT (AudioAnalysis::rms (x, 48000), 0.05) << c;
    }
}

TEST (EngineOutput, BothOscillatorsSound)
{
    // Oscillator B an octave above A, so each is heard at its own frequency;
    // each volume knob turns its own oscillator on and off, and only that one.
    struct Case { float volumeA, volumeB; };
    for (const auto& c : { Case { 0.5f, 0.5f }, Case { 0.5f, 0.0f }, Case { 0.0f, 0.5f }, Case { 0.0f, 0.0f } })
    {
        SCOPED_TRACE (juce::String (c.volumeA) + " / " + juce::String (c.volumeB));
        ProcessorRig rig;
        rig.set ("masterVol", 1.0f);
        rig.set ("cutoff", 1.0f);
        rig.set ("synth1_volume", c.volumeA);
        rig.set ("synth2_volume", c.volumeB);
        rig.set ("synth2_tune", 0.5f + 12.0f / 48.0f); // an octave up
        const auto out = rig.renderHeld ({ 57 }, 48000);

        for (int channel = 0; channel < 2; ++channel)
        {
            const auto* x = out.getReadPointer (channel) + 4800;
            const int n = 24000;
            // A sine of amplitude a gives about (a n / 4)^2 through the Hann window.
            const auto amplitude = [&] (double f) { return 4.0 * std::sqrt (AudioAnalysis::powerAt (x, n, f, 48000.0)) / n; };
            const auto a = amplitude (220.0), b = amplitude (440.0);

            EXPECT_EQ (a > 0.05, c.volumeA > 0.0f) << "oscillator A: " << a << ", channel " << channel;
            EXPECT_EQ (b > 0.05, c.volumeB > 0.0f) << "oscillator B: " << b << ", channel " << channel;
            EXPECT_LT (std::min (a, b), 0.05 + (c.volumeA > 0.0f && c.volumeB > 0.0f ? 1.0 : 0.0));
        }

        if (c.volumeA > 0.0f && c.volumeB == 0.0f)
        {
            EXPECT_NEAR (AudioAnalysis::frequencyFromCrossings (out.getReadPointer (0) + 4800, 24000, 48000.0), 220.0, 0.5);
        }

        if (c.volumeA == 0.0f && c.volumeB > 0.0f)
        {
            EXPECT_NEAR (AudioAnalysis::frequencyFromCrossings (out.getReadPointer (0) + 4800, 24000, 48000.0), 440.0, 1.0);
        }
    }
}

TEST (EngineOutput, VelocityAndEnvelopeTimeReachOscillatorB)
{
    // Oscillator B alone: the global velocity and envelope-time settings must
    // shape its notes as they do oscillator A's.
    auto levelOfB = [] (std::initializer_list<std::pair<const char*, float>> settings, juce::uint8 velocity, int from, int length)
    {
        ProcessorRig rig;
        rig.set ("synth1_volume", 0.0f);
        rig.set ("masterVol", 1.0f);
        rig.set ("cutoff", 1.0f);
        rig.set ("synth2_attack", 0.0f);

        for (const auto& [id, value] : settings)
            rig.set (id, value);

        const auto out = rig.renderHeld ({ 69 }, from + length, velocity);
        return AudioAnalysis::rms (out.getReadPointer (0) + from, length);
    };

    // Velocity: gain + max (min, min (max, velocity)), as a share of full velocity.
    struct VelocityCase { float velMin, velMax, velGain; double softOverLoud; };
    const VelocityCase velocityCases[] {
        { 0.0f, 1.0f, 0.0f, 32.0 / 127.0 },            // follows the velocity
        { 1.0f, 1.0f, 0.0f, 1.0 },                     // floor at full: every note alike
        { 0.0f, 0.1f, 0.0f, 1.0 },                     // ceiling below both: alike again
        { 0.0f, 1.0f, 1.0f, (1.0 + 32.0 / 127.0) / 2.0 }, // gain added to both
    };

    for (const auto& c : velocityCases)
    {
        const auto settings = { std::pair<const char*, float> { "velMin", c.velMin }, { "velMax", c.velMax }, { "velGain", c.velGain } };
        const auto soft = levelOfB (settings, 32, 4800, 9600);
        const auto loud = levelOfB (settings, 127, 4800, 9600);
        ASSERT_GT (loud, 0.01);
        EXPECT_NEAR (soft / loud, c.softOverLoud, 0.01) << c.velMin << " " << c.velMax << " " << c.velGain;
    }

    // Envelope time: with attack 0.1 a note takes about 0.9 s to rise at
    // "adsrTime" 1 and under 0.05 s at 0.05.
    const auto quick = levelOfB ({ { "synth2_attack", 0.1f }, { "adsrTime", 0.05f } }, 100, 9600, 4800);
    const auto slow = levelOfB ({ { "synth2_attack", 0.1f }, { "adsrTime", 1.0f } }, 100, 9600, 4800);
    ASSERT_GT (quick, 0.05);
    EXPECT_LT (slow / quick, 0.4);
    EXPECT_GT (slow / quick, 0.1);
}

TEST (EngineOutput, MasterVolumeIsLinear)
{
    auto renderAt = [] (float volume)
    {
        ProcessorRig rig;
        quietOscillatorB (rig);
        rig.set ("masterVol", volume);
        return rig.renderHeld ({ 60 }, 24000);
    };

    const auto full = renderAt (1.0f);
    const auto half = renderAt (0.5f);
    const auto none = renderAt (0.0f);

    const auto rmsFull = AudioAnalysis::rms (full.getReadPointer (0), full.getNumSamples());
    ASSERT_GT (rmsFull, 0.05);
    EXPECT_NEAR (AudioAnalysis::rms (half.getReadPointer (0), half.getNumSamples()) / rmsFull, 0.5, 1e-6);
    EXPECT_EQ (AudioAnalysis::peak (none.getReadPointer (0), none.getNumSamples()), 0.0);
}

TEST (EngineOutput, LimiterSwitchesOnAbove05)
{
    auto loudPeak = [] (float limiter)
    {
        ProcessorRig rig;
        rig.set ("masterVol", 1.0f);
        rig.set ("cutoff", 1.0f);
        rig.set ("synth1_unison", 1.0f);  // 16 layers at the old per-layer volume: very loud
        rig.set ("synth1_volume", 1.0f);
        rig.set ("limiter", limiter);
        auto out = rig.renderHeld ({ 48, 52, 55, 60 }, 24000, 127);
        return std::max (AudioAnalysis::peak (out.getReadPointer (0), out.getNumSamples()),
                         AudioAnalysis::peak (out.getReadPointer (1), out.getNumSamples()));
    };

    EXPECT_GT (loudPeak (0.5f), 1.5);
    EXPECT_LE (loudPeak (0.501f), 1.0);
    EXPECT_LE (loudPeak (1.0f), 1.0);
}

TEST (EngineOutput, OverdriveOffLeavesSignalAndFullDriveSquaresIt)
{
    ProcessorRig rig;
    auto& p = rig.proc;
    rig.set ("fx_overdrive", 0.0f);
    EXPECT_TRUE (p.overdriveBypassed);
    rig.set ("fx_overdrive", 1.0f);
    EXPECT_FALSE (p.overdriveBypassed);

    // Run the chain on a 0.1 sine directly: close to a square of height 10^(-4/20).
    rig.render (256); // the audio thread takes the new gains
    const int n = 48000;
    juce::AudioBuffer<float> buffer (2, n);
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < 2; ++c)
            buffer.setSample (c, i, 0.1f * std::sin (2.0f * juce::MathConstants<float>::pi * 1000.0f * (float) i / 48000.0f));

    juce::dsp::AudioBlock<float> block (buffer);
    p.overdriveChain.process (juce::dsp::ProcessContextReplacing<float> (block));

    // Past the high-pass's settling, the output sits near +-0.631 (its 20 Hz
    // corner tilts each half cycle by a few per cent) with no offset.
    const auto* y = buffer.getReadPointer (0) + 24000;
    int nearLevel = 0;
    double mean = 0.0;
    for (int i = 0; i < 24000; ++i)
    {
        mean += y[i] / 24000.0;
        if (std::abs (std::abs (y[i]) - 0.631f) < 0.06f)
            ++nearLevel;
    }

    EXPECT_GT (nearLevel, 24000 * 8 / 10);
    EXPECT_NEAR (mean, 0.0, 0.01);
    EXPECT_LT (AudioAnalysis::peak (y, 24000), 0.75);

    rig.set ("fx_overdrive", 0.0f);
    EXPECT_TRUE (p.overdriveBypassed);
}

TEST (EngineOutput, OverdriveAtZeroLeavesTheSamplesAlone)
{
    // With "fx_overdrive" back at 0 the output is exactly the voices through
    // the filter and the master volume, built here from the synthesis half
    // of a twin processor.
    ProcessorRig rig (48000.0, 256), twin (48000.0, 256);
    rig.set ("fx_overdrive", 0.4f);
    rig.set ("fx_overdrive", 0.0f);

    const auto notes = [] (juce::MidiBuffer& midi, int start, int)
    {
        if (start == 0)
            for (auto note : { 45, 57, 64 })
                midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 110), 0);
    };

    const int total = 38 * 256; // whole blocks
    const auto out = rig.render (total, notes);

    juce::AudioBuffer<float> expected (2, total), block (2, twin.blockSize);
    juce::MidiBuffer midi;
    const juce::ScopedNoDenormals noDenormals; // as the processor's own block

    for (int pos = 0; pos < total; pos += twin.blockSize)
    {
        midi.clear();
        notes (midi, pos, twin.blockSize);
        twin.proc.process (block, midi);

        juce::dsp::AudioBlock<float> audio (block);
        twin.proc.filter.process (juce::dsp::ProcessContextReplacing<float> (audio));
        block.applyGain (twin.proc.getParamValue ("masterVol"));

        for (int c = 0; c < 2; ++c)
            expected.copyFrom (c, pos, block, c, 0, twin.blockSize);
    }

    ASSERT_GT (AudioAnalysis::rms (expected.getReadPointer (0), total), 0.01);
    EXPECT_TRUE (sameSamples (out, expected));
}

TEST (EngineOutput, StagesRunInTheirOrder)
{
    // Master volume comes before the limiter: at volume 0.5 a signal far above
    // the limit comes out just under full scale, not at half of it.
    auto loudPeak = [] (float limiter)
    {
        ProcessorRig rig;
        rig.set ("masterVol", 0.5f);
        rig.set ("cutoff", 1.0f);
        rig.set ("synth1_unison", 1.0f);
        rig.set ("synth1_volume", 1.0f);
        rig.set ("limiter", limiter);
        return peakOfBoth (rig.renderHeld ({ 48, 52, 55, 60 }, 24000, 127), 4800);
    };

    ASSERT_GT (loudPeak (0.0f), 1.2); // above the limit even at half volume
    const auto limited = loudPeak (1.0f);
    EXPECT_LE (limited, 1.0);
    EXPECT_GT (limited, 0.8); // the limiter's ceiling (-1 dB, about 0.89), not half of it

    // The overdrive comes before the filter: the filter takes away the
    // overtones the overdrive adds, so far above the cutoff little is left.
    ProcessorRig rig;
    rig.set ("masterVol", 1.0f);
    rig.set ("synth2_volume", 0.0f);
    rig.set ("fx_overdrive", 1.0f);
    rig.set ("cutoff", 0.2f); // about 1045 Hz
    const auto out = rig.renderHeld ({ 45 }, 48000); // 110 Hz
    const auto* x = out.getReadPointer (0) + 9600;
    const int n = 24000;
    const auto fundamental = AudioAnalysis::powerAt (x, n, 110.0, 48000.0);
    const auto overtone = AudioAnalysis::powerAt (x, n, 41.0 * 110.0, 48000.0); // 4510 Hz

    ASSERT_GT (AudioAnalysis::rms (x, n), 0.1);
    // A square's 41st overtone is 1/41 of its fundamental (0.024); the filter
    // leaves about a twentieth of that.
    EXPECT_LT (std::sqrt (overtone / fundamental), 0.006);
}

TEST (EngineOutput, UnisonDetuneMakesTheSoundLouderAndWider)
{
    // Loudness and spectral width (power-weighted spread around 440 Hz) of note 69.
    auto measure = [] (bool detuned)
    {
        ProcessorRig rig;
        quietOscillatorB (rig);

        if (detuned)
        {
            rig.set ("synth1_unison", 1.0f);
            rig.set ("synth1_detune", 1.0f); // layers 1/16 semitone apart, beating within the window
        }

        auto out = rig.renderHeld ({ 69 }, 48000 * 3);
        const auto* x = out.getReadPointer (0) + 9600;
        const int n = 96000;

        double total = 0.0, weighted = 0.0, weightedSquare = 0.0;
        for (double f = 425.0; f <= 480.0; f += 0.25)
        {
            const auto power = AudioAnalysis::powerAt (x, n, f, 48000.0);
            total += power;
            weighted += power * f;
            weightedSquare += power * f * f;
        }

        const auto centre = weighted / total;
        return std::pair<double, double> { AudioAnalysis::rms (x, n), std::sqrt (weightedSquare / total - centre * centre) };
    };

    const auto plain = measure (false);
    const auto wide = measure (true);
    EXPECT_GT (wide.first, plain.first * 2.0);
    EXPECT_LT (plain.second, 1.0);
    EXPECT_GT (wide.second, 4.0);
}

//==============================================================================
TEST (EngineRenderLoop, ActiveNotesCounting)
{
    ProcessorRig rig;
    auto& p = rig.proc;

    rig.render (512, [] (juce::MidiBuffer& m, int start, int)
    {
        if (start == 0)
        {
            m.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 10);
            m.addEvent (juce::MidiMessage::noteOff (1, 60), 20);
        }
    });
    EXPECT_EQ (p.activeNotes, 0);

    rig.render (512, [] (juce::MidiBuffer& m, int, int) { m.addEvent (juce::MidiMessage::noteOff (1, 61), 0); });
    EXPECT_EQ (p.activeNotes, 0);

    rig.render (512, [] (juce::MidiBuffer& m, int, int)
    {
        m.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
        m.addEvent (juce::MidiMessage::noteOn (1, 64, (juce::uint8) 100), 1);
        m.addEvent (juce::MidiMessage::noteOn (1, 67, (juce::uint8) 0), 2); // a note-off in disguise
    });
    EXPECT_EQ (p.activeNotes, 1);

    // The on-screen keyboard's notes count like external ones.
    p.keyboardState.noteOn (1, 72, 0.8f);
    rig.render (512);
    EXPECT_EQ (p.activeNotes, 2);
}

TEST (EngineRenderLoop, OnScreenKeyboardNotesLeaveInTheHostsBuffer)
{
    // The host (and the standalone's MIDI output) reads the block's MIDI back
    // from the buffer it passed: the on-screen keyboard's notes must be there,
    // next to the host's own, in every block (the first swaps a reserved
    // buffer in, later ones merge into it).
    ProcessorRig rig;
    auto& p = rig.proc;
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi; // reused block after block, as hosts do

    for (int block = 0; block < 4; ++block)
    {
        SCOPED_TRACE (block);
        midi.clear();
        midi.addEvent (juce::MidiMessage::noteOn (1, 60 + block, (juce::uint8) 100), 17);
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 1, 64), 600); // past the block: still handed back
        p.keyboardState.noteOn (1, 72 + block, 0.8f);

        p.processBlock (buffer, midi);

        std::vector<std::pair<int, int>> noteOns;
        int controllers = 0;
        for (const auto metadata : midi)
        {
            const auto message = metadata.getMessage();
            if (message.isNoteOn())
                noteOns.emplace_back (message.getNoteNumber(), metadata.samplePosition);
            controllers += message.isController() ? 1 : 0;
        }

        ASSERT_EQ (noteOns.size(), 2u);
        EXPECT_EQ (controllers, 1);
        EXPECT_NE (std::find (noteOns.begin(), noteOns.end(), std::make_pair (60 + block, 17)), noteOns.end());
        EXPECT_TRUE (noteOns[0].first == 72 + block || noteOns[1].first == 72 + block);
    }

    // A block with neither hands back nothing.
    midi.clear();
    p.processBlock (buffer, midi);
    EXPECT_TRUE (midi.isEmpty());
}

TEST (EngineRenderLoop, OnScreenKeyboardNotesSound)
{
    ProcessorRig rig;
    rig.proc.keyboardState.noteOn (1, 69, 0.8f);
    auto out = rig.render (24000);
    EXPECT_GT (AudioAnalysis::rms (out.getReadPointer (0) + 4800, 19200), 0.01);
}

TEST (EngineRenderLoop, HistoryFillsAfterOneLengthOfOutput)
{
    ProcessorRig rig (48000.0, 480);
    auto& p = rig.proc;
    rig.render (2400);
    EXPECT_FALSE (p.historyFull);
    EXPECT_EQ (p.historyWritePos[0], 2400);
    rig.render (480);
    EXPECT_TRUE (p.historyFull);
    EXPECT_EQ (p.historyWritePos[0], 480); // wrapped after the 2400th sample
}

TEST (EngineRenderLoop, MonoOutputFeedsOnlyTheFirstScopeAndRing)
{
    ProcessorRig rig (48000.0, 512, 1);
    auto& p = rig.proc;
    ASSERT_EQ (p.getTotalNumOutputChannels(), 1);
    rig.set ("masterVol", 1.0f);
    rig.renderHeld ({ 69 }, 48000);

    EXPECT_GT (p.scopeFifos[0].getNumReady(), 0);
    EXPECT_EQ (p.scopeFifos[1].getNumReady(), 0);
    EXPECT_GT (p.historyWritePos[0], 0);
    EXPECT_EQ (p.historyWritePos[1], 0);
}

//==============================================================================
TEST (EngineScope, FramesStartRightAfterARisingCrossing)
{
    ScopeFifo fifo;
    ScopeCapture capture (fifo);

    // A slow sine, fed in blocks of 300: every frame begins just after it
    // crosses 0.005 upwards.
    std::vector<float> signal (48000);
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] = 0.5f * std::sin (2.0f * juce::MathConstants<float>::pi * 50.0f * (float) i / 48000.0f);

    for (size_t pos = 0; pos < signal.size(); pos += 300)
        capture.process (signal.data() + pos, (int) juce::jmin<size_t> (300, signal.size() - pos));

    ASSERT_EQ (fifo.getNumReady(), 4); // full: later frames were dropped

    ScopeFifo::Frame frame;
    while (fifo.pop (frame))
    {
        // Find where the frame sits in the signal.
        size_t start = 0;
        for (size_t i = 1; i + 512 < signal.size(); ++i)
            if (std::equal (frame.begin(), frame.end(), signal.begin() + (long) i)) { start = i; break; }

        ASSERT_GT (start, 0u);
        EXPECT_GE (signal[start - 1], 0.005f);
        EXPECT_LT (signal[start - 2], 0.005f);
    }
}

TEST (EngineScope, NoFramesWithoutARisingCrossing)
{
    for (float level : { 0.001f, 0.5f })
    {
        ScopeFifo fifo;
        ScopeCapture capture (fifo);
        std::vector<float> constant (4096, level);
        capture.process (constant.data(), (int) constant.size());
        EXPECT_EQ (fifo.getNumReady(), 0) << level;
    }
}

//==============================================================================
TEST (EngineRealTime, ProcessBlockDoesNotAllocateWhileParametersChange)
{
    if (! AllocationScope::isAvailable())
        GTEST_SKIP() << "allocation counting is not available in sanitizer builds";

    ProcessorRig rig (48000.0, 256);
    auto& p = rig.proc;
    rig.set ("synth1_unison", 0.3f);
    rig.set ("fx_overdrive", 0.2f);
    rig.set ("limiter", 1.0f);

    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi; // the host's buffer, with no room of its own: the processor's reserve serves
    std::atomic<bool> running { true };
    std::atomic<size_t> allocations { 0 };
    std::atomic<int> blocks { 0 };

    std::thread audio ([&]
    {
        // Warm up: the first notes let the framework size its voice lists.
        for (int i = 0; i < 20; ++i)
        {
            midi.clear();
            if (i < 8)
                midi.addEvent (juce::MidiMessage::noteOn (1, 48 + i * 3, (juce::uint8) 90), i);
            p.processBlock (buffer, midi);
        }

        AllocationScope counter;
        int i = 0;
        while (running || blocks < 400)
        {
            midi.clear();
            if (i % 50 == 0)
                midi.addEvent (juce::MidiMessage::noteOff (1, 48 + (i / 50 % 8) * 3), 3);
            if (i % 50 == 25)
                midi.addEvent (juce::MidiMessage::noteOn (1, 48 + (i / 50 % 8) * 3, (juce::uint8) 90), 7);
            midi.addEvent (juce::MidiMessage::pitchWheel (1, 8192 + (i % 100) * 40), 11);
            p.processBlock (buffer, midi);
            ++i;
            ++blocks;
        }
        allocations = counter.allocations();
    });

    juce::Random random (42);
    for (int i = 0; i < 2000; ++i)
    {
        const auto& param = p.paramMan.params[(size_t) random.nextInt ((int) p.paramMan.params.size())];
        rig.set (param.paramId, random.nextFloat());

        // The on-screen keyboard plays too; its notes join the host's buffer.
        if (i % 40 == 0)
            p.keyboardState.noteOn (1, 60 + i / 40 % 12, 0.7f);
        if (i % 40 == 20)
            p.keyboardState.noteOff (1, 60 + i / 40 % 12, 0.0f);
        if (i % 200 == 0)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }

    running = false;
    audio.join();
    EXPECT_GE (blocks.load(), 400);
    EXPECT_EQ (allocations.load(), 0u);
}

TEST (EngineDispatch, NewVoicesTakeTheSectionsSettings)
{
    ProcessorRig rig;
    auto& p = rig.proc;
    rig.set ("synth2_volume", 0.0f);     // oscillator A alone
    rig.set ("synth1_voices", 0.0f);
    rig.set ("synth1_tune", 0.75f);      // +12 semitones
    rig.set ("synth1_attack", 0.3f);
    rig.set ("synth1_volume", 0.8f);
    rig.set ("velMin", 0.4f);
    p.setModMapEntry ("synth1_oscType", "square_if");
    p.updateOscTypes();

    rig.set ("synth1_voices", 0.2f); // 1 -> 4 voices per layer
    ASSERT_EQ (p.synth1.synths[0]->getNumVoices(), 4);

    p.synth1.forEachVoice ([] (SynthVoice& v)
    {
        EXPECT_FLOAT_EQ (static_cast<float> (v.tuneSemi), 0.75f);
        EXPECT_FLOAT_EQ (static_cast<float> (v.rawAttack), 0.3f);
        EXPECT_FLOAT_EQ (static_cast<float> (v.volume), 0.8f);
        EXPECT_FLOAT_EQ (static_cast<float> (v.velMin), 0.4f);
        EXPECT_EQ (v.currentWave.load()->id, "square_if");
    });

    // Note 57 on four channels: one voice each, the three new ones included,
    // all an octave up (220 Hz becomes 440). One voice left at the note's own
    // pitch would put a 220 Hz period into the sum.
    auto out = rig.render (24000, [] (juce::MidiBuffer& midi, int start, int)
    {
        if (start == 0)
            for (int channel = 1; channel <= 4; ++channel)
                midi.addEvent (juce::MidiMessage::noteOn (channel, 57, (juce::uint8) 100), 0);
    });

    EXPECT_EQ (activeVoices (p.synth1), 4);
    const auto* x = out.getReadPointer (0) + 19200; // the attack is over
    EXPECT_NEAR (AudioAnalysis::frequencyFromCrossings (x, 4800, 48000.0), 440.0, 1.0);
    EXPECT_GT (AudioAnalysis::rms (x, 4800), 0.02);
}

TEST (EngineDispatch, ModulatedVoiceCountStaysPlayable)
{
    ProcessorRig rig (48000.0, 256);
    auto& p = rig.proc;
    p.setModMapEntry ("synth1_oscType", "sawtooth_og");
    p.updateOscTypes();
    rig.set ("lfo1_rate", 1.0f); // fast, so the count swings within the render
    rig.set ("lfo1_factor", 1.0f);
    rig.set ("synth1_voices", 0.0f);
    p.setModMapEntry ("lfo1_mappedParam", "synth1_voices");

    auto out = rig.renderHeld ({ 48, 52, 55, 59, 62 }, 48000);
    EXPECT_TRUE (AudioAnalysis::allFinite (out.getReadPointer (0), out.getNumSamples()));
    EXPECT_GT (AudioAnalysis::rms (out.getReadPointer (0), out.getNumSamples()), 0.01);

    for (int layer = 0; layer < 16; ++layer)
        p.synth1.forEachVoiceOfLayer (layer, [] (SynthVoice& v) { EXPECT_EQ (v.currentWave.load()->id, "sawtooth_og"); });
}
