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

    /** Stores the id and gives it to every voice (unknown ids play entry 0). */
    void setOscType (const juce::String& id);

    /** Gives the shape to the voices that do not play it yet, leaving the
        section's stored id alone; for voices added on the render thread. */
    void setOscTypeOfNewVoices (const juce::String& id);

    void setADSR (juce::StringRef key, float v);
    void setVelocity (juce::StringRef key, float v);

    /** Restarts every layer on note 0 from phase 0 with a fresh envelope. */
    void startLfo();

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
    std::atomic<int> unison { 1 };
    // Audio thread only: the layers rendered in the last block, and those
    // that stopped rendering but could not yet let go of their notes.
    int renderedLayers = 0;
    std::array<bool, maxSynths> releasePending {};
    std::array<std::unique_ptr<SynthLayer>, maxSynths> synths;
    int numSynths = maxSynths;
    double sampleRate = 44100.0;

private:
    template <typename Fn>
    static void visitLayer (SynthLayer& synth, Fn& fn)
    {
        for (int i = 0; i < synth.getNumVoices(); ++i)
            if (auto* voice = dynamic_cast<SynthVoice*> (synth.getVoice (i)))
                fn (*voice);
    }

    JUCE_DECLARE_NON_COPYABLE (SynthGroup)
};
