// The transport read-out's texts.

#include "editor/TransportText.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double notANumber = std::numeric_limits<double>::quiet_NaN();
}

TEST (TransportText, Timecode)
{
    struct Case { double seconds; const char* text; };
    const Case cases[] {
        { 0.0, "00:00:00.000" },
        { 3723.4567, "01:02:03.457" },
        { -1.5, "00:00:01.500" },       // less than an hour back: no sign
        { -3600.25, "-1:00:00.250" },   // the sign takes the leading zero's place
        { 59.9995, "00:01:00.000" },    // rounds up into the next minute
        { 0.0005, "00:00:00.000" },     // halves round to even
        { 0.0015, "00:00:00.002" },
        { 86399.999, "23:59:59.999" },
        { 360000.0, "100:00:00.000" },  // hours grow past two digits
        { 2147484.0, "596:31:24.000" }, // past the range of int milliseconds
        { -7322.5, "-2:02:02.500" },
        { 1.0e300, "277777:46:40.000" }, // held at a billion seconds
        { -1.0e300, "-277777:46:40.000" },
        { inf, "00:00:00.000" },
        { -inf, "00:00:00.000" },
        { notANumber, "00:00:00.000" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (TransportText::timeToTimecodeString (c.seconds), c.text) << c.seconds;
}

TEST (TransportText, BarsAndBeats)
{
    struct Case { double q; int num, den; const char* text; };
    const Case cases[] {
        { 0.0, 4, 4, "1|1|000" },
        { 5.5, 4, 4, "2|2|480" },
        { 7.0, 3, 4, "3|2|000" },
        { 3.25, 4, 4, "1|4|240" },
        { 16.0, 4, 4, "5|1|000" },
        // 6/8: three quarter notes a bar, six beats of an eighth
        { 3.0, 6, 8, "2|1|000" },
        { 4.5, 6, 8, "2|4|000" },
        // 7/8 is counted in whole quarter notes: three a bar
        { 3.0, 7, 8, "2|1|000" },
        { 1.5, 7, 8, "1|4|480" },
        // bars shorter than a quarter note, at their exact length
        { 0.0, 1, 8, "1|1|000" },
        { 1.25, 1, 8, "3|1|480" },
        { 1.0, 1, 16, "5|1|000" },
        { 0.375, 3, 16, "1|2|480" },
        { 0.75, 3, 16, "2|1|000" },
        { 0.5, 3, 16, "1|3|000" },
        // pre-roll counts back from bar 1
        { -1.0, 4, 4, "0|4|000" },
        { -4.0, 4, 4, "0|1|000" },
        { -4.5, 4, 4, "-1|4|480" },
        { -0.25, 1, 8, "0|1|480" },
        // no time signature, or a nonsensical one
        { 5.5, 0, 4, "1|1|000" },
        { 5.5, 4, 0, "1|1|000" },
        { 5.5, 0, 0, "1|1|000" },
        { 5.5, -4, 4, "1|1|000" },
        { 5.5, 4, -4, "1|1|000" },
        // positions that are not finite
        { notANumber, 4, 4, "1|1|000" },
        { inf, 4, 4, "1|1|000" },
        { -inf, 3, 4, "1|1|000" },
        // huge values
        { 1.0e300, 4, 4, "250000001|1|000" },
        { 1.0e9, 4, 4, "250000001|1|000" },
        { 2.0, std::numeric_limits<int>::max(), 1, "1|1|480" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (TransportText::quarterNotePositionToBarsBeatsString (c.q, c.num, c.den), c.text)
            << c.q << " in " << c.num << "/" << c.den;
}

TEST (TransportText, LabelsWithTheProcessorsDefaults)
{
    juce::AudioPlayHead::CurrentPositionInfo info;
    info.resetToDefault();

    const auto version = juce::SystemStats::getJUCEVersion();
    EXPECT_EQ (TransportText::timecodeLabelText (info), "[" + version + "]   120.00 bpm, 4/4  -  00:00:00.000  -  1|1|000");
    EXPECT_EQ (TransportText::tempoLabelText (info), "120.00 4/4");

    info.bpm = 93.456;
    info.timeSigNumerator = 1;
    info.timeSigDenominator = 8;
    info.timeInSeconds = 3723.4567;
    info.ppqPosition = 1.25;
    info.isPlaying = true;
    EXPECT_EQ (TransportText::timecodeLabelText (info), "[" + version + "]   93.46 bpm, 1/8  -  01:02:03.457  -  3|1|480  (playing)");
    EXPECT_EQ (TransportText::tempoLabelText (info), "93.46 1/8");

    info.isRecording = true;
    info.bpm = notANumber;
    EXPECT_TRUE (TransportText::timecodeLabelText (info).endsWith ("  (recording)"));
    EXPECT_EQ (TransportText::tempoLabelText (info), "0.00 1/8");
}
