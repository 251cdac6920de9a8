#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/** The texts of the transport read-out: time as a timecode, the musical
    position as bars, beats and ticks, and the two label lines built from
    a host position. Pure functions; every input, however odd (negative,
    huge, not finite), gives a short finite text. */
class TransportText
{
public:
    /** "hh:mm:ss.mmm" from seconds, rounded to the nearest millisecond
        (halves to even). The hours carry the sign ("-1:00:00.250"); a
        negative time of less than an hour shows its minutes, seconds and
        milliseconds without one. Not-finite times show as zero; times are
        held within about 30 years either way. */
    static juce::String timeToTimecodeString (double seconds);

    /** "bar|beat|ticks" (960 ticks a beat, bars and beats from 1) of a
        position in quarter notes. A bar holds numerator × 4 / denominator
        quarter notes, in whole quarter notes; a bar shorter than one
        quarter note (1/8, 1/16, 3/16 ...) is counted at its exact length.
        A numerator or denominator of 0 or less, or a position that is not
        finite, shows "1|1|000". Positions before 0 (a pre-roll) count
        back from bar 1: a quarter note before the start of 4/4 is "0|4|000". */
    static juce::String quarterNotePositionToBarsBeatsString (double quarterNotes, int numerator, int denominator);

    /** The long read-out: "[JUCE v7.0.5]   120.00 bpm, 4/4  -  00:00:00.000  -  1|1|000",
        followed by "  (recording)" or "  (playing)". */
    static juce::String timecodeLabelText (const juce::AudioPlayHead::CurrentPositionInfo& info);

    /** The short read-out: "120.00 4/4". */
    static juce::String tempoLabelText (const juce::AudioPlayHead::CurrentPositionInfo& info);
};
