#include "MidiScore.h"

#include <algorithm>
#include <cmath>

TempoMap TempoMap::fixed (double bpm)
{
    TempoMap map;
    map.segments = { { 0.0, 0.0, bpm } };
    return map;
}

void TempoMap::addChange (double seconds, double bpm)
{
    auto& last = segments.back();

    if (seconds <= last.startSeconds)
    {
        last.bpm = bpm;
        return;
    }

    const auto ppq = last.startPpq + (seconds - last.startSeconds) * last.bpm / 60.0;
    segments.push_back ({ seconds, ppq, bpm });
}

const TempoMap::Segment& TempoMap::at (double seconds) const
{
    // The last segment starting at or before the time.
    const auto after = std::upper_bound (segments.begin(), segments.end(), seconds,
                                         [] (double t, const Segment& s) { return t < s.startSeconds; });
    return after == segments.begin() ? segments.front() : *(after - 1);
}

double TempoMap::ppqAt (double seconds) const
{
    const auto& s = at (seconds);
    return s.startPpq + (seconds - s.startSeconds) * s.bpm / 60.0;
}

juce::Optional<juce::AudioPlayHead::PositionInfo> RenderPlayHead::getPosition() const
{
    const auto seconds = (double) position / sampleRate;
    const auto ppq = tempo.ppqAt (seconds);

    PositionInfo info;
    info.setBpm (tempo.at (seconds).bpm);
    info.setTimeSignature (TimeSignature { 4, 4 });
    info.setTimeInSamples (position);
    info.setTimeInSeconds (seconds);
    info.setPpqPosition (ppq);
    info.setPpqPositionOfLastBarStart (std::floor (ppq / 4.0) * 4.0);
    info.setIsPlaying (true);
    return info;
}

juce::Result readMidiScore (juce::InputStream& in, double sampleRate, MidiScore& score)
{
    score = {};
    juce::MidiFile midiFile;

    if (! midiFile.readFrom (in, true))
        return juce::Result::fail ("is not a standard MIDI file");

    // SMPTE timing with zero frames or zero ticks per frame has no tick length at all.
    const auto format = midiFile.getTimeFormat();

    if (format == 0 || (format < 0 && (format & 0xff) == 0))
        return juce::Result::fail ("is not a standard MIDI file (its time division is zero)");

    // After the conversion every timestamp, tempo events included, is in seconds.
    midiFile.convertTimestampTicksToSeconds();

    juce::MidiMessageSequence tempoEvents;
    midiFile.findAllTempoEvents (tempoEvents);
    tempoEvents.sort();

    for (const auto* e : tempoEvents)
    {
        const auto secondsPerQuarter = e->message.getTempoSecondsPerQuarterNote();
        const auto at = e->message.getTimeStamp();

        if (secondsPerQuarter > 0.0 && std::isfinite (at) && at <= MidiScoreLimits::maxSeconds)
            score.tempo.addChange (juce::jmax (0.0, at), 60.0 / secondsPerQuarter);
    }

    juce::MidiMessageSequence all;

    for (int t = 0; t < midiFile.getNumTracks(); ++t)
        all.addSequence (*midiFile.getTrack (t), 0.0);

    all.sort();

    for (const auto* e : all)
    {
        const auto& m = e->message;

        if (m.isMetaEvent() || m.isSysEx())
            continue;

        const auto seconds = juce::jmax (0.0, m.getTimeStamp());

        if (! (seconds <= MidiScoreLimits::maxSeconds)) // NaN too
        {
            score = {};
            return juce::Result::fail ("has events later than " + juce::String ((int) MidiScoreLimits::maxSeconds)
                                       + " s (" + (std::isfinite (seconds) ? juce::String (seconds, 0) + " s" : juce::String ("no valid time"))
                                       + "), too long to render");
        }

        score.events.push_back ({ (juce::int64) std::llround (seconds * sampleRate), m });
        score.lengthSeconds = juce::jmax (score.lengthSeconds, seconds);
    }

    if (score.events.empty())
    {
        score = {};
        return juce::Result::fail ("holds no notes or other channel events");
    }

    return juce::Result::ok();
}
