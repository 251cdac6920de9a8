// Soak run through korvane-render, as a user renders: for each render a MIDI
// file of dense random notes, pitch bend and tempo changes over a held drone is
// written, and korvane-render plays it with a random sound given on its command
// line (--set for every parameter, --mod for both oscillators' shapes and all
// four mappings). Over the run every shape plays on both oscillators and every
// parameter is a mapping target.
//
// Checked in each WAV: the renderer succeeded; every sample finite; within
// [-1, 1] with the limiter on, below a blow-up bound otherwise; sound while the
// notes are held (renders set up so that they must sound); and the render fell
// quiet by the end of the tail, with no offset left (DC runaway).
//
// Usage: korvane_render_soak --render PATH [--seed N] [--minutes M] [--keep DIR]

#include "processor/PluginProcessor.h"

#include "SoakCommon.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_events/juce_events.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <set>

namespace
{
    using namespace SoakCommon;

    constexpr double maxTailSeconds = 4.0; // longer than any release chosen below (at most 3.1 s)
    constexpr int ticksPerQuarter = 480;

    struct Options
    {
        juce::File renderer;
        juce::int64 seed = juce::Time::currentTimeMillis();
        double minutes = 3.0;
        juce::File keep; // keeps the MIDI and WAV files of failed renders here
    };

    [[noreturn]] void usage()
    {
        std::cerr << "usage: korvane_render_soak --render PATH [--seed N] [--minutes M] [--keep DIR]" << std::endl;
        std::exit (2);
    }

    Options parse (int argc, char** argv)
    {
        Options o;
        const auto cwd = juce::File::getCurrentWorkingDirectory();

        for (int i = 1; i < argc; ++i)
        {
            const juce::String arg (argv[i]);

            if (i + 1 >= argc)
                usage();

            const juce::String value (argv[++i]);

            if (arg == "--render")       o.renderer = cwd.getChildFile (value);
            else if (arg == "--seed")    o.seed = value.getLargeIntValue();
            else if (arg == "--minutes") o.minutes = juce::jmax (0.05, value.getDoubleValue());
            else if (arg == "--keep")    o.keep = cwd.getChildFile (value);
            else                         usage();
        }

        if (! o.renderer.existsAsFile())
            usage();

        return o;
    }

    struct Render
    {
        juce::StringArray args;
        double lastEventSeconds = 0.0;
        double heldUntilSeconds = 0.0; // every window before this has notes held
        bool mustSound = false, limited = false, tailChecked = false;
        juce::String summary;
    };

    class RenderSoak
    {
    public:
        RenderSoak (const Options& o, juce::File folder) : options (o), work (std::move (folder)), random (o.seed)
        {
            std::vector<juce::String> ids;

            for (const auto& p : reference.paramMan.params)
                ids.push_back (p.paramId);

            targetCycle = std::make_unique<TargetCycle> (std::move (ids));

            for (auto* shape : reference.waveManager.waveforms)
                shapes.add (shape->getId());
        }

        int run()
        {
            // Enough renders for every shape on both oscillators and every parameter as a target.
            const auto renders = juce::jmax (shapes.size(), (int) std::ceil ((double) targetCycle->size() / 4.0));
            const auto seconds = juce::jmax (2.0, options.minutes * 60.0 / renders);

            for (int r = 0; r < renders; ++r)
                runOne (r, seconds);

            std::cout << "rendered " << juce::String (renderedSeconds, 1) << " s through korvane-render in " << renders
                      << " renders: " << notes << " notes, " << bends << " pitch bends, " << tempoChanges << " tempo changes\n"
                      << "shapes on Oscillator A " << shapesA.size() << "/" << shapes.size() << ", on Oscillator B "
                      << shapesB.size() << "/" << shapes.size() << "; parameters mapped " << mapped.size() << "/"
                      << targetCycle->size() << "\nrenders checked for sound " << soundChecked << ", for their end "
                      << tailsChecked << "; largest sample " << largest << ", largest offset left in a tail "
                      << largestTailOffset << "\n"
                      << (failures == 0 ? juce::String ("render soak passed") : juce::String (failures) + " FAILURES")
                      << " (seed " << options.seed << ")" << std::endl;

            return failures == 0 ? 0 : 1;
        }

    private:
        //==============================================================================
        void runOne (int index, double seconds)
        {
            Render render;
            render.mustSound = index % 2 == 0;
            const auto midiFile = work.getChildFile ("render-" + juce::String (index) + ".mid");
            const auto wavFile = work.getChildFile ("render-" + juce::String (index) + ".wav");

            writePerformance (midiFile, seconds, render);
            chooseSound (index, render);

            juce::StringArray command { options.renderer.getFullPathName(), "--midi", midiFile.getFullPathName(),
                                        "--out", wavFile.getFullPathName(), "--float", "--quiet",
                                        "--max-tail", juce::String (maxTailSeconds) };
            command.addArray (render.args);

            juce::ChildProcess child;

            if (! child.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
                return fail (index, "korvane-render could not be started", render, midiFile, wavFile);

            const auto output = child.readAllProcessOutput();
            child.waitForProcessToFinish (-1);

            if (child.getExitCode() != 0)
                return fail (index, "korvane-render failed (exit " + juce::String (child.getExitCode()) + "): " + output.trim(),
                             render, midiFile, wavFile);

            if (const auto problem = check (wavFile, render); problem.isNotEmpty())
                return fail (index, problem, render, midiFile, wavFile);

            midiFile.deleteFile();
            wavFile.deleteFile();
        }

        /** Dense notes over a drone, pitch bend, and a tempo change every few bars. */
        void writePerformance (const juce::File& file, double seconds, Render& render)
        {
            juce::MidiMessageSequence tempo, track;

            // A new tempo every one to four seconds (it moves the LFOs' rate);
            // note times are chosen in seconds and turned into ticks through it.
            struct Segment { double startSeconds, startTicks, bpm; };
            std::vector<Segment> segments;

            for (double t = 0.0, ticks = 0.0; t < seconds;)
            {
                const auto bpm = 60.0 + random.nextFloat() * 120.0;
                segments.push_back ({ t, ticks, bpm });
                tempo.addEvent (juce::MidiMessage::tempoMetaEvent ((int) (60.0e6 / bpm)), std::round (ticks));
                ++tempoChanges;

                const auto length = 1.0 + random.nextFloat() * 3.0;
                ticks = std::round (ticks + length * bpm / 60.0 * ticksPerQuarter);
                t += length;
            }

            const auto toTicks = [&segments] (double s)
            {
                auto* segment = &segments.front();
                for (auto& candidate : segments)
                    if (candidate.startSeconds <= s)
                        segment = &candidate;

                return segment->startTicks + (s - segment->startSeconds) * segment->bpm / 60.0 * ticksPerQuarter;
            };

            const auto drone = random.nextInt ({ 48, 72 });
            track.addEvent (juce::MidiMessage::noteOn (1, drone, (juce::uint8) 100), 0);
            ++notes;

            double lastOff = 0.0;

            for (double t = 0.0; t < seconds; t += 0.01 + random.nextFloat() * 0.07)
            {
                auto note = random.nextInt ({ 30, 100 });
                if (note == drone)
                    ++note;

                const auto off = juce::jmin (seconds, t + 0.01 + random.nextFloat() * 1.0);
                track.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) random.nextInt ({ 1, 128 })), toTicks (t));
                track.addEvent (juce::MidiMessage::noteOff (1, note), toTicks (off));
                lastOff = juce::jmax (lastOff, off);
                ++notes;

                if (random.nextInt (3) == 0)
                {
                    track.addEvent (juce::MidiMessage::pitchWheel (1, random.nextInt (16384)), toTicks (t));
                    ++bends;
                }
            }

            track.addEvent (juce::MidiMessage::noteOff (1, drone), toTicks (seconds));
            track.addEvent (juce::MidiMessage::pitchWheel (1, 8192), toTicks (seconds));
            track.updateMatchedPairs();

            juce::MidiFile midi;
            midi.setTicksPerQuarterNote (ticksPerQuarter);
            midi.addTrack (tempo);
            midi.addTrack (track);

            file.deleteFile();
            juce::FileOutputStream out (file);

            if (! out.openedOk() || ! midi.writeTo (out, 1))
            {
                std::cerr << "cannot write " << file.getFullPathName() << std::endl;
                std::exit (1);
            }

            render.lastEventSeconds = juce::jmax (seconds, lastOff);
            render.heldUntilSeconds = seconds; // the drone is held throughout
        }

        float between (float lo, float hi) { return lo + random.nextFloat() * (hi - lo); }

        /** Shapes by index (each on A once and on B once over the run), the next
            four targets of the shuffled cycle, random values for everything. */
        void chooseSound (int index, Render& render)
        {
            const auto shapeA = shapes[index % shapes.size()];
            const auto shapeB = shapes[(index + shapes.size() / 2) % shapes.size()];
            shapesA.insert (shapeA);
            shapesB.insert (shapeB);

            render.args.addArray ({ "--mod", "synth1_oscType=" + shapeA, "--mod", "synth2_oscType=" + shapeB,
                                    "--mod", "lfo1_oscType=" + shapes[random.nextInt (shapes.size())],
                                    "--mod", "lfo2_oscType=" + shapes[random.nextInt (shapes.size())] });

            juce::StringArray targets;

            for (auto* key : mappingKeys)
            {
                const auto target = targetCycle->next (render.mustSound ? quietingTargets : std::set<juce::String>());
                targets.add (target);
                mapped.insert (target);
                render.args.addArray ({ "--mod", juce::String (key) + "=" + target });
            }

            std::map<juce::String, float> values;

            for (const auto& p : reference.paramMan.params)
                values[p.paramId] = releaseIds.count (p.paramId) > 0 ? between (0.0f, maxRelease) : random.nextFloat();

            // Half the free renders without overdrive, so that their tails are judged.
            if (random.nextBool())
                values["fx_overdrive"] = 0.0f;

            if (render.mustSound)
                applyMustSoundSettings (random, [&values] (const juce::String& id, float value) { values[id] = value; });

            for (const auto& [id, value] : values)
                render.args.addArray ({ "--set", id + "=" + juce::String (value, 4) });

            render.limited = values["limiter"] > 0.5f && ! targets.contains ("limiter");
            render.tailChecked = values["fx_overdrive"] < maxOverdriveForTails
                              && std::none_of (targets.begin(), targets.end(),
                                               [] (const juce::String& t) { return tailTargets.count (t) > 0; });
            render.summary = "A " + shapeA + ", B " + shapeB + ", targets " + targets.joinIntoString (" ");
        }

        //==============================================================================
        juce::String check (const juce::File& wav, const Render& render)
        {
            juce::WavAudioFormat format;
            std::unique_ptr<juce::AudioFormatReader> reader (format.createReaderFor (new juce::FileInputStream (wav), true));

            if (reader == nullptr || reader->numChannels != 2 || reader->sampleRate != sampleRate)
                return "the output is not a stereo WAV at the render's rate";

            const auto length = (int) reader->lengthInSamples;
            juce::AudioBuffer<float> audio (2, length);
            reader->read (&audio, 0, length, 0, true, true);
            renderedSeconds += length / sampleRate;

            const auto window = (int) (0.25 * sampleRate);
            const auto heldEnd = (int) (render.heldUntilSeconds * sampleRate);

            for (int c = 0; c < 2; ++c)
            {
                const auto* x = audio.getReadPointer (c);

                for (int i = 0; i < length; ++i)
                {
                    if (! std::isfinite (x[i]))
                        return "sample " + juce::String (i) + " of channel " + juce::String (c) + " is not finite";

                    const auto magnitude = std::abs (x[i]);
                    largest = juce::jmax (largest, magnitude);

                    if (magnitude > (render.limited ? 1.0f : blowUpBound))
                        return "sample of " + juce::String (x[i]) + " at " + juce::String (i / sampleRate, 3) + " s"
                               + (render.limited ? " with the limiter on" : " (blow-up)");
                }
            }

            if (render.mustSound)
            {
                ++soundChecked;

                // The first window may hold a slow attack still rising.
                for (int start = window; start + window <= juce::jmin (heldEnd, length); start += window)
                {
                    double energy = 0.0;

                    for (int c = 0; c < 2; ++c)
                        for (int i = start; i < start + window; ++i)
                            energy += (double) audio.getSample (c, i) * audio.getSample (c, i);

                    const auto rms = std::sqrt (energy / window);

                    if (rms < soundFloorRms)
                        return "silence while notes are held (rms " + juce::String (rms) + " at " + juce::String (start / sampleRate, 2) + " s)";
                }
            }

            if (render.tailChecked)
            {
                // The render ends after 0.1 s below -100 dBFS, or at its tail
                // limit: the end of the file is either that silence or the
                // tail's last half second, which must be quiet and offset-free.
                ++tailsChecked;
                const auto ranToTheLimit = length / sampleRate >= render.lastEventSeconds + maxTailSeconds - 0.01;
                const auto from = length - (int) (silentTailSeconds * sampleRate);

                for (int c = 0; c < 2 && ranToTheLimit; ++c)
                {
                    double sum = 0.0, energy = 0.0;

                    for (int i = from; i < length; ++i)
                    {
                        sum += audio.getSample (c, i);
                        energy += (double) audio.getSample (c, i) * audio.getSample (c, i);
                    }

                    if (const auto problem = judgeSilentTail (c, sum, energy, (double) (length - from), largestTailOffset);
                        problem.isNotEmpty())
                        return problem;
                }
            }

            return {};
        }

        void fail (int index, const juce::String& what, const Render& render, const juce::File& midi, const juce::File& wav)
        {
            ++failures;
            std::cout << "FAIL in render " << index << ": " << what << "\n  " << render.summary << "\n  arguments: "
                      << render.args.joinIntoString (" ") << std::endl;

            if (options.keep != juce::File() && options.keep.createDirectory().wasOk())
            {
                midi.moveFileTo (options.keep.getChildFile (midi.getFileName()));
                wav.moveFileTo (options.keep.getChildFile (wav.getFileName()));
                std::cout << "  kept in " << options.keep.getFullPathName() << std::endl;
            }
        }

        Options options;
        juce::File work;
        juce::Random random;
        kvAP reference; // for the parameter and shape lists only

        std::unique_ptr<TargetCycle> targetCycle;
        juce::StringArray shapes;
        std::set<juce::String> shapesA, shapesB, mapped;
        double renderedSeconds = 0.0;
        float largest = 0.0f;
        double largestTailOffset = 0.0;
        juce::int64 notes = 0, bends = 0, tempoChanges = 0;
        int soundChecked = 0, tailsChecked = 0, failures = 0;
    };
}

int main (int argc, char** argv)
{
    const auto options = parse (argc, argv);

    // Never near the user's own files (the renderer inherits this home too).
    return SoakCommon::withTemporaryHome ([&] (const juce::File& home)
    {
        std::cout << "render soak seed " << options.seed << " (--seed to repeat), " << options.minutes
                  << " minutes of performance through " << options.renderer.getFullPathName() << std::endl;
        const auto work = home.getChildFile ("renders");
        work.createDirectory();
        RenderSoak soak (options, work);
        return soak.run();
    });
}
