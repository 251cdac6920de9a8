// korvane-render as a user runs it: a separate process, its exit code, what
// it prints and the file it leaves (or does not leave) behind.
#include "AudioAnalysis.h"
#include "ProcessorFixture.h"
#include "RenderToolRun.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

namespace
{
using namespace RenderToolRun;

struct Wav
{
    double sampleRate = 0.0;
    int channels = 0, bits = 0;
    bool isFloat = false;
    juce::AudioBuffer<float> audio;
};

Wav readWav (const juce::File& file)
{
    Wav wav;
    juce::WavAudioFormat format;
    std::unique_ptr<juce::AudioFormatReader> reader (format.createReaderFor (file.createInputStream().release(), true));

    if (reader == nullptr)
        return wav;

    wav.sampleRate = reader->sampleRate;
    wav.channels = (int) reader->numChannels;
    wav.bits = (int) reader->bitsPerSample;
    wav.isFloat = reader->usesFloatingPointData;
    wav.audio.setSize (wav.channels, (int) reader->lengthInSamples);
    reader->read (&wav.audio, 0, (int) reader->lengthInSamples, 0, true, true);
    return wav;
}

void writeMidi (const juce::File& file, std::function<void (juce::MidiMessageSequence&)> fill, bool withTempoChange)
{
    juce::MidiMessageSequence track;
    track.addEvent (juce::MidiMessage::tempoMetaEvent (500000), 0);             // 120 bpm

    if (withTempoChange)
        track.addEvent (juce::MidiMessage::tempoMetaEvent (1000000), 960);    // 60 bpm from beat 2

    fill (track);
    track.updateMatchedPairs();

    juce::MidiFile midi;
    midi.setTicksPerQuarterNote (480);
    midi.addTrack (track);
    file.deleteFile();
    juce::FileOutputStream out (file);
    ASSERT_TRUE (midi.writeTo (out));
}

/** First sample whose magnitude exceeds the threshold, or -1. */
int firstSoundAt (const juce::AudioBuffer<float>& audio, int from, float threshold = 0.01f)
{
    for (int i = from; i < audio.getNumSamples(); ++i)
        if (std::abs (audio.getSample (0, i)) > threshold)
            return i;

    return -1;
}
} // namespace

//==============================================================================
TEST (RenderTool, HeldNoteBecomesA24BitStereoFileAtItsPitch)
{
    Scratch scratch;
    const auto out = scratch.file ("a440.wav");
    const auto run = render (scratch, { "--notes", "69", "--seconds", "1.5", "--hold", "1", "--out", out.getFullPathName() });

    ASSERT_EQ (run.exitCode, 0) << run.err;
    EXPECT_TRUE (run.err.isEmpty()) << "stderr is not a terminal here, so no progress bar: " << run.err;

    auto values = keyValues (run.lastLine());
    for (const char* key : { "seconds", "cpu_seconds", "realtime_factor", "peak_dbfs", "rms_dbfs" })
        EXPECT_EQ (values.count (key), 1u) << "missing " << key << " in: " << run.lastLine();

    EXPECT_EQ (values["seconds"], "1.500");
    EXPECT_GT (values["realtime_factor"].getDoubleValue(), 0.0);

    const auto wav = readWav (out);
    ASSERT_EQ (wav.channels, 2);
    EXPECT_EQ (wav.sampleRate, 48000.0);
    EXPECT_EQ (wav.bits, 24);
    EXPECT_FALSE (wav.isFloat);
    ASSERT_EQ (wav.audio.getNumSamples(), 72000);

    // The held part is a 440 Hz sine in both channels; after the release it is silent.
    const auto* left = wav.audio.getReadPointer (0, 4800);
    EXPECT_NEAR (AudioAnalysis::frequencyFromCrossings (left, 38400, 48000.0), 440.0, 0.5);
    EXPECT_NEAR (AudioAnalysis::frequencyFromCrossings (wav.audio.getReadPointer (1, 4800), 38400, 48000.0), 440.0, 0.5);
    EXPECT_LT (AudioAnalysis::peak (wav.audio.getReadPointer (0, 60000), 12000), 1.0e-4);

    // The reported levels are those of the file.
    const auto peakDb = juce::Decibels::gainToDecibels (wav.audio.getMagnitude (0, wav.audio.getNumSamples()));
    EXPECT_NEAR (values["peak_dbfs"].getDoubleValue(), peakDb, 0.05);
    EXPECT_LT (values["rms_dbfs"].getDoubleValue(), values["peak_dbfs"].getDoubleValue());

    EXPECT_TRUE (scratch.leftovers ({ "a440.wav" }).isEmpty()) << scratch.leftovers ({ "a440.wav" }).joinIntoString (", ");
}

TEST (RenderTool, ProgressBarOnATerminalUnlessQuiet)
{
    if (! juce::File ("/usr/bin/script").existsAsFile())
        GTEST_SKIP() << "script(1) is needed to give the renderer a terminal";

    Scratch scratch;
    const auto out = scratch.file ("bar.wav").getFullPathName();
    const auto log = scratch.file ("tty.log");

    auto onTerminal = [&] (const juce::String& extra)
    {
        const auto command = quote (KORVANE_RENDER_EXE) + " --notes 60 --seconds 2 --out " + quote (out) + extra;
        const auto wrapped = "script -qec " + quote (command) + " " + quote (log.getFullPathName()) + " >/dev/null 2>&1 </dev/null";
        EXPECT_EQ (std::system (wrapped.toRawUTF8()), 0);
        return log.loadFileAsString();
    };

    const auto shown = onTerminal ("");
    EXPECT_TRUE (shown.contains ("rendering [")) << shown;
    EXPECT_TRUE (shown.contains ("100%")) << shown;
    EXPECT_FALSE (onTerminal (" --quiet").contains ("rendering ["));
}

TEST (RenderTool, FloatFilesOtherRatesAndOverridesApply)
{
    Scratch scratch;

    // 32-bit float at 44.1 kHz keeps the pitch.
    const auto flt = scratch.file ("float.wav");
    auto run = render (scratch, { "--notes", "69", "--seconds", "0.5", "--float", "--sample-rate", "44100", "--block-size", "100",
                                  "--out", flt.getFullPathName() });
    ASSERT_EQ (run.exitCode, 0) << run.err;
    auto wav = readWav (flt);
    EXPECT_TRUE (wav.isFloat);
    EXPECT_EQ (wav.bits, 32);
    EXPECT_EQ (wav.sampleRate, 44100.0);
    EXPECT_NEAR (AudioAnalysis::frequencyFromCrossings (wav.audio.getReadPointer (0, 4410), 17640, 44100.0), 440.0, 0.5);

    // --set reaches the engine: master volume 0 is silence.
    const auto quiet = scratch.file ("quiet.wav");
    run = render (scratch, { "--notes", "60,64,67", "--seconds", "0.3", "--set", "masterVol=0", "--out", quiet.getFullPathName() });
    ASSERT_EQ (run.exitCode, 0) << run.err;
    EXPECT_EQ (keyValues (run.lastLine())["peak_dbfs"], "-inf");

    // --mod reaches the voices: a sawtooth has a strong second harmonic, the sine none.
    const auto saw = scratch.file ("saw.wav");
    run = render (scratch, { "--notes", "57", "--seconds", "0.5", "--mod", "synth1_oscType=sawtooth_og",
                             "--mod", "synth2_oscType=sawtooth_og", "--set", "cutoff=1", "--out", saw.getFullPathName() });
    ASSERT_EQ (run.exitCode, 0) << run.err;
    wav = readWav (saw);
    const auto* x = wav.audio.getReadPointer (0, 4800);
    const auto fundamental = AudioAnalysis::powerAt (x, 16384, 220.0, 48000.0);
    const auto second = AudioAnalysis::powerAt (x, 16384, 440.0, 48000.0);
    EXPECT_GT (second, fundamental * 0.05);
}

TEST (RenderTool, MidiFileFollowsItsTempoMapAndEndsAfterTheTail)
{
    Scratch scratch;
    const auto mid = scratch.file ("tempo.mid");

    // Note 1 on beat 0, note 2 on beat 3: beats 0-2 at 120 bpm (1 s), beat 2-3 at 60 bpm (1 s).
    writeMidi (mid, [] (juce::MidiMessageSequence& t)
    {
        t.addEvent (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 0);
        t.addEvent (juce::MidiMessage::noteOff (1, 69), 240);
        t.addEvent (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 1440);
        t.addEvent (juce::MidiMessage::noteOff (1, 69), 1680);
    }, true);

    const auto out = scratch.file ("tempo.wav");
    const auto run = render (scratch, { "--midi", mid.getFullPathName(), "--out", out.getFullPathName(), "--quiet" });
    ASSERT_EQ (run.exitCode, 0) << run.err;

    const auto wav = readWav (out);
    const auto first = firstSoundAt (wav.audio, 0);
    const auto second = firstSoundAt (wav.audio, 48000);
    EXPECT_LT (first, 240);                                   // at once (after the attack)
    EXPECT_NEAR (second, 96000, 240);                          // 2 s: the slower tempo is honoured

    // The last note-off is at 2.25 s; the render stops once silent, long before the 10 s cap.
    EXPECT_GT (wav.audio.getNumSamples(), 108000);
    EXPECT_LT (wav.audio.getNumSamples(), 108000 + 48000);
    EXPECT_NEAR (keyValues (run.lastLine())["seconds"].getDoubleValue(), wav.audio.getNumSamples() / 48000.0, 0.001);
}

TEST (RenderTool, PatchFilesAreApplied)
{
    Scratch scratch;

    // A patch made by the processor itself, with the master volume at 0.
    const auto patch = scratch.file ("silent.kvn");
    {
        ProcessorRig rig;
        rig.set ("masterVol", 0.0f);
        patch.replaceWithText (rig.proc.buildPatchDataString());
    }

    const auto out = scratch.file ("patch.wav");
    const auto run = render (scratch, { "--patch", patch.getFullPathName(), "--notes", "60", "--seconds", "0.3",
                                        "--out", out.getFullPathName() });
    ASSERT_EQ (run.exitCode, 0) << run.err;
    EXPECT_EQ (keyValues (run.lastLine())["peak_dbfs"], "-inf");

    // Without it the same notes sound (the built-in patch).
    const auto plain = render (scratch, { "--notes", "60", "--seconds", "0.3", "--out", out.getFullPathName() });
    ASSERT_EQ (plain.exitCode, 0) << plain.err;
    EXPECT_GT (keyValues (plain.lastLine())["peak_dbfs"].getDoubleValue(), -30.0);
}

TEST (RenderTool, BadInputIsOneLineExitCodeTwoAndNoFile)
{
    Scratch scratch;
    scratch.file ("notes.txt").replaceWithText ("not a midi file");
    scratch.file ("other.xml").replaceWithText ("<?xml version=\"1.0\"?><settings volume=\"3\"/>");
    scratch.file ("noise.kvn").replaceWithData ("\x00\xff\xfe\x01garbage", 11);
    // A header with no time division, then one note.
    scratch.file ("zero.mid").replaceWithData ("MThd\0\0\0\6\0\0\0\1\0\0" "MTrk\0\0\0\x0c\0\x90\x3c\x64\x60\x80\x3c\0\0\xff\x2f\0", 34);
    const auto out = scratch.file ("out.wav").getFullPathName();
    const auto dir = scratch.dir.getFullPathName() + "/";

    struct Row
    {
        juce::StringArray args;
        const char* expected;   // part of the error line
    };

    const Row rows[] = {
        { { "--notes", "60", "--set", "nosuchparam=0.5", "--out", out },         "unknown parameter id 'nosuchparam'" },
        { { "--notes", "60", "--set", "cutoff=1.5", "--out", out },              "--set cutoff must lie between 0 and 1" },
        { { "--notes", "60", "--set", "cutoff=-0.1", "--out", out },             "--set cutoff must lie between 0 and 1" },
        { { "--notes", "60", "--set", "cutoff=loud", "--out", out },             "needs a number" },
        { { "--notes", "60", "--set", "cutoff", "--out", out },                  "--set needs ID=VALUE" },
        { { "--notes", "60", "--mod", "synth3_oscType=sine_og", "--out", out },  "unknown key 'synth3_oscType'" },
        { { "--notes", "60", "--mod", "synth1_oscType=triangle", "--out", out }, "unknown waveform id 'triangle'" },
        { { "--notes", "60", "--mod", "env1_mappedParam=volume", "--out", out }, "unknown parameter id 'volume'" },
        { { "--notes", "60", "--patch", dir + "missing.kvn", "--out", out },     "does not exist" },
        { { "--notes", "60", "--patch", dir + "other.xml", "--out", out },       "is not a Korvane patch" },
        { { "--notes", "60", "--patch", dir + "noise.kvn", "--out", out },       "is not a text file" },
        { { "--midi", dir + "missing.mid", "--out", out },                       "does not exist" },
        { { "--midi", dir + "notes.txt", "--out", out },                         "is not a standard MIDI file" },
        { { "--midi", dir + "zero.mid", "--out", out },                          "its time division is zero" },
        { { "--notes", "60,200", "--out", out },                                 "--notes must lie between 0 and 127" },
        { { "--notes", "60", "--velocity", "0", "--out", out },                  "--velocity must lie between 1 and 127" },
        { { "--notes", "60", "--sample-rate", "0", "--out", out },               "--sample-rate must lie between" },
        { { "--notes", "60", "--block-size", "12.5", "--out", out },             "--block-size must be a whole number" },
        { { "--notes", "60", "--tempo", "fast", "--out", out },                  "--tempo needs a number" },
        { { "--notes", "60", "--loud", "--out", out },                           "unknown option --loud" },
        { { "--notes", "60" },                                                   "no output file" },
        { { "--out", out },                                                      "nothing to play" },
        { { "--notes", "60", "--midi", dir + "notes.txt", "--out", out },        "either --midi or --notes" },
        { { "--notes", "60", "--out", dir + "no/such/folder/x.wav" },            "does not exist" },
    };

    for (const auto& row : rows)
    {
        const auto run = render (scratch, row.args);
        SCOPED_TRACE (row.args.joinIntoString (" "));
        EXPECT_EQ (run.exitCode, 2);
        EXPECT_TRUE (run.err.contains (row.expected)) << run.err;
        EXPECT_EQ (juce::StringArray::fromLines (run.err.trimEnd()).size(), 1) << run.err;
        EXPECT_TRUE (run.out.isEmpty());
        EXPECT_TRUE (scratch.leftovers ({ "notes.txt", "other.xml", "noise.kvn", "zero.mid" }).isEmpty())
            << scratch.leftovers ({ "notes.txt", "other.xml", "noise.kvn", "zero.mid" }).joinIntoString (", ");
    }
}

TEST (RenderTool, AFailedRenderLeavesAnExistingFileAlone)
{
    Scratch scratch;
    const auto out = scratch.file ("keep.wav");
    out.replaceWithText ("an older render");

    const auto run = render (scratch, { "--notes", "60", "--set", "cutoff=7", "--out", out.getFullPathName() });
    EXPECT_EQ (run.exitCode, 2);
    EXPECT_EQ (out.loadFileAsString(), "an older render");
    EXPECT_TRUE (scratch.leftovers ({ "keep.wav" }).isEmpty());
}
