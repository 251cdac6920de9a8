#include "AllocationCounter.h"
#include "AudioAnalysis.h"
#include "ProcessorFixture.h"
#include "state/OAStringTools.h"

#include <gtest/gtest.h>

#include <atomic>
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
    p.modMap["synth1_oscType"] = "square_if";
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

    rig.set ("cutoff", 0.5f);
    EXPECT_EQ (rv.cutoffHz, 10040);
    rig.set ("cutoff", 0.25f);
    EXPECT_EQ (rig.proc.filterCutoffString(), "5060 Hz");
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
    ASSERT_EQ (p.renderValues.cutoffHz, 10040);

    p.bulkUpdate = true;
    rig.set ("cutoff", 0.0f);
    EXPECT_EQ (p.renderValues.cutoffHz, 10040);

    p.updateSynth ("cutoff", 0.0f, true);
    EXPECT_EQ (p.renderValues.cutoffHz, 80);
    p.bulkUpdate = false;
}

TEST (EngineDispatch, ValuesAreClampedAndUnknownIdsIgnored)
{
    ProcessorRig rig;
    auto& p = rig.proc;

    p.updateSynth ("cutoff", 7.0f, false);
    EXPECT_EQ (p.renderValues.cutoffHz, 20000);
    p.updateSynth ("cutoff", -3.0f, false);
    EXPECT_EQ (p.renderValues.cutoffHz, 80);

    // An id outside the table must not end the program (it arrives from patch files).
    EXPECT_NO_THROW (p.updateSynth ("no_such_param", 0.5f, true));
    EXPECT_NO_THROW (p.updateSynth ("", 0.5f, true));
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
    ProcessorRig rig;
    rig.set ("masterVol", 1.0f);
    rig.set ("synth1_volume", 0.0f);
    rig.set ("synth2_tune", 0.5f + 12.0f / 48.0f); // an octave up
    auto out = rig.renderHeld ({ 57 }, 48000);
    EXPECT_NEAR (AudioAnalysis::frequencyFromCrossings (out.getReadPointer (0) + 4800, 24000, 48000.0), 440.0, 1.0);
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
    juce::MidiBuffer midi;
    midi.ensureSize (4096); // the host's buffer: its growth is not ours to count
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
        if (kvAP::dispatchMayAllocate (param.paramId))
            continue;
        rig.set (param.paramId, random.nextFloat());
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

    // Four notes, all of them an octave up.
    auto out = rig.renderHeld ({ 45, 57, 45, 57 }, 4800);
    EXPECT_TRUE (AudioAnalysis::allFinite (out.getReadPointer (0), out.getNumSamples()));
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
