#pragma once

// A standard MIDI file as korvane-render plays it: every channel event placed
// on a sample, and the file's tempo map for what the play head reports.

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

namespace MidiScoreLimits
{
    /** Larger files are refused before they are read. */
    constexpr juce::int64 maxFileBytes = 16 * 1024 * 1024;

    /** Events later than this are refused: an hour is far beyond any piece
        rendered here, and a corrupt delta time would otherwise ask for days
        of audio (or overflow the sample position). */
    constexpr double maxSeconds = 3600.0;
}

/** The tempo of a MIDI file over time. The file's own timestamps are already
    in seconds; this is for the play head: tempo and position in quarter notes. */
struct TempoMap
{
    struct Segment
    {
        double startSeconds, startPpq, bpm;

        /** The position in quarter notes at a time within this segment. */
        double ppqAt (double seconds) const { return startPpq + (seconds - startSeconds) * bpm / 60.0; }
    };

    std::vector<Segment> segments { { 0.0, 0.0, 120.0 } };

    static TempoMap fixed (double bpm);

    /** A tempo change at the given time; changes must come in time order. */
    void addChange (double seconds, double bpm);

    const Segment& at (double seconds) const;

    double ppqAt (double seconds) const;
};

/** The play head of an offline render: the transport plays from the start at
    the tempo map's tempo; the renderer moves it before every block. */
class RenderPlayHead final : public juce::AudioPlayHead
{
public:
    RenderPlayHead (TempoMap map, double rate) : tempo (std::move (map)), sampleRate (rate) {}

    void setPosition (juce::int64 samples) { position = samples; }

    juce::Optional<PositionInfo> getPosition() const override;

private:
    TempoMap tempo;
    double sampleRate;
    juce::int64 position = 0;
};

struct TimedMessage
{
    juce::int64 sample;
    juce::MidiMessage message;
};

struct MidiScore
{
    std::vector<TimedMessage> events; // well-formed channel events only, in time order
    TempoMap tempo;
    double lengthSeconds = 0.0;       // time of the last event
};

/** Reads a standard MIDI file from the stream. On failure the result's error
    message says why, in words for the user ("is not a standard MIDI file",
    "holds no notes ..."), and score is left empty. */
juce::Result readMidiScore (juce::InputStream& in, double sampleRate, MidiScore& score);
