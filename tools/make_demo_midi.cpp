// Writes the short demo tune that `make render` plays: two bars of chords and
// a melody at 96 bpm, then two bars at 132 bpm, so that the renderer's tempo
// handling is heard as well.
//
//   korvane-make-demo-midi OUT.mid
#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

#include <iostream>

namespace
{
    constexpr int ticksPerQuarter = 480;

    void addNote (juce::MidiMessageSequence& track, int note, double startBeats, double lengthBeats, int velocity)
    {
        const auto on = startBeats * ticksPerQuarter;
        const auto off = (startBeats + lengthBeats) * ticksPerQuarter;
        track.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) velocity), on);
        track.addEvent (juce::MidiMessage::noteOff (1, note), off);
    }
}

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: korvane-make-demo-midi OUT.mid" << std::endl;
        return 2;
    }

    juce::MidiMessageSequence tempo, chords, melody;
    tempo.addEvent (juce::MidiMessage::timeSignatureMetaEvent (4, 4), 0);
    tempo.addEvent (juce::MidiMessage::tempoMetaEvent ((int) (60000000.0 / 96.0)), 0);
    tempo.addEvent (juce::MidiMessage::tempoMetaEvent ((int) (60000000.0 / 132.0)), 8.0 * ticksPerQuarter);

    // A minor, F major, C major, G major: one bar each.
    const int progression[4][3] = { { 57, 60, 64 }, { 53, 57, 60 }, { 48, 52, 55 }, { 55, 59, 62 } };

    for (int bar = 0; bar < 4; ++bar)
        for (auto note : progression[bar])
            addNote (chords, note, bar * 4.0, 3.75, 80);

    const int tune[] = { 69, 72, 76, 74, 72, 69, 65, 67, 72, 76, 79, 76, 74, 71, 67, 74 };

    for (int i = 0; i < 16; ++i)
        addNote (melody, tune[i], i * 1.0, 0.9, 100);

    juce::MidiFile file;
    file.setTicksPerQuarterNote (ticksPerQuarter);
    file.addTrack (tempo);
    file.addTrack (chords);
    file.addTrack (melody);

    const auto out = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String::fromUTF8 (argv[1]));
    out.deleteFile();
    juce::FileOutputStream stream (out);

    if (! stream.openedOk() || ! file.writeTo (stream))
    {
        std::cerr << "korvane-make-demo-midi: cannot write " << out.getFullPathName() << std::endl;
        return 1;
    }

    return 0;
}
