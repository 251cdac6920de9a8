// The renderer's reading of standard MIDI files: where each event lands, the
// tempo map the play head reports, and files it must refuse.

#include "MidiScore.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <vector>

namespace
{
    constexpr double rate = 48000.0;

    /** A MIDI file written byte by byte, so that headers no writer would
        produce (a zero time division, say) can be tried. */
    struct MidiBytes
    {
        std::vector<juce::uint8> bytes;

        MidiBytes (int division, int numTracks = 1)
        {
            add ({ 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1 });
            add ({ (juce::uint8) (numTracks >> 8), (juce::uint8) numTracks });
            add ({ (juce::uint8) ((division >> 8) & 0xff), (juce::uint8) (division & 0xff) });
        }

        void add (std::initializer_list<juce::uint8> b) { bytes.insert (bytes.end(), b); }

        /** A track of (delta, event bytes) pairs, closed with an end-of-track event. */
        void track (const std::vector<std::pair<juce::uint32, std::vector<juce::uint8>>>& events)
        {
            std::vector<juce::uint8> body;

            for (const auto& [delta, event] : events)
            {
                // Variable-length quantity, seven bits per byte, most significant first.
                std::vector<juce::uint8> vlq { (juce::uint8) (delta & 0x7f) };
                for (auto d = delta >> 7; d > 0; d >>= 7)
                    vlq.insert (vlq.begin(), (juce::uint8) (0x80 | (d & 0x7f)));

                body.insert (body.end(), vlq.begin(), vlq.end());
                body.insert (body.end(), event.begin(), event.end());
            }

            for (auto b : { 0, 0xff, 0x2f, 0 })
                body.push_back ((juce::uint8) b);

            const auto n = (juce::uint32) body.size();
            add ({ 'M', 'T', 'r', 'k', (juce::uint8) (n >> 24), (juce::uint8) (n >> 16), (juce::uint8) (n >> 8), (juce::uint8) n });
            bytes.insert (bytes.end(), body.begin(), body.end());
        }

        juce::Result read (MidiScore& score) const
        {
            juce::MemoryInputStream in (bytes.data(), bytes.size(), false);
            return readMidiScore (in, rate, score);
        }
    };

    const std::vector<juce::uint8> noteOn { 0x90, 60, 100 }, noteOff { 0x80, 60, 0 };

    std::vector<juce::uint8> tempo (juce::uint32 microsecondsPerQuarter)
    {
        return { 0xff, 0x51, 0x03, (juce::uint8) (microsecondsPerQuarter >> 16),
                 (juce::uint8) (microsecondsPerQuarter >> 8), (juce::uint8) microsecondsPerQuarter };
    }
}

// 96 ticks per quarter: half a second per quarter at first, a whole second
// after the change at tick 96. Tempo lives on its own track, as in type-1 files.
TEST (MidiScore, EventsLandOnTheSamplesTheTempoMapGives)
{
    MidiBytes file (96, 2);
    file.track ({ { 0, tempo (500000) }, { 96, tempo (1000000) } });
    file.track ({ { 0, noteOn }, { 96, { 0xe0, 0, 0x40 } }, { 96, noteOff }, { 0, { 0xf0, 0x01, 0x02, 0xf7 } } });

    MidiScore score;
    ASSERT_TRUE (file.read (score).wasOk());

    // Meta and SysEx events are not passed on.
    ASSERT_EQ (score.events.size(), 3u);
    EXPECT_TRUE (score.events[0].message.isNoteOn());
    EXPECT_EQ (score.events[0].sample, 0);
    EXPECT_TRUE (score.events[1].message.isPitchWheel());
    EXPECT_EQ (score.events[1].sample, 24000);
    EXPECT_TRUE (score.events[2].message.isNoteOff());
    EXPECT_EQ (score.events[2].sample, 72000);
    EXPECT_DOUBLE_EQ (score.lengthSeconds, 1.5);

    EXPECT_DOUBLE_EQ (score.tempo.at (0.25).bpm, 120.0);
    EXPECT_DOUBLE_EQ (score.tempo.at (1.0).bpm, 60.0);
    EXPECT_DOUBLE_EQ (score.tempo.ppqAt (0.5), 1.0);
    EXPECT_DOUBLE_EQ (score.tempo.ppqAt (1.5), 2.0);

    RenderPlayHead head (score.tempo, rate);
    head.setPosition (72000);
    const auto position = head.getPosition();
    ASSERT_TRUE (position.hasValue());
    EXPECT_DOUBLE_EQ (*position->getBpm(), 60.0);
    EXPECT_DOUBLE_EQ (*position->getPpqPosition(), 2.0);
    EXPECT_TRUE (position->getIsPlaying());
}

// A zero time division has no tick length: the framework left such a file's
// ticks unconverted (read as seconds), or divided by zero for SMPTE timing and
// handed on infinite times. A corrupt delta time far beyond any piece asked
// the renderer for weeks of audio. All are refused with a reason.
TEST (MidiScore, FilesWithoutAUsableTimeAreRefused)
{
    struct Case
    {
        const char* what;
        int division;
        std::vector<std::pair<juce::uint32, std::vector<juce::uint8>>> events;
        const char* reason;
    };

    const Case cases[] {
        { "zero ticks per quarter",     0x0000, { { 0, noteOn }, { 96, noteOff } },             "time division is zero" },
        { "SMPTE, zero ticks a frame",  0xe700, { { 0, noteOn }, { 96, noteOff } },             "time division is zero" },
        { "an event after 50 days",     0x0001, { { 0, tempo (0xffffff) }, { 0, noteOn }, { 0x0fffffff, noteOff } },
                                                                                                 "later than 3600 s" },
        { "only meta events",           0x0060, { { 0, tempo (500000) } },                     "holds no notes" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        MidiBytes file (c.division);
        file.track (c.events);

        MidiScore score;
        const auto result = file.read (score);
        EXPECT_TRUE (result.failed());
        EXPECT_TRUE (result.getErrorMessage().contains (c.reason)) << result.getErrorMessage();
        EXPECT_TRUE (score.events.empty());
    }

    // Just inside the limit is fine: an hour at 120 bpm and 1 tick per quarter.
    MidiBytes longFile (1);
    longFile.track ({ { 0, noteOn }, { 7200, noteOff } });
    MidiScore score;
    EXPECT_TRUE (longFile.read (score).wasOk());
    ASSERT_EQ (score.events.size(), 2u);
    EXPECT_EQ (score.events[1].sample, (juce::int64) (3600.0 * rate));

    // SMPTE timing with ticks: 25 frames of 40 ticks, so 1000 ticks a second.
    MidiBytes smpte (0xe728);
    smpte.track ({ { 0, noteOn }, { 1500, noteOff } });
    ASSERT_TRUE (smpte.read (score).wasOk());
    EXPECT_EQ (score.events[1].sample, (juce::int64) (1.5 * rate));
}

// The framework's reader puts note-offs before note-ons of the same time. For
// a key played again where it ends that is right; for a zero-length note it
// left a note-on that never ended (a note sounding on to the tail limit).
TEST (MidiScore, ZeroLengthNotesEndAndRepeatedKeysStayInOrder)
{
    const std::vector<juce::uint8> noteOn64 { 0x90, 64, 90 }, noteOff64 { 0x80, 64, 0 }, silentOn64 { 0x90, 64, 0 };

    MidiBytes file (96);
    file.track ({ { 0, noteOn }, { 96, noteOff }, { 0, noteOn }, { 96, noteOff },   // key 60: ends where it starts again
                  { 0, noteOn64 }, { 0, noteOff64 },                                // zero length, at 192
                  { 96, noteOn64 }, { 0, silentOn64 } });                          // again, with a note-on of velocity 0

    MidiScore score;
    ASSERT_TRUE (file.read (score).wasOk());

    juce::StringArray order;
    for (const auto& e : score.events)
        order.add (juce::String (e.sample / 24000) + (e.message.isNoteOn() ? " on " : " off ") + juce::String (e.message.getNoteNumber()));

    EXPECT_EQ (order.joinIntoString (", "),
               "0 on 60, 1 off 60, 1 on 60, 2 off 60, 2 on 64, 2 off 64, 3 on 64, 3 off 64");

    // Every note ends.
    std::map<int, int> sounding;
    for (const auto& e : score.events)
        sounding[e.message.getNoteNumber()] += e.message.isNoteOn() ? 1 : -1;

    for (const auto& [note, count] : sounding)
        EXPECT_EQ (count, 0) << note;
}

// The framework's reader takes data bytes as they stand. A corrupt file's note
// number of 240 indexed past the per-note tables; such events are skipped and
// the rest of the file plays.
TEST (MidiScore, EventsWithCorruptDataBytesAreSkipped)
{
    MidiBytes file (96);
    file.track ({ { 0, noteOn }, { 0, { 0x90, 0xf0, 0x40 } }, { 0, { 0xb0, 0x07, 0x90 } }, { 96, { 0x80, 0xf0, 0x00 } },
                  { 0, noteOff } });

    MidiScore score;
    ASSERT_TRUE (file.read (score).wasOk());
    ASSERT_EQ (score.events.size(), 2u);
    EXPECT_TRUE (score.events[0].message.isNoteOn());
    EXPECT_TRUE (score.events[1].message.isNoteOff());
    EXPECT_EQ (score.events[1].message.getNoteNumber(), 60);
}
