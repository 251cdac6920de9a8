#include "AllocationCounter.h"
#include "AudioAnalysis.h"
#include "LockHeldElsewhere.h"
#include "ProcessorFixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
    /** A host play head with a settable tempo and transport. */
    struct TestPlayHead : juce::AudioPlayHead
    {
        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo info;
            info.setBpm (bpm);
            info.setIsPlaying (playing);
            return info;
        }

        double bpm = 120.0;
        bool playing = false;
    };

    // Read without the layer's lock, which the busy-layer tests hold elsewhere.
    SynthVoice& lfoVoice (SynthGroup& group) { return *dynamic_cast<SynthVoice*> (group.synths[0]->getFirstVoiceWithoutLock()); }
    SynthVoice& firstVoice (SynthGroup& group) { return *dynamic_cast<SynthVoice*> (group.synths[0]->getVoice (0)); }

    /** The envelope's current level, read without advancing it. */
    float peekLevel (const juce::ADSR& adsr)
    {
        auto copy = adsr;
        return copy.getNextSample();
    }

    auto noteOnAt (int atSample, int note = 60)
    {
        return [atSample, note] (juce::MidiBuffer& m, int start, int len)
        {
            if (atSample >= start && atSample < start + len)
                m.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), atSample - start);
        };
    }
}

//==============================================================================
TEST (ModEnvelope, DefaultsRiseToPeakOverThreeSecondsAndFallQuickly)
{
    ProcessorRig rig (48000.0, 480);
    auto& p = rig.proc;
    p.setModMapEntry ("env1_mappedParam", "synth1_param1"); // user value 0.5

    // Hold for 4 s, recording the value sent every block.
    std::vector<float> sent;
    for (int block = 0; block < 400; ++block)
    {
        rig.render (480, noteOnAt (block == 0 ? 0 : -1));
        sent.push_back (p.renderValues.env1Value);
    }

    EXPECT_NEAR (sent[0], 0.5f, 0.001f);              // the note-on acts from the next block
    EXPECT_NEAR (sent[150], 0.5f + 0.4f * 1.5f / 3.01f, 0.01f); // linear attack, halfway at 1.5 s
    EXPECT_LT (sent[280], 0.9f);
    EXPECT_NEAR (sent[310], 0.9f, 0.002f);             // peak at about 3 s, then sustain at 1
    EXPECT_NEAR (sent[399], 0.9f, 0.002f);
    EXPECT_NEAR (p.renderValues.env1Level, 1.0f, 0.001f);

    // The engine gets the modulated value; the parameter keeps the user's.
    EXPECT_NEAR (static_cast<float> (firstVoice (p.synth1).params[0]), 0.9f, 0.002f);
    EXPECT_NEAR (p.apvts.getRawParameterValue ("synth1_param1")->load(), 0.5f, 1e-6f);

    // Release: back to 0.5 within about 0.04 s (5 blocks of 10 ms).
    rig.render (480, [] (juce::MidiBuffer& m, int, int) { m.addEvent (juce::MidiMessage::noteOff (1, 60), 0); });
    for (int block = 0; block < 5; ++block)
        rig.render (480);
    EXPECT_NEAR (p.renderValues.env1Value, 0.5f, 0.001f);
}

TEST (ModEnvelope, AttackZeroJumpsInTheNextBlock)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    rig.set ("env1_attack", 0.0f);
    p.setModMapEntry ("env1_mappedParam", "synth1_param1");

    rig.render (512, noteOnAt (0));
    EXPECT_NEAR (p.renderValues.env1Level, 0.0f, 1e-6f);
    rig.render (512);
    EXPECT_NEAR (p.renderValues.env1Level, 1.0f, 1e-3f); // at the peak, decay follows
    EXPECT_NEAR (p.renderValues.env1Value, 0.9f, 1e-3f);
}

TEST (ModEnvelope, RetriggerRestartsFromZeroOncePerBlock)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    rig.set ("env1_retrig", 1.0f);
    p.setModMapEntry ("env1_mappedParam", "synth1_param1");

    rig.render (512, noteOnAt (0, 60));
    for (int i = 0; i < 100; ++i)
        rig.render (512);
    ASSERT_GT (peekLevel (p.env1Adsr), 0.2f);

    // Two note-ons in one block: both reset to 0, so the envelope restarts once.
    rig.render (512, [] (juce::MidiBuffer& m, int, int)
    {
        m.addEvent (juce::MidiMessage::noteOn (1, 64, (juce::uint8) 100), 10);
        m.addEvent (juce::MidiMessage::noteOn (1, 67, (juce::uint8) 100), 20);
    });
    rig.render (512);

    // One block into a fresh attack, as after the very first note.
    ProcessorRig fresh (48000.0, 512);
    fresh.set ("env1_retrig", 1.0f);
    fresh.proc.setModMapEntry ("env1_mappedParam", "synth1_param1");
    fresh.render (512, noteOnAt (0));
    fresh.render (512);
    EXPECT_FLOAT_EQ (p.renderValues.env1Level, fresh.proc.renderValues.env1Level);

    // Without retrigger the attack continues from where it was. The level a
    // block reports is taken before its note-ons are handled, so the block
    // after the note-on shows whether it restarted.
    rig.set ("env1_retrig", 0.0f);
    const auto before = peekLevel (p.env1Adsr);
    rig.render (512, noteOnAt (0, 72));
    const auto withNoteOn = p.renderValues.env1Level.load();
    EXPECT_GT (withNoteOn, before * 0.99f);
    rig.render (512);
    EXPECT_GT (p.renderValues.env1Level.load(), withNoteOn) << "the attack restarted";
}

TEST (ModEnvelope, DummyStepsWithoutTriggeringAndAMissingKeyFreezes)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;

    // Unmapped: note-ons do not start the envelope.
    rig.render (512, noteOnAt (0));
    EXPECT_FALSE (p.env1Adsr.isActive());
    EXPECT_EQ (p.renderValues.env1Value, 0.0f);

    // Mapped and rising, then unmapped: it keeps being stepped (and so keeps rising).
    p.setModMapEntry ("env1_mappedParam", "synth1_param1");
    rig.render (512, noteOnAt (0, 64));
    for (int i = 0; i < 20; ++i)
        rig.render (512);
    p.setModMapEntry ("env1_mappedParam", "dummy");
    const auto atUnmap = peekLevel (p.env1Adsr);
    for (int i = 0; i < 20; ++i)
        rig.render (512);
    EXPECT_GT (peekLevel (p.env1Adsr), atUnmap);

    // An empty mapping (a built-in patch without the key) does not even step it.
    p.setModMapEntry ("env1_mappedParam", "");
    EXPECT_EQ (p.getModMap ("env1_mappedParam"), "");
    const auto frozen = peekLevel (p.env1Adsr);
    for (int i = 0; i < 20; ++i)
        rig.render (512);
    EXPECT_EQ (peekLevel (p.env1Adsr), frozen);
}

TEST (ModEnvelope, OutputBelowZeroIsSentAsZero)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    rig.set ("cutoff", 0.1f);
    rig.set ("env1_factor", 0.0f); // subtracts the full level
    rig.set ("env1_attack", 0.0f);
    p.setModMapEntry ("env1_mappedParam", "cutoff");

    rig.render (512, noteOnAt (0));
    rig.render (512);
    EXPECT_LT (p.renderValues.env1Value, 0.0f);
    EXPECT_EQ (p.renderValues.cutoffHz, 80);
}

TEST (ModEnvelope, EmptyBlocksAreSkipped)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    p.setModMapEntry ("env1_mappedParam", "synth1_param1");
    rig.render (512, noteOnAt (0));
    const auto level = peekLevel (p.env1Adsr);

    juce::AudioBuffer<float> empty (2, 0);
    juce::MidiBuffer midi;
    p.processBlock (empty, midi);
    EXPECT_EQ (peekLevel (p.env1Adsr), level);
    EXPECT_TRUE (std::isfinite (p.renderValues.env1Value.load()));
}

TEST (ModEnvelope, UnknownTargetsPlayWithoutModulation)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;

    for (auto* key : { "env1_mappedParam", "env2_mappedParam", "lfo1_mappedParam", "lfo2_mappedParam" })
        p.setModMapEntry (key, "no_such_parameter");

    rig.set ("env1_attack", 0.0f);
    auto out = rig.renderHeld ({ 60, 64 }, 48000);
    EXPECT_GT (AudioAnalysis::rms (out.getReadPointer (0), out.getNumSamples()), 0.01);
    EXPECT_EQ (p.renderValues.env1Value, 0.0f);
    EXPECT_EQ (p.renderValues.lfo1Value, 0.0f);
    EXPECT_EQ (p.getModMap ("env1_mappedParam"), "no_such_parameter"); // kept for saving
}

TEST (ModEnvelope, ShapesTheAmplitudeOfAMappedVolume)
{
    ProcessorRig rig;
    auto& p = rig.proc;
    rig.set ("synth1_volume", 0.0f);
    rig.set ("synth2_volume", 0.0f);
    rig.set ("env1_factor", 1.0f);
    rig.set ("env1_attack", 0.3f); // about 1.5 s at the default time scale
    p.setModMapEntry ("env1_mappedParam", "synth1_volume");

    auto out = rig.renderHeld ({ 69 }, 48000 * 3);
    auto rmsAt = [&] (double seconds) { return AudioAnalysis::rms (out.getReadPointer (0) + (int) (seconds * 48000), 4800); };

    EXPECT_LT (rmsAt (0.0), 0.01);
    EXPECT_LT (rmsAt (0.5), rmsAt (1.0));
    EXPECT_LT (rmsAt (1.0), rmsAt (2.5));
    EXPECT_GT (rmsAt (2.5), 0.05);
}

//==============================================================================
TEST (ModLfo, RatesAndLabelsAt120Bpm)
{
    ProcessorRig rig;
    auto& p = rig.proc;

    struct Case { float rate; const char* label; float hz; };
    const Case cases[] = {
        { 0.5f, "1/1", 0.5f }, { 0.0f, "64/1", 0.0078125f }, { 1.0f, "1/64", 32.0f }, { 0.7f, "1/4", 2.0f },
    };

    for (const auto& c : cases)
    {
        rig.set ("lfo1_rate", c.rate);
        EXPECT_EQ (p.getLfoRateText (1), c.label) << c.rate;
        p.lfo1.forEachVoice ([&] (SynthVoice& v) { EXPECT_FLOAT_EQ (static_cast<float> (v.frequencyHz), c.hz) << c.rate; });
    }
}

TEST (ModLfo, FollowsTheHostTempoAndRestartsOnTransportStart)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    TestPlayHead head;
    p.setPlayHead (&head);

    rig.set ("lfo1_rate", 0.7f); // "1/4"
    rig.render (512);
    EXPECT_FLOAT_EQ (static_cast<float> (lfoVoice (p.lfo1).frequencyHz), 2.0f);

    head.bpm = 90.0;
    rig.render (512);
    EXPECT_FLOAT_EQ (static_cast<float> (lfoVoice (p.lfo1).frequencyHz), 1.5f);
    EXPECT_EQ (p.getLfoRateText (1), "1/4");
    EXPECT_FLOAT_EQ (static_cast<float> (lfoVoice (p.lfo2).frequencyHz), 90.0f / 60.0f * 0.25f / 1.0f); // "1/1"

    {
        const juce::SpinLock::ScopedLockType lock (p.positionLock);
        EXPECT_EQ (p.lastPosInfo.bpm, 90.0);
    }

    // Mapped and running, the LFO's phase advances; a transport start resets it.
    p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");
    for (int i = 0; i < 20; ++i)
        rig.render (512);
    ASSERT_GT (lfoVoice (p.lfo1).angle, 0.1);

    head.playing = true;
    rig.render (512);
    const auto afterStart = lfoVoice (p.lfo1).angle;
    EXPECT_LT (afterStart, 0.01);

    // Without a play head the defaults apply: 120 bpm, never playing.
    p.setPlayHead (nullptr);
    rig.render (512);
    EXPECT_FLOAT_EQ (static_cast<float> (lfoVoice (p.lfo1).frequencyHz), 2.0f);
    p.setPlayHead (nullptr);
}

TEST (ModLfo, SharesOneStepCountdownAcrossBlocksAndSources)
{
    {
        ProcessorRig rig (48000.0, 512);
        auto& p = rig.proc;
        p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");
        rig.render (512);
        EXPECT_EQ (p.lfoStepCountdown, 88); // steps at 100 .. 500, 12 samples left over

        p.setModMapEntry ("lfo2_mappedParam", "synth2_pan");
        rig.render (512);
        // LFO 1 steps at 88 .. 488 and leaves 76; LFO 2 continues from there
        // (76 .. 476) and leaves 64.
        EXPECT_EQ (p.lfoStepCountdown, 64);

        // An LFO on "dummy" leaves the countdown to the other.
        p.setModMapEntry ("lfo2_mappedParam", "dummy");
        rig.render (512);
        EXPECT_EQ (p.lfoStepCountdown, 52);
    }

    {
        // With 64-sample blocks about two blocks in three hold a step.
        ProcessorRig rig (48000.0, 64);
        auto& p = rig.proc;
        p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");
        int stepped = 0;
        for (int i = 0; i < 300; ++i)
        {
            const auto before = lfoVoice (p.lfo1).angle;
            rig.render (64);
            if (lfoVoice (p.lfo1).angle != before)
                ++stepped;
        }
        EXPECT_NEAR (stepped, 192, 2);
    }
}

TEST (ModLfo, FactorOneHalfSendsTheBaseValue)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    rig.set ("lfo1_factor", 0.5f);
    rig.set ("cutoff", 0.3f);
    p.setModMapEntry ("lfo1_mappedParam", "cutoff");

    for (int i = 0; i < 50; ++i)
    {
        rig.render (512);
        if (p.renderValues.lfo1Level != 0.0f)
        {
            EXPECT_FLOAT_EQ (p.renderValues.lfo1Value, p.apvts.getRawParameterValue ("cutoff")->load());
        }
    }
    EXPECT_NE (p.renderValues.lfo1Level, 0.0f);
}

TEST (ModLfo, ModulatesTheSpectrumAtItsRate)
{
    // Brightness of a sawtooth (the level of its first difference, which favours
    // the upper harmonics) in frames of about 10 ms, with the LFO on "cutoff" or at no depth.
    auto brightness = [] (float depthFactor)
    {
        ProcessorRig rig (48000.0, 480);
        auto& p = rig.proc;
        p.setModMapEntry ("synth1_oscType", "sawtooth_og");
        p.setModMapEntry ("synth2_oscType", "sawtooth_og");
        p.updateOscTypes();
        rig.set ("cutoff", 0.3f);
        rig.set ("lfo1_factor", depthFactor);
        rig.set ("lfo1_rate", 0.75f); // "1/8": 4 Hz at 120 bpm
        p.setModMapEntry ("lfo1_mappedParam", "cutoff");

        auto out = rig.renderHeld ({ 81 }, 48000 * 4);
        std::vector<float> diff ((size_t) out.getNumSamples(), 0.0f);
        for (int i = 1; i < out.getNumSamples(); ++i)
            diff[(size_t) i] = out.getSample (0, i) - out.getSample (0, i - 1);

        std::vector<double> frames;
        for (int start = 48000 / 2; start + 500 <= out.getNumSamples(); start += 500) // 24 frames per LFO cycle
            frames.push_back (AudioAnalysis::rms (diff.data() + start, 500));
        return frames;
    };

    auto relativeSpread = [] (const std::vector<double>& x)
    {
        double mean = 0.0, square = 0.0;
        for (auto v : x) { mean += v; square += v * v; }
        mean /= (double) x.size();
        return std::sqrt (square / (double) x.size() - mean * mean) / mean;
    };

    auto correlationAtLag = [] (const std::vector<double>& x, size_t lag)
    {
        double mean = 0.0;
        for (auto v : x) mean += v;
        mean /= (double) x.size();
        double num = 0.0, den = 0.0;
        for (size_t i = 0; i + lag < x.size(); ++i)
            num += (x[i] - mean) * (x[i + lag] - mean);
        for (auto v : x)
            den += (v - mean) * (v - mean);
        return num / den * (double) x.size() / (double) (x.size() - lag);
    };

    const auto still = brightness (0.5f);
    EXPECT_LT (relativeSpread (still), 0.01);

    const auto swept = brightness (1.0f);
    EXPECT_GT (relativeSpread (swept), 0.1);
    EXPECT_GT (correlationAtLag (swept, 24), 0.9); // repeats every 0.25 s
    EXPECT_GT (correlationAtLag (swept, 48), 0.9);
    EXPECT_LT (correlationAtLag (swept, 12), correlationAtLag (swept, 24) - 0.2); // and not at twice the rate
}

TEST (ModRealTime, MappedSourcesDoNotAllocate)
{
    if (! AllocationScope::isAvailable())
        GTEST_SKIP() << "allocation counting is not available in sanitizer builds";

    ProcessorRig rig (48000.0, 256);
    auto& p = rig.proc;
    p.setModMapEntry ("env1_mappedParam", "cutoff");
    p.setModMapEntry ("env2_mappedParam", "synth2_volume");
    p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");
    p.setModMapEntry ("lfo2_mappedParam", "fx_overdrive");
    rig.set ("lfo1_retrigAuto", 1.0f);
    rig.set ("env1_retrig", 1.0f);

    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi;
    midi.ensureSize (1024);

    for (int i = 0; i < 10; ++i) // warm up
    {
        midi.clear();
        midi.addEvent (juce::MidiMessage::noteOn (1, 50 + i, (juce::uint8) 90), 0);
        p.processBlock (buffer, midi);
    }

    AllocationScope scope;
    for (int i = 0; i < 400; ++i)
    {
        midi.clear();
        if (i % 40 == 0)
            midi.addEvent (juce::MidiMessage::noteOn (1, 60 + i / 40, (juce::uint8) 90), 5);
        if (i % 40 == 20)
            midi.addEvent (juce::MidiMessage::allNotesOff (1), 5);
        p.processBlock (buffer, midi);
    }
    EXPECT_EQ (scope.allocations(), 0u);
    EXPECT_EQ (scope.deallocations(), 0u);
}

//==============================================================================
// The message thread holds an LFO layer's lock while it turns an LFO knob or
// gives the section a shape. Layer 0's voice is the one whose value drives the
// target: what the audio thread cannot do to it then (a re-tune on a tempo
// change, a restart) is done, without waiting, once the lock is free.
TEST (ModLfoBusy, ATempoChangeReachesABusyLayerOnceItIsFree)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    TestPlayHead head;
    p.setPlayHead (&head);
    rig.set ("lfo1_rate", 0.7f); // "1/4": 2 Hz at 120 bpm
    rig.render (512);

    {
        LockHeldElsewhere busy (p.lfo1.getSynth (0).getLock(), std::chrono::seconds (3));
        head.bpm = 90.0;
        rig.render (512);
        EXPECT_TRUE (busy.isHolding()) << "the block waited for the lock";
        EXPECT_FLOAT_EQ (static_cast<float> (lfoVoice (p.lfo1).frequencyHz), 2.0f); // left for later
        EXPECT_FLOAT_EQ (static_cast<float> (dynamic_cast<SynthVoice*> (p.lfo1.synths[1]->getFirstVoiceWithoutLock())->frequencyHz), 1.5f);

        rig.render (512); // still busy: still pending
        EXPECT_TRUE (busy.isHolding());
    }

    rig.render (512);
    p.lfo1.forEachVoice ([] (SynthVoice& v) { EXPECT_FLOAT_EQ (static_cast<float> (v.frequencyHz), 1.5f); });
    EXPECT_FALSE (p.hasPendingWork());

    // Stepped, the voice advances by the new rate: 2 pi * 1.5 Hz per 480 steps a second.
    p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");
    rig.render (512);
    const auto before = lfoVoice (p.lfo1).angle;
    rig.render (48000 - 512 - (48000 - 512) % 512); // whole blocks
    const auto steps = (48000 - 512 - (48000 - 512) % 512) / 100.0;
    EXPECT_NEAR ((lfoVoice (p.lfo1).angle - before) / steps, juce::MathConstants<double>::twoPi * 1.5 / 480.0, 1.0e-3);
    p.setPlayHead (nullptr);
}

TEST (ModLfoBusy, RestartsReachABusyLayerOnceItIsFree)
{
    struct Case { const char* what; bool transportStart; };

    for (const auto& c : { Case { "transport start", true }, Case { "note-on with retrigAuto", false } })
    {
        SCOPED_TRACE (c.what);
        ProcessorRig rig (48000.0, 512);
        auto& p = rig.proc;
        TestPlayHead head;
        p.setPlayHead (&head);
        p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");
        rig.set ("lfo1_rate", 0.7f);
        rig.set ("lfo1_retrigAuto", c.transportStart ? 0.0f : 1.0f);

        for (int i = 0; i < 20; ++i)
            rig.render (512);
        ASSERT_GT (lfoVoice (p.lfo1).angle, 1.0);

        {
            LockHeldElsewhere busy (p.lfo1.getSynth (0).getLock(), std::chrono::seconds (3));

            if (c.transportStart)
            {
                head.playing = true;
                rig.render (512);
            }
            else
            {
                rig.renderAfter (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 512);
            }

            EXPECT_TRUE (busy.isHolding()) << "the block waited for the lock";
            EXPECT_GT (lfoVoice (p.lfo1).angle, 1.0) << "restarted under another thread's lock";
            EXPECT_TRUE (p.hasPendingWork());
        }

        // Restarted at the top of the next block, then stepped five times
        // (2 Hz at 480 steps a second).
        const auto step = juce::MathConstants<double>::twoPi * 2.0 / 480.0;
        rig.render (512);
        EXPECT_NEAR (lfoVoice (p.lfo1).angle, 5 * step, 1.0e-6);
        EXPECT_FALSE (p.hasPendingWork());

        // Done once: the block after steps on from there.
        rig.render (512);
        EXPECT_NEAR (lfoVoice (p.lfo1).angle, 10 * step, 1.0e-6);
        p.setPlayHead (nullptr);
    }
}

//==============================================================================
// Rules of the envelope and LFO mapping held one test each.
TEST (ModRules, AVelocityZeroNoteOnTriggersNoEnvelope)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    p.setModMapEntry ("env1_mappedParam", "synth1_param1");

    rig.renderAfter (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 0), 512);
    rig.render (512);
    EXPECT_FALSE (p.env1Adsr.isActive());
    EXPECT_EQ (p.renderValues.env1Level.load(), 0.0f);

    rig.renderAfter (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 1), 512);
    rig.render (512);
    EXPECT_TRUE (p.env1Adsr.isActive()) << "the quietest real note-on does trigger it";

    // With retrigger on and notes held, one of velocity 0 (a note-off of a
    // key not down) does not restart the attack: the level keeps rising.
    rig.set ("env1_retrig", 1.0f);
    rig.render (512, [] (juce::MidiBuffer& m, int, int) { m.addEvent (juce::MidiMessage::noteOn (1, 64, (juce::uint8) 90), 0); });
    for (int i = 0; i < 20; ++i)
        rig.render (512);
    rig.renderAfter (juce::MidiMessage::noteOn (1, 67, (juce::uint8) 0), 512);
    const auto before = p.renderValues.env1Level.load();
    rig.render (512);
    EXPECT_GT (p.renderValues.env1Level.load(), before) << "restarted by a note-on of velocity 0";
}

TEST (ModRules, RemappingToDummyLeavesTheOldTargetWhereTheLastBlockPutIt)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    rig.set ("lfo1_factor", 1.0f);
    rig.set ("lfo1_rate", 1.0f);
    p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");
    for (int i = 0; i < 10; ++i)
        rig.render (512);

    const auto modulated = firstVoice (p.synth1).pan.load();
    ASSERT_NE (modulated, p.getParamValue ("synth1_pan"));

    p.setModMapEntry ("lfo1_mappedParam", "dummy");
    for (int i = 0; i < 10; ++i)
        rig.render (512);
    p.synth1.forEachVoice ([modulated] (SynthVoice& v) { EXPECT_EQ (v.pan.load(), modulated); });
}

TEST (ModRules, PreparingAgainKeepsTheEnvelopesWhereTheyAre)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    p.setModMapEntry ("env1_mappedParam", "synth1_param1");
    p.setModMapEntry ("env2_mappedParam", "synth2_param1");
    rig.render (512, noteOnAt (0));
    for (int i = 0; i < 40; ++i)
        rig.render (512);

    const auto level1 = peekLevel (p.env1Adsr), level2 = peekLevel (p.env2Adsr);
    ASSERT_GT (level1, 0.05f);
    p.prepareToPlay (rig.sampleRate, rig.blockSize);
    EXPECT_TRUE (p.env1Adsr.isActive());
    EXPECT_FLOAT_EQ (peekLevel (p.env1Adsr), level1);
    EXPECT_FLOAT_EQ (peekLevel (p.env2Adsr), level2);
}

TEST (ModRules, BlocksWithoutAnLfoStepDispatchNothing)
{
    // 64-sample blocks: the step (every 100 samples) falls into about two
    // blocks of three.
    ProcessorRig rig (48000.0, 64);
    auto& p = rig.proc;
    rig.set ("lfo1_factor", 1.0f);
    p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");

    int stepless = 0, stepped = 0, steppedUntouched = 0;
    for (int block = 0; block < 30; ++block)
    {
        // A value no dispatch sends: it survives exactly the blocks without a step.
        p.synth1.forEachVoice ([] (SynthVoice& v) { v.setPan (-7.0f); });
        const auto countdown = p.lfoStepCountdown;
        rig.render (64);
        const auto untouched = firstVoice (p.synth1).pan.load() == -7.0f;

        if (countdown > 64)
        {
            ++stepless;
            EXPECT_TRUE (untouched) << "block " << block;
        }
        else
        {
            ++stepped;
            steppedUntouched += untouched ? 1 : 0;
        }
    }

    EXPECT_GT (stepless, 5);
    EXPECT_GT (stepped, 5);
    // The first step is the sine at phase 0, exactly 0, which is not applied.
    EXPECT_LE (steppedUntouched, 1);
}

TEST (ModRules, WithoutAHostPositionNoTransportStartIsSeen)
{
    struct NoPosition final : juce::AudioPlayHead
    {
        juce::Optional<PositionInfo> getPosition() const override { return {}; }
    };

    NoPosition silentHead;

    for (auto* head : { static_cast<juce::AudioPlayHead*> (nullptr), static_cast<juce::AudioPlayHead*> (&silentHead) })
    {
        SCOPED_TRACE (head == nullptr ? "no play head" : "a play head without a position");
        ProcessorRig rig (48000.0, 512);
        auto& p = rig.proc;
        p.setPlayHead (head);
        p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");

        // The phase only grows, by five or six steps a block.
        auto last = lfoVoice (p.lfo1).angle;
        for (int i = 0; i < 100; ++i)
        {
            rig.render (512);
            const auto now = lfoVoice (p.lfo1).angle;
            ASSERT_GT (now, last) << "block " << i;
            last = now;
        }

        p.setPlayHead (nullptr);
    }
}

TEST (ModRules, RetrigAutoRestartsTheLfoOnEveryNoteOn)
{
    const auto step = juce::MathConstants<double>::twoPi * 2.0 / 480.0; // "1/4" at 120 bpm

    for (const auto retrig : { true, false })
    {
        SCOPED_TRACE (retrig ? "retrigAuto on" : "retrigAuto off");
        ProcessorRig rig (48000.0, 500); // five steps a block
        auto& p = rig.proc;
        rig.set ("lfo1_rate", 0.7f);
        rig.set ("lfo1_retrigAuto", retrig ? 1.0f : 0.0f);
        p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");

        for (int i = 0; i < 10; ++i)
            rig.render (500);
        const auto before = lfoVoice (p.lfo1).angle;
        ASSERT_NEAR (before, 50 * step, 1.0e-6);

        for (int note = 0; note < 3; ++note)
        {
            rig.renderAfter (juce::MidiMessage::noteOn (1, 60 + note, (juce::uint8) 100), 500);
            const auto expected = retrig ? 5 * step : before + (note + 1) * 5 * step;
            EXPECT_NEAR (lfoVoice (p.lfo1).angle, expected, 1.0e-6) << "note " << note;
        }
    }
}

// The LFO sections are set up by every prepareToPlay at a hundredth of the
// audio rate with one voice per layer, take their own parameters through the
// dispatch, and are never heard.
TEST (ModRules, LfoSectionsRunAtTheControlRateTakeTheirParametersAndAreNeverHeard)
{
    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    p.prepareToPlay (44100.0, 256); // a second prepare, at another rate

    struct Setting { const char* suffix; float value; std::atomic<float> SynthVoice::* field; };
    const Setting settings[] {
        { "_param1", 0.3f, nullptr }, { "_attack", 0.4f, &SynthVoice::rawAttack }, { "_decay", 0.45f, &SynthVoice::rawDecay },
        { "_sustain", 0.6f, &SynthVoice::rawSustain }, { "_release", 0.2f, &SynthVoice::rawRelease },
        { "_tune", 0.7f, &SynthVoice::tuneSemi }, { "_microtune", 0.35f, &SynthVoice::tuneCents },
    };

    for (auto* lfo : { "lfo1", "lfo2" })
        for (const auto& s : settings)
            rig.set (lfo + juce::String (s.suffix), s.value);

    for (auto* section : { &p.lfo1, &p.lfo2 })
    {
        for (int layer = 0; layer < section->numSynths; ++layer)
        {
            ASSERT_EQ (section->getSynth (layer).getNumVoices(), 1) << layer;
            EXPECT_EQ (section->getSynth (layer).getSampleRate(), 441.0) << layer;
        }

        section->forEachVoice ([&] (SynthVoice& v)
        {
            EXPECT_TRUE (v.isLfo.load());
            EXPECT_EQ (v.getSampleRate(), 441.0);
            EXPECT_FLOAT_EQ (v.params[0].load(), 0.3f);

            for (const auto& s : settings)
            {
                if (s.field != nullptr)
                {
                    EXPECT_FLOAT_EQ ((v.*s.field).load(), s.value) << s.suffix;
                }
            }
        });
    }

    // Both oscillators silent, both LFOs mapped and stepping: nothing sounds.
    ProcessorRig quiet (48000.0, 512);
    quiet.set ("synth1_volume", 0.0f);
    quiet.set ("synth2_volume", 0.0f);
    quiet.proc.setModMapEntry ("lfo1_mappedParam", "cutoff");
    quiet.proc.setModMapEntry ("lfo2_mappedParam", "synth1_pan");
    const auto out = quiet.renderHeld ({ 48, 60, 72 }, 24000);
    EXPECT_EQ (AudioAnalysis::peak (out.getReadPointer (0), out.getNumSamples()), 0.0);
    EXPECT_NE (quiet.proc.renderValues.lfo1Level.load(), 0.0f) << "the LFO did not run";
}
