#include "Phrases.h"

#include "processor/PluginProcessor.h"

#include <algorithm>

namespace Factory
{
namespace
{
    /** n notes in a row, each gate beats long, step beats apart. */
    std::vector<PhraseNote> line (std::initializer_list<int> notes, double start, double step, double gate,
                                  std::initializer_list<int> velocities)
    {
        std::vector<PhraseNote> result;
        std::vector<int> vel (velocities);
        int i = 0;

        for (auto n : notes)
            result.push_back ({ start + step * i, gate, n, vel[(size_t) i % vel.size()] }), ++i;

        return result;
    }

    std::vector<PhraseNote> chord (std::initializer_list<int> notes, double start, double length, int velocity)
    {
        std::vector<PhraseNote> result;

        for (auto n : notes)
            result.push_back ({ start, length, n, velocity });

        return result;
    }

    template <typename... Parts>
    std::vector<PhraseNote> join (Parts&&... parts)
    {
        std::vector<PhraseNote> result;
        (result.insert (result.end(), parts.begin(), parts.end()), ...);
        return result;
    }

    std::vector<Phrase> makePhrases()
    {
        std::vector<Phrase> p ((size_t) numCategories);

        // A one-bar line in eighths, staccato with accents, ending on a held root.
        p[(size_t) Category::bass] = {
            "a bass line: seven staccato eighths around C2, then a held C2",
            join (line ({ 36, 36, 48, 36, 43, 41, 39 }, 0.0, 0.5, 0.4, { 112, 84, 100, 84, 104, 88, 96 }),
                  std::vector<PhraseNote> { { 3.5, 1.5, 36, 108 } }),
            6.0, 3.6, 5.0 };

        // Slightly overlapping notes, so that a glide slides between them.
        p[(size_t) Category::lead] = {
            "a legato melody around C5, ending on a held A4",
            { { 0.0, 1.05, 67, 100 }, { 1.0, 0.55, 69, 92 }, { 1.5, 0.55, 71, 96 }, { 2.0, 2.05, 72, 110 },
              { 4.0, 0.55, 71, 92 }, { 4.5, 0.55, 67, 96 }, { 5.0, 2.0, 69, 104 } },
            8.0, 5.1, 7.0 };

        p[(size_t) Category::pad] = {
            "a Cmaj7 chord (C3 G3 B3 E4) held for three seconds, then its release",
            chord ({ 48, 55, 59, 64 }, 0.0, 6.0, 90),
            10.0, 0.0, 6.0 };

        p[(size_t) Category::pluck] = {
            "an arpeggio in sixteenths over two octaves of C major, then a longer C4",
            join (line ({ 60, 64, 67, 72, 76, 72, 67, 64 }, 0.0, 0.25, 0.2, { 110, 90, 100, 90 }),
                  std::vector<PhraseNote> { { 2.0, 1.0, 60, 104 } }),
            5.0, 2.1, 3.0 };

        p[(size_t) Category::keys] = {
            "two chords of half a bar each, C (C3 G3 C4 E4) then F (F3 A3 C4 F4)",
            join (chord ({ 48, 55, 60, 64 }, 0.0, 2.0, 96), chord ({ 53, 57, 60, 65 }, 2.0, 2.0, 88)),
            6.0, 0.1, 4.0 };

        p[(size_t) Category::bell] = {
            "three short strikes (C5 G5 E5) and a last one (C6) left to ring",
            join (line ({ 72, 79, 76 }, 0.0, 1.0, 0.8, { 104, 92, 98 }),
                  std::vector<PhraseNote> { { 3.0, 3.0, 84, 108 } }),
            9.0, 3.1, 6.0 };

        // Held notes, so the tempo-synced LFOs make the rhythm.
        p[(size_t) Category::sequence] = {
            "A2 and E3 held for a bar, then C3 and G3 for a bar, at 120 bpm",
            join (chord ({ 45, 52 }, 0.0, 4.0, 100), chord ({ 48, 55 }, 4.0, 4.0, 100)),
            9.0, 0.1, 8.0 };

        p[(size_t) Category::texture] = {
            "A2 and A3 held for three seconds, then the tail",
            chord ({ 45, 57 }, 0.0, 6.0, 100),
            10.0, 0.0, 6.0 };

        return p;
    }
}

//==============================================================================
double Phrase::firstNoteOnBeat() const
{
    double first = lengthBeats;

    for (const auto& n : notes)
        first = std::min (first, n.startBeat);

    return first;
}

double Phrase::lastNoteOffBeat() const
{
    double last = 0.0;

    for (const auto& n : notes)
        last = std::max (last, n.startBeat + n.lengthBeats);

    return last;
}

std::vector<TimedMessage> Phrase::events (double sampleRate) const
{
    std::vector<TimedMessage> result;

    for (const auto& n : notes)
    {
        result.push_back ({ samplesFor (n.startBeat, sampleRate), juce::MidiMessage::noteOn (1, n.note, (juce::uint8) n.velocity) });
        result.push_back ({ samplesFor (n.startBeat + n.lengthBeats, sampleRate), juce::MidiMessage::noteOff (1, n.note) });
    }

    std::stable_sort (result.begin(), result.end(), [] (const TimedMessage& a, const TimedMessage& b)
    {
        if (a.sample != b.sample)
            return a.sample < b.sample;

        return a.message.isNoteOff() && b.message.isNoteOn();
    });

    return result;
}

juce::MidiFile Phrase::toMidiFile() const
{
    constexpr int ticksPerBeat = 960;
    juce::MidiMessageSequence track;
    track.addEvent (juce::MidiMessage::tempoMetaEvent ((int) std::lround (60.0e6 / bpm)), 0.0);

    for (const auto& n : notes)
    {
        track.addEvent (juce::MidiMessage::noteOn (1, n.note, (juce::uint8) n.velocity), std::round (n.startBeat * ticksPerBeat));
        track.addEvent (juce::MidiMessage::noteOff (1, n.note), std::round ((n.startBeat + n.lengthBeats) * ticksPerBeat));
    }

    // The file ends where the phrase does, so that a fixed-length render covers the tail.
    track.addEvent (juce::MidiMessage::endOfTrack(), std::round (lengthBeats * ticksPerBeat));
    track.sort();
    track.updateMatchedPairs();

    juce::MidiFile file;
    file.setTicksPerQuarterNote (ticksPerBeat);
    file.addTrack (track);
    return file;
}

const Phrase& phraseFor (Category category)
{
    static const auto phrases = makePhrases();
    return phrases[(size_t) category];
}

//==============================================================================
juce::AudioBuffer<float> renderPhrase (kvAP& proc, const Phrase& phrase, double sampleRate, int blockSize)
{
    const auto events = phrase.events (sampleRate);
    const auto length = Phrase::samplesFor (phrase.lengthBeats, sampleRate);
    const auto channels = proc.getTotalNumOutputChannels();

    RenderPlayHead playHead (TempoMap::fixed (Phrase::bpm), sampleRate);
    proc.setPlayHead (&playHead);

    juce::AudioBuffer<float> out (channels, (int) length);
    juce::AudioBuffer<float> block (channels, blockSize);
    juce::MidiBuffer midi;
    size_t next = 0;

    for (juce::int64 pos = 0; pos < length; pos += blockSize)
    {
        const auto n = (int) std::min ((juce::int64) blockSize, length - pos);
        block.setSize (channels, n, false, false, true);
        block.clear();
        midi.clear();

        while (next < events.size() && events[next].sample < pos + n)
        {
            const auto& e = events[next++];
            midi.addEvent (e.message, (int) std::max ((juce::int64) 0, e.sample - pos));
        }

        playHead.setPosition (pos);
        proc.processBlock (block, midi);

        for (int c = 0; c < channels; ++c)
            out.copyFrom (c, (int) pos, block, c, 0, n);
    }

    proc.setPlayHead (nullptr);
    return out;
}

void seedNoise (kvAP& proc, juce::int64 seed)
{
    auto next = seed;

    for (auto* section : { &proc.synth1, &proc.synth2 })
        section->forEachVoice ([&] (SynthVoice& voice)
        {
            for (auto* shape : voice.waves.waveforms)
                shape->rng.setSeed (next++);
        });
}
}
