#include "AudioAnalysis.h"
#include "ProcessorFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace
{
    double stressSeconds()
    {
        if (const auto* text = std::getenv ("KORVANE_STRESS_SECONDS"))
            return juce::jmax (0.5, std::atof (text));

        return 3.0;
    }

    // The suite always plays the same sequence, so that its result never
    // depends on the clock; `make soak` hands in a fresh seed each time.
    juce::int64 stressSeed()
    {
        if (const auto* text = std::getenv ("KORVANE_STRESS_SEED"))
            return std::atoll (text);

        return 1;
    }
}

// The audio thread renders without pause, as the wrapper's device callback
// would, and applies host automation before each block, while this thread
// plays the message thread: parameter changes at a
// high rate, waveform and mapping changes, state saves and restores, patch
// loads and voice counts swinging between 1 and 16.
TEST (Stress, AudioAndMessageThreadsShareTheEngine)
{
    const auto seed = stressSeed();
    std::cout << "stress seed " << seed << " (KORVANE_STRESS_SEED to repeat), "
              << stressSeconds() << " s (KORVANE_STRESS_SECONDS)" << std::endl;

    ProcessorRig rig (48000.0, 512);
    auto& p = rig.proc;
    rig.set ("limiter", 1.0f);

    std::atomic<bool> running { true };
    std::atomic<int> badSamples { 0 };
    std::atomic<int> nonFinite { 0 };
    std::atomic<int> blocks { 0 };
    std::atomic<double> longestBlockMs { 0.0 };

    std::thread audio ([&]
    {
        juce::Random random (seed);
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        midi.ensureSize (4096);

        while (running)
        {
            // Hosts send odd and changing block sizes.
            const auto n = random.nextInt ({ 1, 513 });
            buffer.setSize (2, n, false, false, true);
            midi.clear();

            for (int e = random.nextInt (4); --e >= 0;)
            {
                const auto note = random.nextInt ({ 30, 90 });
                const auto pos = random.nextInt (n);
                switch (random.nextInt (4))
                {
                    case 0:  midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) random.nextInt ({ 1, 128 })), pos); break;
                    case 1:  midi.addEvent (juce::MidiMessage::noteOff (1, note), pos); break;
                    case 2:  midi.addEvent (juce::MidiMessage::pitchWheel (1, random.nextInt (16384)), pos); break;
                    default: midi.addEvent (juce::MidiMessage::controllerEvent (1, random.nextInt (128), random.nextInt (128)), pos); break;
                }
            }

            // Host automation as the plug-in wrappers hand it over: on this
            // thread, before the block (voice and unison counts too).
            for (int c = random.nextInt (4); --c >= 0;)
            {
                const auto& param = p.paramMan.params[(size_t) random.nextInt ((int) p.paramMan.params.size())];

                if (param.paramId != "limiter")
                    setParameterLikeAWrapper (*p.apvts.getParameter (param.paramId), random.nextFloat());
            }

            const auto limitedBefore = p.apvts.getRawParameterValue ("limiter")->load() > 0.5f;
            const auto start = std::chrono::steady_clock::now();
            p.processBlock (buffer, midi);
            const auto ms = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count();

            if (ms > longestBlockMs)
                longestBlockMs = ms;

            // Full scale is only promised while the limiter is on for the whole block.
            const auto limited = limitedBefore && p.apvts.getRawParameterValue ("limiter")->load() > 0.5f;

            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < n; ++i)
                {
                    const auto x = buffer.getSample (c, i);
                    if (! std::isfinite (x))
                        ++nonFinite;
                    else if (limited && std::abs (x) > 1.0f)
                        ++badSamples;
                }

            ++blocks;
        }
    });

    // The built-in patch with the limiter on, so that every block stays within full scale.
    const auto limitedInitPatch = p.defaultPatchXml.replace ("<uiState", "<PARAM id=\"limiter\" value=\"1.0\"/>\r\n  <uiState");
    ASSERT_NE (limitedInitPatch, p.defaultPatchXml);

    juce::Random random (seed + 1);
    const auto& ids = p.waveManager.waveforms;
    const char* mappingKeys[] = { "env1_mappedParam", "env2_mappedParam", "lfo1_mappedParam", "lfo2_mappedParam" };
    const char* oscKeys[] = { "synth1_oscType", "synth2_oscType", "lfo1_oscType", "lfo2_oscType" };

    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double> (stressSeconds());
    int actions = 0;

    while (std::chrono::steady_clock::now() < until)
    {
        ++actions;
        const auto choice = random.nextInt (100);

        if (choice < 80)
        {
            const auto& param = p.paramMan.params[(size_t) random.nextInt ((int) p.paramMan.params.size())];

            if (param.paramId != "limiter")
                rig.set (param.paramId, random.nextFloat());
        }
        else if (choice < 85)
        {
            p.setModMapEntry (oscKeys[random.nextInt (4)], ids[random.nextInt (ids.size())]->getId());
            p.updateOscTypes();
        }
        else if (choice < 90)
        {
            const auto& target = p.paramMan.params[(size_t) random.nextInt ((int) p.paramMan.params.size())];
            p.setModMapEntry (mappingKeys[random.nextInt (4)], random.nextInt (10) == 0 ? juce::String ("bogus") : target.paramId);
        }
        else if (choice < 94)
        {
            juce::MemoryBlock state;
            p.getStateInformation (state);
            p.setStateInformation (state.getData(), (int) state.getSize());
        }
        else if (choice < 95)
        {
            EXPECT_TRUE (p.replaceState (limitedInitPatch).wasOk());
            p.updateOscTypes();
        }
        else if (choice < 96)
        {
            // The patch operations the screens use.
            switch (random.nextInt (4))
            {
                case 0:  p.savePatch ("stress.kvn"); break;
                case 1:  p.loadPatch ("stress.kvn"); p.updateOscTypes(); break;
                case 2:  p.randomizePatch(); p.updateOscTypes(); break;
                default: p.loadDefaultPatch ("Init[OA]"); p.updateOscTypes(); break;
            }

            rig.set ("limiter", 1.0f);
        }
        else
        {
            rig.set (random.nextBool() ? "synth1_voices" : "synth2_voices", random.nextFloat());
            rig.set (random.nextBool() ? "synth1_unison" : "synth2_unison", random.nextFloat());
        }

        if (actions % 64 == 0)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }

    running = false;
    audio.join();

    std::cout << "stress: " << blocks << " blocks, " << actions << " message-thread actions, longest block "
              << longestBlockMs.load() << " ms" << std::endl;

    EXPECT_GT (blocks.load(), 10);
    EXPECT_EQ (nonFinite.load(), 0);
    EXPECT_EQ (badSamples.load(), 0);
}
