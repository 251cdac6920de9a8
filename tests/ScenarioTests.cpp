// The benchmark's load scenarios as tests: each one sounds, stays finite, and
// renders without a single heap allocation on the audio thread, S3 (512
// voices, both modulation sources mapped) included.
#include "AllocationCounter.h"
#include "AudioAnalysis.h"
#include "Scenarios.h"

#include <gtest/gtest.h>

TEST (Scenarios, EachSoundsAndNeverAllocatesWhileRendering)
{
    for (int number = 1; number <= 3; ++number)
    {
        kvAP proc;
        const auto scenario = Scenarios::configure (proc, number);
        SCOPED_TRACE (scenario.name);

        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        midi.ensureSize (4096); // the host's buffer: its growth is not ours to count

        // Warm-up: the notes start and the framework sizes its voice lists.
        Scenarios::addNoteOns (scenario, midi);

        for (int i = 0; i < 10; ++i)
        {
            proc.processBlock (buffer, midi);
            midi.clear();
        }

        double sumSquares = 0.0;
        bool finite = true;
        size_t allocations = 0;

        {
            AllocationScope scope;

            for (int block = 0; block < 60; ++block)
            {
                midi.clear();

                // Notes are released and struck again (voices are stolen and
                // restarted), and the wheel moves.
                if (block % 10 == 3)
                {
                    const auto note = scenario.notes[(size_t) block % scenario.notes.size()];
                    midi.addEvent (juce::MidiMessage::noteOff (1, note), 5);
                    midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 90), 300);
                }

                midi.addEvent (juce::MidiMessage::pitchWheel (1, 8192 + block * 50), 100);
                proc.processBlock (buffer, midi);

                for (int c = 0; c < 2; ++c)
                {
                    finite = finite && AudioAnalysis::allFinite (buffer.getReadPointer (c), 512);
                    const auto r = AudioAnalysis::rms (buffer.getReadPointer (c), 512);
                    sumSquares += r * r;
                }
            }

            allocations = scope.allocations();
        }

        EXPECT_EQ (allocations, 0u);
        EXPECT_TRUE (finite);
        EXPECT_GT (std::sqrt (sumSquares / 120.0), 0.01) << "the scenario is (nearly) silent";
    }
}
