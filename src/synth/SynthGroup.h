#pragma once

#include "SynthSound.h"
#include "SynthVoice.h"

#include <array>
#include <atomic>
#include <memory>

/** One unison layer of a section: a juce::Synthesiser that lets the section
    hold its voice-list lock while it visits the voices, and that steals
    voices without touching the heap (the framework's version rebuilds a
    list on every steal, and LFO restarts steal on every note). */
class SynthLayer : public juce::Synthesiser
{
public:
    const juce::CriticalSection& getLock() const noexcept   { return lock; }

    /** The framework's choice: the oldest voice on the same note, else the
        oldest released one, else the oldest without a key down, else the
        oldest other one, sparing the lowest and highest held notes. */
    juce::SynthesiserVoice* findVoiceToSteal (juce::SynthesiserSound*, int midiChannel, int midiNoteNumber) const override;

    /** For a layer that is not rendering: the block's pitch wheel,
        controllers (sustain pedal, all notes off), channel pressure and
        program changes reach it, so that it comes back in step with the
        performance; notes do not, as it has no output to play them into.
        With releaseNotes, its sounding notes are stopped first (it has just
        stopped rendering and would never hear their note-offs). Never waits
        for the voice-list lock: returns false, doing nothing, while another
        thread holds it. */
    bool followWithoutRendering (const juce::MidiBuffer& midi, bool releaseNotes);

    /** The first voice, or null, read without the voice-list lock (which
        getVoice takes). Only for an LFO layer, whose one voice changes only
        in prepareToPlay, while the audio thread is stopped. */
    juce::SynthesiserVoice* getFirstVoiceWithoutLock() const noexcept   { return voices.isEmpty() ? nullptr : voices.getUnchecked (0); }

    static constexpr int maxVoices = 16;

    SynthLayer();
    ~SynthLayer() override;

    /** Message thread (or while the audio thread is stopped): makes voices
        and spare voices up to total in all, and prepares the spares for the
        rate, so that later count changes neither create nor delete one. */
    void prepareSpareVoices (int total, double rate);

    /** With the layer's lock held: moves a spare voice into the voice list;
        false when there is none. Never allocates. */
    bool takeSpareVoice();

    /** With the layer's lock held: silences the last voice and keeps it as
        a spare; false when there is no voice or no room. Never allocates. */
    bool parkLastVoice();

    int getNumSpareVoices() const noexcept { return numSpares; }

private:
    std::array<std::unique_ptr<juce::SynthesiserVoice>, maxVoices> spares;
    int numSpares = 0;
    // Swapped with the voice list to drop its last entry: the list's own
    // removal gives storage back (a reallocation) once it is half empty.
    juce::OwnedArray<juce::SynthesiserVoice> staging;
};

/** One sound section (oscillator A or B, LFO 1 or 2): a fixed bank of 16
    synthesisers, the unison layers. Every setting goes to all 16 layers,
    sounding or not. */
class SynthGroup
{
public:
    static constexpr int maxSynths = 16;

    SynthGroup();
    ~SynthGroup();

    struct VoiceCountChange
    {
        int added = 0, removed = 0;
        bool complete = true; // false when a layer was busy and left as it was
    };

    /** Brings every layer to n voices: removes from the end, or appends
        default voices prepared at the section's rate. Each layer is changed
        under its voice-list lock, which this waits for. */
    VoiceCountChange setNumVoices (int n);

    /** The same for the render thread: never waits, a layer whose lock is
        taken is left for a later call. */
    VoiceCountChange trySetNumVoices (int n);

    /** The shape the first voice of layer 0 plays, or null when it has none
        or its lock is taken. Never waits. */
    const Waveform* tryGetFirstVoiceWave() const;

    /** Stores the id (and its registry index, the copy the audio thread
        reads) and gives it to every voice (unknown ids play entry 0). Waits
        for each layer's lock: not for the audio thread. */
    void setOscType (const juce::String& id);

    /** For a thread that must not wait: stores the id and its index, and
        leaves the voices to tryApplyOscType (called by the render loop). */
    void setOscTypeLater (const juce::String& id);

    /** Gives the section's shape (by index, no text read) to the voices that
        do not play it yet. Never waits; false when a layer was busy. A
        change left by setOscTypeLater is done once this returns true. */
    bool tryApplyOscType();

    /** True while a shape given by setOscTypeLater has not reached every voice. */
    bool isOscTypePending() const noexcept   { return oscTypePending.load(); }

    void setADSR (juce::StringRef key, float v);
    void setVelocity (juce::StringRef key, float v);

    /** Restarts every layer on note 0 from phase 0 with a fresh envelope.
        Waits for each layer's lock: not for the audio thread. */
    void startLfo();

    /** The audio thread's restart of an LFO section: asks for the restart
        of every layer (with every voice's phase reset first when
        resetPhases; with voice 0 of layer 0 set back to phase 0 and a fresh
        envelope after it when resetFirstVoice, as a note-on retrigger does)
        and does it for the layers that are free. The busy ones stay asked
        for: retryLfoRestart does them on a later block. Never waits. */
    void requestLfoRestart (bool resetPhases, bool resetFirstVoice);

    /** Restarts the layers still asked for whose lock is free. Never waits;
        true when none is left. Audio thread only. */
    bool retryLfoRestart();

    bool isLfoRestartPending() const noexcept   { return lfoRestartLayers != 0; }

    SynthLayer& getSynth (int layer) const noexcept   { return *synths[(size_t) layer]; }

    /** Calls fn (SynthVoice&) for every voice of one layer, holding the
        layer's voice-list lock (the one juce::Synthesiser takes to render),
        so a concurrent voice-count change cannot delete a voice under fn. */
    template <typename Fn>
    void forEachVoiceOfLayer (int layer, Fn&& fn) const
    {
        auto& synth = getSynth (layer);
        const juce::ScopedLock sl (synth.getLock());
        visitLayer (synth, fn);
    }

    template <typename Fn>
    void forEachVoice (Fn&& fn) const
    {
        for (int layer = 0; layer < numSynths; ++layer)
            forEachVoiceOfLayer (layer, fn);
    }

    /** As forEachVoiceOfLayer, but never waits: returns false, visiting
        nothing, when the layer's lock is taken. */
    template <typename Fn>
    bool tryForEachVoiceOfLayer (int layer, Fn&& fn) const
    {
        auto& synth = getSynth (layer);
        const juce::ScopedTryLock sl (synth.getLock());

        if (! sl.isLocked())
            return false;

        visitLayer (synth, fn);
        return true;
    }

    /** As forEachVoice, but never waits: a layer whose lock is taken (its
        voice count is being changed) is skipped. For modulation on the audio
        thread. Returns false when a layer was skipped. */
    template <typename Fn>
    bool tryForEachVoice (Fn&& fn) const
    {
        bool visitedAll = true;

        for (int layer = 0; layer < numSynths; ++layer)
        {
            auto& synth = getSynth (layer);
            const juce::ScopedTryLock sl (synth.getLock());

            if (sl.isLocked())
                visitLayer (synth, fn);
            else
                visitedAll = false;
        }

        return visitedAll;
    }

    juce::String oscType { "sine_og" };
    // The registry index of oscType: what the audio thread gives new voices.
    std::atomic<int> oscTypeIndex { 0 };
    std::atomic<int> unison { 1 };
    // Audio thread only: the layers rendered in the last block, and those
    // that stopped rendering but could not yet let go of their notes.
    int renderedLayers = 0;
    std::array<bool, maxSynths> releasePending {};
    std::array<std::unique_ptr<SynthLayer>, maxSynths> synths;
    int numSynths = maxSynths;
    double sampleRate = 44100.0;

private:
    void restartLfoLayer (SynthLayer& synth, int layer);

    std::atomic<bool> oscTypePending { false };

    // Audio thread only: the LFO layers still to be restarted, and how.
    juce::uint32 lfoRestartLayers = 0;
    bool lfoRestartResetsPhases = false, lfoRestartResetsFirstVoice = false;

    template <typename Fn>
    static void visitLayer (SynthLayer& synth, Fn&& fn)
    {
        for (int i = 0; i < synth.getNumVoices(); ++i)
            if (auto* voice = dynamic_cast<SynthVoice*> (synth.getVoice (i)))
                fn (*voice);
    }

    JUCE_DECLARE_NON_COPYABLE (SynthGroup)
};
