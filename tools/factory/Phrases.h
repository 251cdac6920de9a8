#pragma once

// The short phrase each category of the factory bank is judged on: a bass
// line for basses, a chord for pads and keys, a melody for leads ... and how
// a phrase is played through the processor, the way korvane-render plays a
// MIDI file.

#include "FactoryRecipes.h"
#include "MidiScore.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

class kvAP;

namespace Factory
{
    struct PhraseNote
    {
        double startBeat, lengthBeats;
        int note, velocity;
    };

    struct Phrase
    {
        static constexpr double bpm = 120.0;

        juce::String description;
        std::vector<PhraseNote> notes;
        double lengthBeats = 0.0;   // the whole render, tail included
        // A span in which at least one key is held throughout: a sustained
        // sound must keep sounding there.
        double heldFromBeat = 0.0, heldToBeat = 0.0;

        static double secondsFor (double beats) { return beats * 60.0 / bpm; }
        static juce::int64 samplesFor (double beats, double sampleRate) { return (juce::int64) std::llround (secondsFor (beats) * sampleRate); }

        double firstNoteOnBeat() const;
        double lastNoteOffBeat() const;

        /** Note-ons and note-offs on channel 1 at sample positions; at the same
            sample a note-off comes before a note-on. */
        std::vector<TimedMessage> events (double sampleRate) const;

        /** The phrase as a standard MIDI file (960 ticks per quarter note, the
            tempo as a meta event), for korvane-render --midi. */
        juce::MidiFile toMidiFile() const;
    };

    const Phrase& phraseFor (Category);

    /** Plays the phrase through a prepared processor as korvane-render plays a
        MIDI file: a play head at the phrase's tempo with the transport running
        from the first block, the events placed at their samples in blocks of
        the prepared size. Returns the whole stereo render. */
    juce::AudioBuffer<float> renderPhrase (kvAP& proc, const Phrase& phrase, double sampleRate, int blockSize);

    /** Fixed seeds for the phase-jitter generators of every voice, so that a
        sound with noise renders the same every time. Call after the patch and
        its voice counts are applied. */
    void seedNoise (kvAP& proc, juce::int64 seed);
}
