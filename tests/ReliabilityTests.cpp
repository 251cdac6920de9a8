#include "AllocationCounter.h"
#include "AudioAnalysis.h"
#include "LockHeldElsewhere.h"
#include "ProcessorFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

namespace
{
    int activeVoices (const SynthGroup& section)
    {
        int count = 0;

        for (auto& synth : section.synths)
            for (int v = 0; v < synth->getNumVoices(); ++v)
                count += synth->getVoice (v)->isVoiceActive() ? 1 : 0;

        return count;
    }
}

// The standalone wrapper prepares the processor again on every audio device
// restart (a new rate or block size in the set-up dialog). Each synthesiser
// must keep exactly one sound: with a second one, every note-on would start
// (and at once cut) one voice per extra sound.
TEST (Reliability, PreparingAgainKeepsOneSoundAndOneVoicePerNote)
{
    ProcessorRig rig (48000.0, 64);
    rig.proc.prepareToPlay (44100.0, 128);
    rig.proc.prepareToPlay (rig.sampleRate, rig.blockSize);
    rig.set ("synth1_release", 0.9f); // a cut voice stays active for its release
    rig.set ("synth2_release", 0.9f);

    int synthsWithOtherThanOneSound = 0;
    for (auto* section : { &rig.proc.synth1, &rig.proc.synth2, &rig.proc.lfo1, &rig.proc.lfo2 })
        for (auto& synth : section->synths)
            synthsWithOtherThanOneSound += synth->getNumSounds() != 1 ? 1 : 0;

    EXPECT_EQ (synthsWithOtherThanOneSound, 0);

    const auto out = rig.renderHeld ({ 60 }, rig.blockSize);
    EXPECT_GT (AudioAnalysis::peak (out.getReadPointer (0), out.getNumSamples()), 0.0);
    EXPECT_EQ (activeVoices (rig.proc.synth1), 1);
    EXPECT_EQ (activeVoices (rig.proc.synth2), 1);
}

// A released note must end after its release time even while its section's
// envelope settings keep changing (a mapped envelope or LFO changes them every
// block). The framework's envelope recomputes its release from the sustain
// level on every change: a releasing voice that took the new settings would
// hang on for minutes after a release above a low sustain level, and be cut
// dead at the first change at sustain 0.
TEST (Reliability, AReleasedNoteEndsWhileItsEnvelopeSettingsChange)
{
    struct Case { const char* what; float sustain; };
    for (const auto& c : { Case { "low sustain", 0.01f }, Case { "no sustain", 0.0f } })
    {
        SCOPED_TRACE (c.what);
        ProcessorRig rig (48000.0, 256);
        rig.set ("adsrTime", 0.5f);
        rig.set ("synth1_attack", 0.0f);
        rig.set ("synth1_decay", 0.9f);   // seconds of decay: released while still loud
        rig.set ("synth1_sustain", c.sustain);
        rig.set ("synth1_release", 0.1f); // about 0.46 s
        rig.set ("synth2_volume", 0.0f);

        rig.renderHeld ({ 60 }, 4800);

        int block = 0;
        const auto releaseWithChanges = [&] (int numSamples, bool noteOff)
        {
            return rig.render (numSamples, [&] (juce::MidiBuffer& midi, int start, int)
            {
                if (noteOff && start == 0)
                    midi.addEvent (juce::MidiMessage::noteOff (1, 60), 0);

                // as a mapped LFO would: a new decay setting every block
                rig.set ("synth1_decay", (++block % 2) == 0 ? 0.9f : 0.89f);
            });
        };

        const auto justAfter = releaseWithChanges (2400, true);
        EXPECT_GT (AudioAnalysis::peak (justAfter.getReadPointer (0) + 1200, 1200), 0.01) << "cut instead of released";

        releaseWithChanges (48000, false); // twice the release time
        EXPECT_EQ (activeVoices (rig.proc.synth1), 0);

        const auto after = releaseWithChanges (4800, false);
        EXPECT_EQ (AudioAnalysis::peak (after.getReadPointer (0), after.getNumSamples()), 0.0);
    }
}

// A host's play head may report a tempo that is no tempo at all: not a number,
// infinite, zero or negative (seen from hosts that have no tempo yet). The LFOs'
// rate follows the tempo, so such a value reached every mapped parameter.
// It counts as a tempo the host did not supply: the default 120 bpm.
TEST (Reliability, AHostTempoThatIsNoTempoLeavesTheDefault)
{
    struct FixedTempo final : juce::AudioPlayHead
    {
        double bpm = 120.0;

        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo info;
            info.setBpm (bpm);
            info.setIsPlaying (true);
            return info;
        }
    };

    struct Case { const char* what; double bpm; double expected; };
    const Case cases[] {
        { "NaN",             std::numeric_limits<double>::quiet_NaN(), 120.0 },
        { "infinite",        std::numeric_limits<double>::infinity(),  120.0 },
        { "minus infinite", -std::numeric_limits<double>::infinity(),  120.0 },
        { "zero",            0.0,                                      120.0 },
        { "negative",       -90.0,                                     120.0 },
        { "a real tempo",    90.0,                                      90.0 },
        { "absurdly fast",   1.0e9,                                    1.0e9 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        ProcessorRig rig (48000.0, 256);
        FixedTempo head;
        head.bpm = c.bpm;
        rig.proc.setPlayHead (&head);
        rig.proc.setModMapEntry ("lfo1_mappedParam", "cutoff");
        rig.proc.setModMapEntry ("lfo2_mappedParam", "synth1_pan");
        rig.set ("lfo1_rate", 0.7f); // a quarter note
        rig.set ("lfo2_rate", 1.0f);

        const auto out = rig.renderHeld ({ 48, 60, 67 }, 24000);
        rig.proc.setPlayHead (nullptr);

        for (int ch = 0; ch < out.getNumChannels(); ++ch)
        {
            EXPECT_TRUE (AudioAnalysis::allFinite (out.getReadPointer (ch), out.getNumSamples()));
            EXPECT_GT (AudioAnalysis::peak (out.getReadPointer (ch), out.getNumSamples()), 0.01);
        }

        const juce::SpinLock::ScopedLockType lock (rig.proc.positionLock);
        EXPECT_EQ (rig.proc.lastPosInfo.bpm, c.expected);
    }
}

// Only the first (unison count) layers of a section render, and a layer hears
// MIDI only while it renders. A layer that stopped rendering with a note down
// never heard its note-off; when the count grew again (a mapped LFO moves it
// all the time) the note sounded on forever. Layers that stop rendering now
// let go of their notes, and come back in step with the pitch wheel.
TEST (Reliability, UnisonLayersThatStopRenderingLetGoOfTheirNotes)
{
    ProcessorRig rig (48000.0, 256);
    rig.set ("synth2_volume", 0.0f);
    rig.set ("synth1_release", 0.0f);
    rig.set ("synth1_unison", 1.0f); // 16 layers

    rig.renderAfter (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 4800);
    rig.set ("synth1_unison", 0.0f); // one layer
    rig.renderAfter (juce::MidiMessage::noteOff (1, 60), 24000);
    rig.set ("synth1_unison", 1.0f);

    const auto after = rig.render (9600);
    EXPECT_EQ (AudioAnalysis::peak (after.getReadPointer (0), after.getNumSamples()), 0.0) << "a note stuck in a layer";

    // The wheel moves while only one layer renders; then all 16 play a note
    // at the bent pitch, none at the unbent one.
    rig.set ("synth1_unison", 0.0f);
    rig.renderAfter (juce::MidiMessage::pitchWheel (1, 16383), 512);
    rig.set ("synth1_unison", 1.0f);
    const auto bent = rig.renderAfter (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 9600);

    const auto* x = bent.getReadPointer (0) + 4800;
    const auto unbent = AudioAnalysis::powerAt (x, 4800, 440.0, 48000.0);
    const auto frequency = AudioAnalysis::frequencyFromCrossings (x, 4800, 48000.0);
    EXPECT_GT (frequency, 450.0);
    EXPECT_LT (unbent, 1.0e-3 * AudioAnalysis::powerAt (x, 4800, frequency, 48000.0));
}

// The same while another thread holds a layer's voice-list lock (a voice-count
// change) just as the layer stops rendering: the audio thread does not wait
// for it, and the layer lets go of its note as soon as it can.
TEST (Reliability, ALayerBusyWhenItStopsRenderingLetsGoLater)
{
    ProcessorRig rig (48000.0, 256);
    rig.set ("synth2_volume", 0.0f);
    rig.set ("synth1_release", 0.0f);
    rig.set ("synth1_unison", 1.0f);

    rig.renderAfter (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 2560);

    LockHeldElsewhere busy (rig.proc.synth1.getSynth (5).getLock());
    rig.set ("synth1_unison", 0.0f);
    rig.renderAfter (juce::MidiMessage::noteOff (1, 60), 2560);

    busy.release();
    rig.render (512); // still one layer: the busy one lets go now
    rig.set ("synth1_unison", 1.0f);
    const auto after = rig.render (9600);
    EXPECT_EQ (AudioAnalysis::peak (after.getReadPointer (0), after.getNumSamples()), 0.0) << "a note stuck in the busy layer";

    // Busy while stopping and still busy when it renders again: it lets go
    // before it renders.
    rig.renderAfter (juce::MidiMessage::noteOn (1, 62, (juce::uint8) 100), 2560);

    LockHeldElsewhere busyAgain (rig.proc.synth1.getSynth (5).getLock());
    rig.set ("synth1_unison", 0.0f);
    rig.renderAfter (juce::MidiMessage::noteOff (1, 62), 2560);

    rig.set ("synth1_unison", 1.0f);
    busyAgain.release();

    const auto afterReturn = rig.render (9600);
    EXPECT_EQ (AudioAnalysis::peak (afterReturn.getReadPointer (0), afterReturn.getNumSamples()), 0.0);
}

// A note whose note-off arrives at the very sample of its note-on (a MIDI
// file's zero-length note, a drum pad's tap) must end like any other.
TEST (Reliability, ANoteReleasedAtTheSampleItStartsEnds)
{
    ProcessorRig rig (48000.0, 256);
    rig.set ("synth1_release", 0.2f);
    rig.set ("synth2_release", 0.2f);

    for (const int at : { 0, 100 })
    {
        SCOPED_TRACE (at);
        rig.render (256, [at] (juce::MidiBuffer& m, int, int)
        {
            m.addEvent (juce::MidiMessage::noteOn (1, 93, (juce::uint8) 109), at);
            m.addEvent (juce::MidiMessage::noteOff (1, 93), at);
        });

        rig.render (96000);
        const auto after = rig.render (4800);
        EXPECT_EQ (AudioAnalysis::peak (after.getReadPointer (0), after.getNumSamples()), 0.0);
    }
}

// A mapped source changes a section's voice count from the audio thread while
// the message thread may be changing the same layers. The audio thread never
// waits: a busy layer keeps its count until a later block brings it along.
TEST (Reliability, TheAudioThreadSkipsALayerBusyWithItsVoices)
{
    SynthGroup group;
    group.setNumVoices (2);

    LockHeldElsewhere layerBusy (group.getSynth (3).getLock());
    const auto busy = group.trySetNumVoices (5);
    EXPECT_FALSE (busy.complete);
    EXPECT_EQ (busy.added, 3 * (SynthGroup::maxSynths - 1));
    EXPECT_EQ (group.getSynth (3).getNumVoices(), 2);
    EXPECT_EQ (group.getSynth (4).getNumVoices(), 5);

    layerBusy.release();
    const auto later = group.trySetNumVoices (5);
    EXPECT_TRUE (later.complete);
    EXPECT_EQ (later.added, 3);

    for (int layer = 0; layer < SynthGroup::maxSynths; ++layer)
        EXPECT_EQ (group.getSynth (layer).getNumVoices(), 5) << layer;

    const auto fewer = group.setNumVoices (1);
    EXPECT_EQ (fewer.removed, 4 * SynthGroup::maxSynths);
}

namespace
{
    /** Everything a section's voices hold that a parameter sets, in a fixed
        order, for comparing two engines. */
    std::vector<double> sectionSettings (const SynthGroup& section)
    {
        std::vector<double> out { (double) section.unison.load() };

        for (int layer = 0; layer < section.numSynths; ++layer)
        {
            out.push_back (section.getSynth (layer).getNumVoices());

            section.forEachVoiceOfLayer (layer, [&out] (SynthVoice& v)
            {
                for (auto* field : { &v.params[0], &v.params[1], &v.rawAttack, &v.rawDecay, &v.rawSustain, &v.rawRelease,
                                     &v.noise, &v.tuneSemi, &v.tuneCents, &v.detune, &v.volume, &v.envTime, &v.velGain,
                                     &v.velMin, &v.velMax, &v.frequencyHz, &v.pan, &v.glide })
                    out.push_back (field->load());

                out.push_back (v.waves.waveforms.indexOf (v.currentWave.load()));
            });
        }

        return out;
    }

    std::vector<double> engineSettings (kvAP& p)
    {
        std::vector<double> out;

        for (auto* section : { &p.synth1, &p.synth2, &p.lfo1, &p.lfo2 })
        {
            const auto s = sectionSettings (*section);
            out.insert (out.end(), s.begin(), s.end());
        }

        for (auto* value : { &p.filterCutoff, &p.filterResonance, &p.filterQMaxValue, &p.overdriveAmount })
            out.push_back (value->load());

        out.push_back (p.renderValues.cutoffHz.load());
        out.push_back (p.renderValues.synth1Voices.load());
        out.push_back (p.renderValues.synth2Unison.load());
        out.push_back (p.renderValues.synth1TuneSemi.load());
        return out;
    }
}

// In the VST3 and LV2 wrappers a host's automation reaches the parameters on
// the audio thread, just before the block. Meanwhile the message thread may
// hold a layer's voice list for a long time (a voice-count change, a patch
// load). Here the audio thread sets all parameters every block, voice and
// unison counts too, while another thread holds the lock of LFO layer 0 (the
// voice that drives the target) and of a silent layer of each oscillator
// section: no call waits (each returns while the locks are still held), the
// steady state allocates nothing, and once the locks are free every value
// reaches the engine as if the message thread had set it.
TEST (RealTimeHost, AutomationOnTheAudioThreadNeverWaitsAndArrivesOnceLayersAreFree)
{
    ProcessorRig rig (48000.0, 256);
    auto& p = rig.proc;
    ASSERT_EQ (p.paramMan.params.size(), 80u);

    struct HostParam { juce::AudioProcessorParameter* param; bool voices, unison; };
    std::vector<HostParam> params;
    for (const auto& info : p.paramMan.params)
        params.push_back ({ p.apvts.getParameter (info.paramId),
                            info.paramId.endsWith ("_voices"), info.paramId.endsWith ("_unison") });

    const std::vector<const juce::CriticalSection*> busyLocks {
        &p.lfo1.getSynth (0).getLock(), &p.lfo2.getSynth (0).getLock(),
        &p.synth1.getSynth (12).getLock(), &p.synth2.getSynth (12).getLock(),
    };

    // Every source runs (stepping, retriggers, restarts) on targets that
    // leave the voices alone, so the engines stay comparable.
    for (auto* key : { "env1_mappedParam", "lfo1_mappedParam" })
        p.setModMapEntry (key, "lockVol");
    for (auto* key : { "env2_mappedParam", "lfo2_mappedParam" })
        p.setModMapEntry (key, "masterVol");

    std::vector<float> finalValues;
    int callsThatWaited = 0, blocksWhileHeld = 0;
    std::size_t steadyAllocations = 0;
    bool pendingWhileHeld = false, pendingAfter = true;

    std::thread audio ([&]
    {
        ASSERT_FALSE (juce::MessageManager::existsAndIsCurrentThread());

        juce::AudioBuffer<float> buffer (2, 256);
        juce::MidiBuffer midi;
        midi.ensureSize (1024);
        juce::Random random (18);
        int block = 0;

        // Unison stays at 9 layers or fewer while the locks are held: layer
        // 12 is silent then (a rendering layer is rendered under its lock).
        const auto playBlock = [&] (bool changeVoices, float unisonScale)
        {
            for (const auto& h : params)
            {
                auto value = random.nextFloat();

                if (h.voices && ! changeVoices)
                    value = h.param->getValue(); // the host sends it again: no change
                else if (h.unison)
                    value *= unisonScale;
                else if (h.param == p.apvts.getParameter ("masterVol"))
                    value = 0.5f;

                setParameterLikeAWrapper (*h.param, value);
            }

            midi.clear();
            if (block % 8 == 0)
                midi.addEvent (juce::MidiMessage::noteOn (1, 48 + block % 24, (juce::uint8) 100), 3);
            if (block % 8 == 5)
                midi.addEvent (juce::MidiMessage::noteOff (1, 48 + (block - 5) % 24), 9);

            p.processBlock (buffer, midi);
            ++block;
        };

        for (int i = 0; i < 40; ++i) // warm up, voice counts swinging
            playBlock (true, 0.5f);

        for (int stretch = 0; stretch < 3; ++stretch)
        {
            LockHeldElsewhere held (busyLocks, std::chrono::seconds (3));

            // Steady state: every parameter changes but the voice counts.
            AllocationScope allocations;
            for (int i = 0; i < 150; ++i)
            {
                playBlock (false, 0.5f);
                ++blocksWhileHeld;
                callsThatWaited += held.isHolding() ? 0 : 1;
            }
            steadyAllocations += allocations.allocations() + allocations.deallocations();

            // Voice counts change too: prepared spare voices come and go.
            AllocationScope countAllocations;
            for (int i = 0; i < 20; ++i)
            {
                playBlock (true, 0.5f);
                ++blocksWhileHeld;
                callsThatWaited += held.isHolding() ? 0 : 1;
            }
            steadyAllocations += countAllocations.allocations() + countAllocations.deallocations();

            pendingWhileHeld = pendingWhileHeld || p.hasPendingWork();
            held.release();

            for (int i = 0; i < 10; ++i)
                playBlock (true, 1.0f);
        }

        // The last values arrive while the layers are busy; blocks without
        // changes bring them in once the layers are free.
        {
            LockHeldElsewhere held (busyLocks, std::chrono::seconds (3));
            playBlock (true, 0.5f);
            ++blocksWhileHeld;
            callsThatWaited += held.isHolding() ? 0 : 1;
            pendingWhileHeld = pendingWhileHeld && p.hasPendingWork();
        }

        for (const auto& h : params)
            finalValues.push_back (h.param->getValue());

        midi.clear();
        for (int i = 0; i < 4; ++i)
            p.processBlock (buffer, midi);

        pendingAfter = p.hasPendingWork();
    });

    audio.join();

    EXPECT_EQ (blocksWhileHeld, 3 * 170 + 1);
    EXPECT_EQ (callsThatWaited, 0) << "a call on the audio thread waited for a held lock";
    if (AllocationScope::isAvailable())
    {
        EXPECT_EQ (steadyAllocations, 0u) << "the audio thread allocated in the steady state";
    }
    EXPECT_TRUE (pendingWhileHeld) << "the busy layers were not left for later";
    EXPECT_FALSE (pendingAfter) << "changes still pending once the locks were free";

    // The same values set on the message thread of a second processor, in
    // the order a full update applies them (counts first).
    ASSERT_EQ (finalValues.size(), params.size());
    ProcessorRig reference (48000.0, 256);
    std::vector<size_t> order;
    for (size_t i = 0; i < params.size(); ++i)
        if (params[i].voices || params[i].unison)
            order.push_back (i);
    for (size_t i = 0; i < params.size(); ++i)
        if (! params[i].voices && ! params[i].unison)
            order.push_back (i);

    for (const auto i : order)
        reference.set (p.paramMan.params[i].paramId, finalValues[i]);

    const auto got = engineSettings (p);
    const auto expected = engineSettings (reference.proc);
    ASSERT_EQ (got.size(), expected.size());

    int differences = 0;
    for (size_t i = 0; i < got.size(); ++i)
        differences += got[i] != expected[i] ? 1 : 0;

    EXPECT_EQ (differences, 0) << "of " << got.size() << " engine settings";
}

// A cutoff ramp sent as host automation on the audio thread is heard: down
// to 0 (80 Hz) in the first second, it leaves a 440 Hz note far below where
// it started, while without the ramp the note keeps its level.
TEST (RealTimeHost, ACutoffRampOnTheAudioThreadIsHeard)
{
    const auto levels = [] (bool ramp)
    {
        ProcessorRig rig (48000.0, 512);
        rig.set ("cutoff", 1.0f);
        juce::AudioBuffer<float> recording;

        std::thread audio ([&]
        {
            auto* cutoff = rig.proc.apvts.getParameter ("cutoff");
            const int blocks = 96000 / 512;
            int block = 0;
            recording = rig.render (blocks * 512, [&] (juce::MidiBuffer& midi, int start, int)
            {
                if (start == 0)
                    midi.addEvent (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 0);
                if (ramp)
                    setParameterLikeAWrapper (*cutoff, juce::jmax (0.0f, 1.0f - 2.0f * (float) block / (float) blocks));
                ++block;
            });
        });
        audio.join();

        const auto quarter = 12000;
        return std::make_pair (AudioAnalysis::rms (recording.getReadPointer (0, 4800), quarter),
                               AudioAnalysis::rms (recording.getReadPointer (0, recording.getNumSamples() - quarter), quarter));
    };

    const auto [flatFirst, flatLast] = levels (false);
    const auto [rampFirst, rampLast] = levels (true);
    EXPECT_NEAR (flatLast / flatFirst, 1.0, 0.1);
    EXPECT_LT (rampLast / rampFirst, 0.25) << "a 12 dB drop at the least";
}

// Some hosts restore a plug-in's state on the audio thread. Reading the
// document allocates, but the restore waits for no layer: the values and
// shapes reach the voices from the render loop once the layers are free.
TEST (RealTimeHost, StateRestoredOffTheMessageThreadWaitsForNoLayer)
{
    ProcessorRig source (48000.0, 256);
    source.set ("synth1_tune", 0.75f);
    source.set ("synth1_voices", 0.4f);
    source.set ("lfo1_rate", 0.2f);
    source.set ("synth2_pan", 0.1f);
    source.proc.setModMapEntry ("synth1_oscType", "square_if");
    source.proc.setModMapEntry ("lfo1_oscType", "sawtooth_og");
    source.proc.updateOscTypes();
    juce::MemoryBlock state;
    source.proc.getStateInformation (state);

    ProcessorRig rig (48000.0, 256);
    auto& p = rig.proc;
    bool waited = true, pendingWhileHeld = false;

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 256);
        juce::MidiBuffer midi;
        LockHeldElsewhere held ({ &p.lfo1.getSynth (0).getLock(), &p.synth1.getSynth (12).getLock() }, std::chrono::seconds (3));

        p.setStateInformation (state.getData(), (int) state.getSize());
        p.processBlock (buffer, midi);
        waited = ! held.isHolding();
        pendingWhileHeld = p.hasPendingWork();
        held.release();

        for (int i = 0; i < 3; ++i)
            p.processBlock (buffer, midi);
    });
    audio.join();

    EXPECT_FALSE (waited) << "the restore or the block waited for a held lock";
    EXPECT_TRUE (pendingWhileHeld);
    EXPECT_FALSE (p.hasPendingWork());
    EXPECT_EQ (engineSettings (p), engineSettings (source.proc));
}
