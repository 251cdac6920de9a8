#include "MidiScore.h"

#include <algorithm>
#include <array>
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

    segments.push_back ({ seconds, last.ppqAt (seconds), bpm });
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
    return at (seconds).ppqAt (seconds);
}

namespace
{
    /** The framework's reader takes a channel message's data bytes as they
        stand; a byte of 128 or more (a corrupt file) is no MIDI value, and a
        note number like that would index past every per-note table. */
    bool hasValidDataBytes (const juce::MidiMessage& m)
    {
        const auto* data = m.getRawData();

        for (int i = 1; i < m.getRawDataSize(); ++i)
            if (data[i] >= 0x80)
                return false;

        return true;
    }

    /** The framework's reader puts each track's note-offs before note-ons of
        the same time. That is right for a note ending where the next one on
        the same key starts, but it turns a zero-length note (on, then off,
        at one time) into a note-off for a key that isn't sounding followed by
        a note-on that never ends. Such a note-off goes back after its note-on. */
    void restoreZeroLengthNotes (std::vector<TimedMessage>& events)
    {
        std::array<std::array<int, 128>, 16> sounding {};

        for (size_t start = 0, end = 0; start < events.size(); start = end)
        {
            end = start;
            while (end < events.size() && events[end].sample == events[start].sample)
                ++end;

            for (size_t i = start; i < end; ++i)
            {
                const auto& m = events[i].message;

                if (! m.isNoteOnOrOff())
                    continue;

                auto& count = sounding[(size_t) (m.getChannel() - 1)][(size_t) m.getNoteNumber()];

                if (m.isNoteOn())
                {
                    ++count;
                    continue;
                }

                if (count > 0)
                {
                    --count;
                    continue;
                }

                for (auto j = i + 1; j < end; ++j)
                {
                    const auto& later = events[j].message;

                    if (later.isNoteOn() && later.getChannel() == m.getChannel() && later.getNoteNumber() == m.getNoteNumber())
                    {
                        // The note-off moves to just after that note-on; what
                        // now stands at i is looked at next.
                        std::rotate (events.begin() + (std::ptrdiff_t) i, events.begin() + (std::ptrdiff_t) i + 1,
                                     events.begin() + (std::ptrdiff_t) j + 1);
                        --i;
                        break;
                    }
                }
            }
        }
    }
}

juce::Optional<juce::AudioPlayHead::PositionInfo> RenderPlayHead::getPosition() const
{
    const auto seconds = (double) position / sampleRate;
    const auto& segment = tempo.at (seconds);
    const auto ppq = segment.ppqAt (seconds);

    PositionInfo info;
    info.setBpm (segment.bpm);
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

        if (m.isMetaEvent() || m.isSysEx() || ! hasValidDataBytes (m))
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

    restoreZeroLengthNotes (score.events);

    if (score.events.empty())
    {
        score = {};
        return juce::Result::fail ("holds no notes or other channel events");
    }

    return juce::Result::ok();
}
