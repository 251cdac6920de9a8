#pragma once

// What both soak runs share: the thresholds they judge by, the parameters
// they treat specially, and a private home folder for the run.

#include <juce_events/juce_events.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <string>

namespace SoakCommon
{
    constexpr double sampleRate = 48000.0;
    constexpr double silentTailSeconds = 0.5; // the end of the tail that must be silent
    constexpr float blowUpBound = 4096.0f;
    constexpr double soundFloorRms = 1.0e-3;  // per 0.25 s window, both channels
    constexpr double silenceRms = 1.0e-4;     // of the tail's signal around its mean
    constexpr double dcLimit = 1.0e-2;        // -40 dB: an offset above this is a runaway

    inline const char* const mappingKeys[] = { "env1_mappedParam", "env2_mappedParam", "lfo1_mappedParam", "lfo2_mappedParam" };
    inline const char* const factorIds[] = { "env1_factor", "env2_factor", "lfo1_factor", "lfo2_factor" };

    // Kept low everywhere, so that tails can be checked: with "adsrTime" at
    // most 1 a release of 0.3 lasts at most 3.1 s.
    inline const std::set<juce::String> releaseIds { "synth1_release", "synth2_release" };
    constexpr float maxRelease = 0.3f;

    // Targets that could lengthen the voices' release or lift its fading end
    // (the tail is not checked where one of them is mapped).
    inline const std::set<juce::String> tailTargets { "synth1_release", "synth2_release", "adsrTime", "fx_overdrive" };

    // Overdrive boosts quiet signals by up to 64 dB, so a release fading
    // below the silence bounds comes out loud: tails are judged only with
    // little or no overdrive.
    constexpr float maxOverdriveForTails = 0.1f;

    // Targets that could make a sound legitimately quiet even when only added
    // to: slower attacks, shape parameters at their extremes, and overdrive
    // (it turns a shape with a large offset into a constant, which its DC
    // blocker then removes).
    inline const std::set<juce::String> quietingTargets { "synth1_attack", "synth2_attack", "adsrTime",
                                                          "synth1_param1", "synth1_param2", "synth2_param1", "synth2_param2",
                                                          "synth1_release", "synth2_release", "fx_overdrive" };

    /** Runs fn (home folder) with HOME pointing at a new temporary folder and
        the framework initialised, then removes the folder. Returns fn's result. */
    inline int withTemporaryHome (const std::function<int (const juce::File&)>& fn)
    {
        std::string home = "/tmp/korvane-soak-home-XXXXXX";

        if (mkdtemp (home.data()) == nullptr)
            return 1;

        setenv ("HOME", home.c_str(), 1);
        int result = 0;

        {
            juce::ScopedJuceInitialiser_GUI framework;
            result = fn (juce::File (home));
        }

        juce::File (home).deleteRecursively();
        return result;
    }
}
