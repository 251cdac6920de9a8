#pragma once

// What both soak runs share: the thresholds they judge by, the parameters
// they treat specially, and a private home folder for the run.

#include <juce_events/juce_events.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

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

    /** A cycle through parameter ids for mapping targets: each call gives
        the next id that is not excluded; an excluded one waits for a call
        that takes it, so every id comes up over a run. */
    class TargetCycle
    {
    public:
        explicit TargetCycle (std::vector<juce::String> idsInOrder) : ids (std::move (idsInOrder)) {}

        juce::String next (const std::set<juce::String>& excluded)
        {
            for (size_t i = 0; i < ids.size(); ++i)
            {
                const auto candidate = ids[(position + i) % ids.size()];

                if (excluded.count (candidate) == 0)
                {
                    std::swap (ids[(position + i) % ids.size()], ids[position % ids.size()]);
                    ++position;
                    return candidate;
                }
            }

            return "dummy";
        }

        size_t size() const noexcept { return ids.size(); }

    private:
        std::vector<juce::String> ids;
        size_t position = 0;
    };

    /** Settings that make a sound that must be heard: both oscillators loud
        enough with short attacks and middling shape parameters, the filter
        open, the limiter on, no overdrive (it turns a shape with a large
        offset into a constant, which its DC blocker then removes: silence by
        design), and sources that only add to their targets. Calls
        set (id, value) in a fixed order, drawing values from random. */
    template <typename SetFn>
    void applyMustSoundSettings (juce::Random& random, SetFn&& set)
    {
        const auto between = [&random] (float lo, float hi) { return lo + random.nextFloat() * (hi - lo); };

        for (const juce::String s : { "synth1", "synth2" })
        {
            set (s + "_volume", between (0.4f, 1.0f));
            set (s + "_attack", between (0.0f, 0.2f));
            set (s + "_sustain", between (0.5f, 1.0f));
            set (s + "_param1", between (0.15f, 0.85f));
            set (s + "_param2", between (0.15f, 0.85f));
        }

        set ("masterVol", between (0.5f, 1.0f));
        set ("cutoff", between (0.6f, 1.0f));
        set ("velMax", between (0.5f, 1.0f));
        set ("limiter", 1.0f);
        set ("fx_overdrive", 0.0f);

        for (auto* id : factorIds)
            set (id, between (0.5f, 1.0f));
    }

    /** Judges one channel of a tail's silent end from its sum and sum of
        squares over count samples: nothing left around its mean, and no
        offset (DC runaway). Empty when it holds, otherwise what is wrong.
        largestOffset collects the largest offset seen. */
    inline juce::String judgeSilentTail (int channel, double sum, double energy, double count, double& largestOffset)
    {
        const auto mean = sum / count;
        const auto around = std::sqrt (juce::jmax (0.0, energy / count - mean * mean));
        largestOffset = juce::jmax (largestOffset, std::abs (mean));

        if (around > silenceRms)
            return "sound left in the tail of channel " + juce::String (channel) + " (rms " + juce::String (around) + ")";

        if (std::abs (mean) > dcLimit)
            return "offset of " + juce::String (mean) + " left in the tail of channel " + juce::String (channel) + " (DC runaway)";

        return {};
    }

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
