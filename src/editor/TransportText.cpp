#include "TransportText.h"

#include <cmath>

namespace
{
    // Beyond this the read-outs stop growing (about 31 years of seconds,
    // or of quarter notes at one a second); well inside the exact range
    // of doubles and 64-bit integers.
    constexpr double largestMagnitude = 1.0e9;

    double finiteOrZero (double x) noexcept
    {
        return std::isfinite (x) ? juce::jlimit (-largestMagnitude, largestMagnitude, x) : 0.0;
    }

    juce::String bpmText (double bpm)
    {
        return juce::String (std::isfinite (bpm) ? bpm : 0.0, 2);
    }
}

juce::String TransportText::timeToTimecodeString (double seconds)
{
    // nearbyint rounds halves to even in the default rounding mode.
    const auto ms = (juce::int64) std::nearbyint (finiteOrZero (seconds) * 1000.0);
    const auto a = ms < 0 ? -ms : ms;

    return juce::String::formatted ("%02lld:%02lld:%02lld.%03lld",
                                    (long long) (ms / 3600000),
                                    (long long) ((a / 60000) % 60),
                                    (long long) ((a / 1000) % 60),
                                    (long long) (a % 1000));
}

juce::String TransportText::quarterNotePositionToBarsBeatsString (double quarterNotes, int numerator, int denominator)
{
    if (numerator <= 0 || denominator <= 0 || ! std::isfinite (quarterNotes))
        return "1|1|000";

    const auto q = finiteOrZero (quarterNotes);
    const auto wholeQuarters = (juce::int64) numerator * 4 / denominator;

    // Whole quarter notes a bar where there is at least one; the exact
    // (fractional) length for bars shorter than a quarter note, which the
    // whole count would make zero.
    const auto perBar = wholeQuarters > 0 ? (double) wholeQuarters : (double) numerator * 4.0 / (double) denominator;

    auto inBar = std::fmod (q, perBar);
    juce::int64 bar;

    if (q >= 0.0 && wholeQuarters > 0)
    {
        bar = (juce::int64) q / wholeQuarters + 1;
    }
    else
    {
        bar = (juce::int64) std::floor (q / perBar) + 1;

        if (inBar < 0.0)
            inBar += perBar;

        // The sum can round up to the bar's length itself.
        if (inBar >= perBar)
            inBar = 0.0;
    }

    const auto beats = (inBar / perBar) * numerator;
    const auto beat = (juce::int64) beats + 1;
    const auto ticks = (int) (std::fmod (beats, 1.0) * 960.0 + 0.5);

    return juce::String::formatted ("%lld|%lld|%03d", (long long) bar, (long long) beat, ticks);
}

juce::String TransportText::timecodeLabelText (const juce::AudioPlayHead::CurrentPositionInfo& info)
{
    juce::String text;
    text << "[" << juce::SystemStats::getJUCEVersion() << "]   "
         << bpmText (info.bpm) << " bpm, " << info.timeSigNumerator << "/" << info.timeSigDenominator
         << "  -  " << timeToTimecodeString (info.timeInSeconds)
         << "  -  " << quarterNotePositionToBarsBeatsString (info.ppqPosition, info.timeSigNumerator, info.timeSigDenominator);

    if (info.isRecording)
        text << "  (recording)";
    else if (info.isPlaying)
        text << "  (playing)";

    return text;
}

juce::String TransportText::tempoLabelText (const juce::AudioPlayHead::CurrentPositionInfo& info)
{
    return bpmText (info.bpm) + " " + juce::String (info.timeSigNumerator) + "/" + juce::String (info.timeSigDenominator);
}
