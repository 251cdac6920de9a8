// Soak run: a long random performance rendered through the processor, checked
// as it goes. Each segment picks waveforms for both oscillators (every shape in
// turn), maps the two envelopes and two LFOs onto parameters (every parameter
// in turn), randomises the sound and plays dense notes with pitch bend over a
// held drone, then releases everything and listens to the tail.
//
// Checked: every sample finite; within [-1, 1] while the limiter is on, and
// never beyond a blow-up bound otherwise; sound present in segments set up so
// that they must sound; the tail after the release decays to silence with no
// offset left (DC runaway). Prints the seed; --seed repeats a run.
//
// Usage: korvane_soak [--seed N] [--minutes M] [--verbose]

#include "diagnostics/Notices.h"
#include "processor/PluginProcessor.h"

#include "SoakCommon.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace
{
    using namespace SoakCommon;

    constexpr int maxBlock = 1024;
    constexpr double playSeconds = 4.0;
    constexpr double tailSeconds = 4.0;

    // The keyboard state also marks the MIDI input's notes; its own notes go
    // on a channel of their own so that neither releases the other's.
    constexpr int keyboardChannel = 2;

    struct Options
    {
        juce::int64 seed = juce::Time::currentTimeMillis();
        double minutes = 4.0;
        bool verbose = false;
    };

    Options parse (int argc, char** argv)
    {
        Options o;

        for (int i = 1; i < argc; ++i)
        {
            const juce::String arg (argv[i]);

            if (arg == "--seed" && i + 1 < argc)
                o.seed = juce::String (argv[++i]).getLargeIntValue();
            else if (arg == "--minutes" && i + 1 < argc)
                o.minutes = juce::jmax (0.1, juce::String (argv[++i]).getDoubleValue());
            else if (arg == "--verbose")
                o.verbose = true;
            else
            {
                std::cerr << "usage: korvane_soak [--seed N] [--minutes M] [--verbose]" << std::endl;
                std::exit (2);
            }
        }

        return o;
    }

    struct Note
    {
        int number;
        juce::int64 offAt; // sample position of its note-off
        bool fromKeyboard; // played on the on-screen keyboard, released there too
    };

    class Soak
    {
    public:
        explicit Soak (const Options& o) : options (o), random (o.seed)
        {
            proc.setRateAndBufferSizeDetails (sampleRate, maxBlock);
            proc.prepareToPlay (sampleRate, maxBlock);
            buffer.setSize (proc.getTotalNumOutputChannels(), maxBlock);
            midi.ensureSize (8192);

            std::vector<juce::String> ids;

            for (const auto& p : proc.paramMan.params)
                ids.push_back (p.paramId);

            shuffle (ids);
            targetCycle = std::make_unique<TargetCycle> (std::move (ids));
        }

        int run()
        {
            const auto segmentSeconds = playSeconds + tailSeconds;
            const auto segments = juce::jmax (1, (int) std::ceil (options.minutes * 60.0 / segmentSeconds));

            for (int s = 0; s < segments; ++s)
                runSegment (s);

            std::cout << "\nrendered " << juce::String (renderedSamples / sampleRate, 1) << " s in " << segments << " segments: "
                      << blocks << " blocks, " << notesPlayed << " notes, " << bends << " pitch bends, "
                      << parameterChanges << " parameter changes, " << shapeChanges << " waveform changes\n"
                      << "shapes played on Oscillator A " << shapesA.size() << "/" << proc.waveManager.waveforms.size()
                      << ", on Oscillator B " << shapesB.size() << "/" << proc.waveManager.waveforms.size()
                      << "; parameters mapped " << targetsMapped.size() << "/" << proc.paramMan.params.size() << "\n"
                      << "largest sample " << largestSample << " (limiter off), " << largestLimited << " (limiter on)\n"
                      << "segments checked for sound " << soundChecked << ", tails checked " << tailsChecked
                      << "; largest offset left in a silent tail " << largestTailOffset << "\n"
                      << (failures == 0 ? juce::String ("soak passed") : juce::String (failures) + " FAILURES") << " (seed " << options.seed << ")" << std::endl;

            return failures == 0 ? 0 : 1;
        }

    private:
        //==============================================================================
        void runSegment (int index)
        {
            // Odd segments are free; even ones are set up so that they must sound.
            const bool mustSound = index % 2 == 0;
            const auto& shapes = proc.waveManager.waveforms;

            const auto shapeA = shapes[index % shapes.size()]->getId();
            const auto shapeB = shapes[(index + shapes.size() / 2) % shapes.size()]->getId();
            setShape ("synth1_oscType", shapeA);
            setShape ("synth2_oscType", shapeB);
            setShape ("lfo1_oscType", shapes[random.nextInt (shapes.size())]->getId());
            setShape ("lfo2_oscType", shapes[random.nextInt (shapes.size())]->getId());

            std::vector<juce::String> targets;
            for (auto* key : mappingKeys)
            {
                targets.push_back (targetCycle->next (mustSound ? quietingTargets : std::set<juce::String>()));
                proc.setModMapEntry (key, targets.back());
                targetsMapped.insert (targets.back());
            }

            randomiseSound (mustSound);

            const bool tailChecked = std::none_of (targets.begin(), targets.end(),
                                                   [] (const juce::String& t) { return tailTargets.count (t) > 0; });
            // The limiter holds the output within full scale while it is on,
            // unless a source drives it between blocks.
            const bool limiterMapped = std::find (targets.begin(), targets.end(), juce::String ("limiter")) != targets.end();
            bool everLimited = false;

            segment = index;
            segmentStart = renderedSamples;
            const auto playEnd = segmentStart + (juce::int64) (playSeconds * sampleRate);
            const auto segmentEnd = playEnd + (juce::int64) (tailSeconds * sampleRate);

            std::vector<double> windowEnergy; // per 0.25 s of the play part
            std::vector<double> tailEnergy ((size_t) buffer.getNumChannels(), 0.0), tailSum ((size_t) buffer.getNumChannels(), 0.0);
            juce::int64 tailCount = 0;
            const auto window = (juce::int64) (0.25 * sampleRate);
            const auto silentFrom = segmentEnd - (juce::int64) (silentTailSeconds * sampleRate);

            std::vector<Note> held;
            const int drone = random.nextInt ({ 48, 72 });
            juce::int64 nextNoteAt = segmentStart;
            juce::int64 nextChangeAt = segmentStart;
            bool released = false;

            while (renderedSamples < segmentEnd)
            {
                const auto n = (int) juce::jmin ((juce::int64) random.nextInt ({ 16, maxBlock + 1 }), segmentEnd - renderedSamples);
                const auto blockEnd = renderedSamples + n;
                midi.clear();

                if (renderedSamples == segmentStart)
                    addNoteOn (drone, 100, 0);

                if (blockEnd <= playEnd)
                {
                    // Dense notes: a new one every 10 to 80 ms, up to about a second long.
                    while (nextNoteAt < blockEnd)
                    {
                        const auto at = (int) (nextNoteAt - renderedSamples);
                        auto note = random.nextInt ({ 30, 100 });
                        if (note == drone)
                            ++note; // a note-off of the drone's number would end the drone
                        const auto velocity = random.nextInt ({ 1, 128 });
                        // A key of the on-screen keyboard cannot be pressed twice without being released.
                        const bool fromKeyboard = random.nextInt (8) == 0 && ! proc.keyboardState.isNoteOn (keyboardChannel, note);

                        if (fromKeyboard)
                        {
                            proc.keyboardState.noteOn (keyboardChannel, note, (float) velocity / 127.0f);
                            ++notesPlayed;
                        }
                        else
                        {
                            addNoteOn (note, velocity, at);
                        }

                        held.push_back ({ note, nextNoteAt + random.nextInt ({ 500, 48000 }), fromKeyboard });
                        nextNoteAt += random.nextInt ({ 480, 3840 });
                    }

                    if (random.nextInt (3) == 0)
                    {
                        midi.addEvent (juce::MidiMessage::pitchWheel (1, random.nextInt (16384)), random.nextInt (n));
                        ++bends;
                    }

                    if (! mustSound && blockEnd >= nextChangeAt)
                    {
                        automate();
                        nextChangeAt = blockEnd + random.nextInt ({ 480, 9600 });
                    }
                }
                else if (! released)
                {
                    releaseAll (held, drone, (int) juce::jmax ((juce::int64) 0, playEnd - renderedSamples));
                    released = true;
                }

                for (auto it = held.begin(); it != held.end();)
                {
                    if (it->offAt < blockEnd && blockEnd <= playEnd)
                    {
                        release (*it, (int) juce::jmax ((juce::int64) 0, it->offAt - renderedSamples));
                        it = held.erase (it);
                    }
                    else
                    {
                        ++it;
                    }
                }

                const bool limited = getValue ("limiter") > 0.5f && ! limiterMapped;
                everLimited = everLimited || limited;

                buffer.setSize (buffer.getNumChannels(), n, false, false, true);
                buffer.clear();
                const auto silencedBefore = proc.outputGuard.getSilencedBlocks();
                proc.processBlock (buffer, midi);
                ++blocks;

                // The output guard turns a non-finite block into silence; that is a failure here.
                if (proc.outputGuard.getSilencedBlocks() != silencedBefore)
                    return fail ("a block held a non-finite sample (the output guard silenced it)", renderedSamples);

                for (int i = 0; i < n; ++i)
                {
                    const auto t = renderedSamples + i;
                    double energy = 0.0;

                    for (int c = 0; c < buffer.getNumChannels(); ++c)
                    {
                        const auto x = buffer.getSample (c, i);

                        if (! std::isfinite (x))
                            return fail ("sample " + juce::String (c) + " is not finite", t);

                        const auto magnitude = std::abs (x);

                        if (limited)
                        {
                            largestLimited = juce::jmax (largestLimited, magnitude);
                            if (magnitude > 1.0f)
                                return fail ("sample of " + juce::String (x) + " with the limiter on", t);
                        }
                        else
                        {
                            largestSample = juce::jmax (largestSample, magnitude);
                            if (magnitude > blowUpBound)
                                return fail ("sample of " + juce::String (x) + " (blow-up)", t);
                        }

                        energy += (double) x * x;

                        if (t >= silentFrom)
                        {
                            tailEnergy[(size_t) c] += (double) x * x;
                            tailSum[(size_t) c] += x;
                        }
                    }

                    if (t < playEnd)
                    {
                        const auto w = (size_t) ((t - segmentStart) / window);
                        if (windowEnergy.size() <= w)
                            windowEnergy.resize (w + 1, 0.0);
                        windowEnergy[w] += energy;
                    }
                    else if (t >= silentFrom)
                    {
                        ++tailCount;
                    }
                }

                renderedSamples = blockEnd;
            }

            juce::String summary;
            summary << "segment " << index << (mustSound ? " (must sound)" : " (free)") << ": A " << shapeA << ", B " << shapeB
                    << ", targets " << juce::StringArray (targets.data(), (int) targets.size()).joinIntoString (" ")
                    << (everLimited ? ", limited" : "");

            if (mustSound)
            {
                ++soundChecked;

                // Skip the first window: a slow attack may still be rising there.
                const auto fullWindows = juce::jmin (windowEnergy.size(), (size_t) ((playEnd - segmentStart) / window));

                for (size_t w = 1; w < fullWindows; ++w)
                {
                    const auto rms = std::sqrt (windowEnergy[w] / (double) window);
                    if (rms < soundFloorRms)
                        return fail ("silence while notes are held (rms " + juce::String (rms) + " in window " + juce::String ((int) w) + ")",
                                     segmentStart + (juce::int64) w * window, summary);
                }
            }

            if (tailChecked && tailCount > 0 && getValue ("fx_overdrive") < maxOverdriveForTails)
            {
                ++tailsChecked;
                for (size_t c = 0; c < tailSum.size(); ++c)
                    if (const auto problem = judgeSilentTail ((int) c, tailSum[c], tailEnergy[c], (double) tailCount, largestTailOffset);
                        problem.isNotEmpty())
                        return fail (problem, silentFrom, summary);
            }

            if (options.verbose)
                std::cout << summary << std::endl;
        }

        //==============================================================================
        void addNoteOn (int note, int velocity, int at)
        {
            midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) velocity), at);
            ++notesPlayed;
        }

        void release (const Note& note, int at)
        {
            if (note.fromKeyboard)
                proc.keyboardState.noteOff (keyboardChannel, note.number, 0.0f);
            else
                midi.addEvent (juce::MidiMessage::noteOff (1, note.number), at);
        }

        void releaseAll (std::vector<Note>& held, int drone, int at)
        {
            for (const auto& note : held)
                release (note, at);

            midi.addEvent (juce::MidiMessage::noteOff (1, drone), at);
            midi.addEvent (juce::MidiMessage::pitchWheel (1, 8192), at);
            held.clear();
        }

        void setShape (const char* key, const juce::String& id)
        {
            proc.setModMapEntry (key, id);
            proc.updateOscTypes();
            ++shapeChanges;

            if (juce::String (key) == "synth1_oscType") shapesA.insert (id);
            if (juce::String (key) == "synth2_oscType") shapesB.insert (id);
        }

        void set (const juce::String& id, float value)
        {
            proc.apvts.getParameter (id)->setValueNotifyingHost (value);
            ++parameterChanges;
        }

        float getValue (const juce::String& id) const { return proc.getParamValue (id); }

        float between (float lo, float hi) { return lo + random.nextFloat() * (hi - lo); }

        void randomiseSound (bool mustSound)
        {
            for (const auto& p : proc.paramMan.params)
                set (p.paramId, releaseIds.count (p.paramId) > 0 ? between (0.0f, maxRelease) : random.nextFloat());

            // Half the free segments without overdrive, so that their tails are judged.
            if (! mustSound && random.nextBool())
                set ("fx_overdrive", 0.0f);

            if (mustSound)
                applyMustSoundSettings (random, [this] (const juce::String& id, float value) { set (id, value); });
        }

        /** A free segment's automation: one parameter, a waveform or a mapping changes. */
        void automate()
        {
            const auto choice = random.nextInt (10);
            const auto& shapes = proc.waveManager.waveforms;

            if (choice == 0)
            {
                const char* keys[] = { "synth1_oscType", "synth2_oscType", "lfo1_oscType", "lfo2_oscType" };
                setShape (keys[random.nextInt (4)], shapes[random.nextInt (shapes.size())]->getId());
            }
            else
            {
                const auto& p = proc.paramMan.params[(size_t) random.nextInt ((int) proc.paramMan.params.size())];
                set (p.paramId, releaseIds.count (p.paramId) > 0 ? between (0.0f, maxRelease) : random.nextFloat());
            }
        }

        static int activeVoices (const SynthGroup& section)
        {
            int count = 0;

            for (auto& synth : section.synths)
                for (int v = 0; v < synth->getNumVoices(); ++v)
                    count += synth->getVoice (v)->isVoiceActive() ? 1 : 0;

            return count;
        }

        void shuffle (std::vector<juce::String>& v)
        {
            for (int i = (int) v.size() - 1; i > 0; --i)
                std::swap (v[(size_t) i], v[(size_t) random.nextInt (i + 1)]);
        }

        void fail (const juce::String& what, juce::int64 atSample, const juce::String& context = {})
        {
            ++failures;
            std::cout << "FAIL in segment " << segment << " at " << juce::String (atSample / sampleRate, 3) << " s: " << what << std::endl;

            if (context.isNotEmpty())
                std::cout << "  " << context << std::endl;

            std::cout << "  voices still active: Oscillator A " << activeVoices (proc.synth1)
                      << ", Oscillator B " << activeVoices (proc.synth2) << "; notes held " << proc.activeNotes.load() << std::endl;
            std::cout << "  patch: " << proc.buildPatchDataString().replace ("\r\n", " ") << std::endl;

            // Carry on from the next segment with every note stopped and a clean output stage.
            renderedSamples = segmentStart + (juce::int64) ((playSeconds + tailSeconds) * sampleRate);

            for (auto* section : { &proc.synth1, &proc.synth2 })
                for (auto& synth : section->synths)
                    synth->allNotesOff (0, false);

            proc.keyboardState.reset();
            proc.prepareToPlay (sampleRate, maxBlock);
        }

        Options options;
        juce::Random random;
        kvAP proc;
        juce::AudioBuffer<float> buffer;
        juce::MidiBuffer midi;

        std::unique_ptr<TargetCycle> targetCycle;

        int segment = 0;
        juce::int64 segmentStart = 0, renderedSamples = 0;
        juce::int64 blocks = 0, notesPlayed = 0, bends = 0, parameterChanges = 0, shapeChanges = 0;
        std::set<juce::String> shapesA, shapesB, targetsMapped;
        float largestSample = 0.0f, largestLimited = 0.0f;
        double largestTailOffset = 0.0;
        int soundChecked = 0, tailsChecked = 0, failures = 0;
    };
}

int main (int argc, char** argv)
{
    const auto options = parse (argc, argv);

    // Never near the user's own files.
    return SoakCommon::withTemporaryHome ([&] (const juce::File&)
    {
        Notices::setHandler (Notices::toStandardError());
        std::cout << "soak seed " << options.seed << " (--seed to repeat), " << options.minutes << " minutes of audio" << std::endl;
        Soak soak (options);
        return soak.run();
    });
}
