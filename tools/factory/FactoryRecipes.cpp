#include "FactoryRecipes.h"

#include "processor/PluginProcessor.h"

#include <cmath>

namespace Factory
{
namespace
{
    // The note lengths of the tempo-synced LFO rates, in the order of their index.
    const char* const rateLabels[] = { "64/1", "32/1", "16/1", "8/1", "4/1", "2/1", "1/1",
                                       "1/2", "1/4", "1/8", "1/16", "1/32", "1/64" };

    constexpr float defaultAdsrTime = 0.5f;

    float clamp01 (double v) { return (float) juce::jlimit (0.0, 1.0, v); }
}

juce::String categoryName (Category c)
{
    switch (c)
    {
        case Category::bass:     return "Bass";
        case Category::lead:     return "Lead";
        case Category::pad:      return "Pad";
        case Category::pluck:    return "Pluck";
        case Category::keys:     return "Keys";
        case Category::bell:     return "Bell/Mallet";
        case Category::sequence: return "Sequence";
        case Category::texture:  return "Texture";
    }

    return {};
}

//==============================================================================
double secondsForTimeValue (float value, double adsrTime)
{
    return -20.0 * adsrTime * std::log10 (1.0 - juce::jmin ((double) value, 0.99));
}

float timeValueForSeconds (double seconds, double adsrTime)
{
    if (seconds <= 0.0 || adsrTime <= 0.0)
        return 0.0f;

    return (float) juce::jmin (0.99, 1.0 - std::pow (10.0, -seconds / (20.0 * adsrTime)));
}

float cutoffValueForHz (double hz)
{
    if (hz <= 80.0)
        return 0.0f;

    return (float) juce::jmin (0.99, 1.0 - std::pow (10.0, -2.0 * (hz - 80.0) / 19920.0));
}

float resonanceValueForQ (double q, float qMax)
{
    if (q <= 0.01 || qMax <= 0.0f)
        return 0.0f;

    return (float) juce::jmin (0.99, 1.0 - std::pow (10.0, -2.0 * (q - 0.01) / (256.0 * qMax)));
}

float lfoRateValueFor (const juce::String& noteLength)
{
    for (int i = 0; i < (int) std::size (rateLabels); ++i)
        if (noteLength == rateLabels[i])
            return i == 12 ? 1.0f : ((float) i + 0.5f) / 12.0f;

    return -1.0f;
}

//==============================================================================
Recipe::Recipe (juce::String n, Category c, juce::String i)
    : name (std::move (n)), category (c), idea (std::move (i))
{
}

Recipe& Recipe::sustained()
{
    isSustained = true;
    return *this;
}

Recipe& Recipe::wave (Osc o, const juce::String& waveformId, float param1, float param2)
{
    map[prefix (o) + "_oscType"] = waveformId;
    params[prefix (o) + "_param1"] = param1;
    params[prefix (o) + "_param2"] = param2;
    return *this;
}

Recipe& Recipe::level (Osc o, float volume)
{
    params[prefix (o) + "_volume"] = volume;
    return *this;
}

Recipe& Recipe::tune (Osc o, int semitones, float cents)
{
    auto& t = tuning[o == Osc::a ? 0 : 1];
    t.semitones = semitones;
    t.cents = cents;
    t.set = true;
    return *this;
}

Recipe& Recipe::unison (Osc o, int layers, float spreadSemitones)
{
    params[prefix (o) + "_unison"] = (float) (layers - 1) / 15.0f;
    params[prefix (o) + "_detune"] = spreadSemitones;
    auto& t = tuning[o == Osc::a ? 0 : 1];
    t.spread = spreadSemitones;
    t.set = true;
    return *this;
}

Recipe& Recipe::voices (Osc o, int perLayer)
{
    params[prefix (o) + "_voices"] = (float) (perLayer - 1) / 15.0f;
    return *this;
}

Recipe& Recipe::glide (Osc o, float amount)
{
    params[prefix (o) + "_glide"] = amount;
    return *this;
}

Recipe& Recipe::pan (Osc o, float position)
{
    params[prefix (o) + "_pan"] = position;
    return *this;
}

Recipe& Recipe::noise (Osc o, float amount)
{
    params[prefix (o) + "_noise"] = amount;
    return *this;
}

Recipe& Recipe::amp (Osc o, double attack, double decay, float sustainLevel, double release)
{
    const auto p = prefix (o);
    times[p + "_attack"] = attack;
    times[p + "_decay"] = decay;
    params[p + "_sustain"] = sustainLevel;
    times[p + "_release"] = release;
    return *this;
}

Recipe& Recipe::filter (double cutoffHz, double q)
{
    params["cutoff"] = cutoffValueForHz (cutoffHz);
    filterQ = q;
    return *this;
}

Recipe& Recipe::drive (float amount)
{
    params["fx_overdrive"] = amount;
    return *this;
}

Recipe& Recipe::master (float volume)
{
    params["masterVol"] = volume;
    return *this;
}

Recipe& Recipe::velocity (float minimum, float maximum, float gain)
{
    params["velMin"] = minimum;
    params["velMax"] = maximum;
    params["velGain"] = gain;
    return *this;
}

Recipe& Recipe::env (int number, const juce::String& target, float depth,
                     double attack, double decay, float sustainLevel, double release, bool retrigger)
{
    const juce::String p ("env" + juce::String (number));
    map[p + "_mappedParam"] = target;
    params[p + "_factor"] = clamp01 ((depth + 1.0) / 2.0);
    times[p + "_attack"] = attack;
    times[p + "_decay"] = decay;
    params[p + "_sustain"] = sustainLevel;
    times[p + "_release"] = release;
    params[p + "_retrig"] = retrigger ? 1.0f : 0.0f;
    return *this;
}

Recipe& Recipe::lfo (int number, const juce::String& target, const juce::String& waveformId,
                     const juce::String& noteLength, float depth, bool retrigger, float param1, float param2)
{
    const juce::String p ("lfo" + juce::String (number));
    const auto rate = lfoRateValueFor (noteLength);
    jassert (rate >= 0.0f); // a note length of the rate table
    map[p + "_mappedParam"] = target;
    map[p + "_oscType"] = waveformId;
    params[p + "_rate"] = juce::jmax (0.0f, rate);
    params[p + "_factor"] = clamp01 ((depth + 1.0) / 2.0);
    params[p + "_retrigAuto"] = retrigger ? 1.0f : 0.0f;
    params[p + "_param1"] = param1;
    params[p + "_param2"] = param2;
    return *this;
}

Recipe& Recipe::raw (const juce::String& id, float value)
{
    params[id] = value;
    return *this;
}

double Recipe::adsrTime() const
{
    const auto found = params.find ("adsrTime");
    return found != params.end() ? (double) found->second : (double) defaultAdsrTime;
}

float Recipe::timeValue (double seconds) const
{
    return timeValueForSeconds (seconds, adsrTime());
}

std::map<juce::String, float> Recipe::values() const
{
    auto result = params;

    for (const auto& [id, seconds] : times)
        result[id] = timeValue (seconds);

    // The resonance that gives the Q at the recipe's "filterQMax".
    if (filterQ > 0.0)
    {
        const auto qMax = result.count ("filterQMax") > 0 ? result["filterQMax"] : 0.25f;
        result["res"] = resonanceValueForQ (filterQ, qMax);
    }

    for (int i = 0; i < 2; ++i)
    {
        const auto& t = tuning[i];

        if (! t.set)
            continue;

        const juce::String p (i == 0 ? "synth1" : "synth2");
        // The layers spread upwards from the tuned pitch; half the spread down
        // puts the stack's centre on it.
        const auto cents = t.cents - 50.0f * t.spread;
        auto semitones = t.semitones;
        auto fine = cents / 100.0f; // the fine tune covers one semitone either way

        while (fine < -1.0f) { fine += 1.0f; --semitones; }
        while (fine > 1.0f)  { fine -= 1.0f; ++semitones; }

        result[p + "_tune"] = (float) (semitones + 24) / 48.0f;
        result[p + "_microtune"] = 0.5f + fine / 2.0f;
    }

    return result;
}

//==============================================================================
void applyRecipe (const Recipe& recipe, kvAP& proc)
{
    for (const auto& p : proc.paramMan.params)
        proc.apvts.getParameter (p.paramId)->setValueNotifyingHost (p.defaultValue);

    for (const auto& [id, value] : recipe.values())
    {
        auto* parameter = proc.apvts.getParameter (id);
        jassert (parameter != nullptr); // recipes name parameters of the table

        if (parameter != nullptr)
            parameter->setValueNotifyingHost (value);
    }

    for (const auto& key : { "synth1_oscType", "synth2_oscType", "lfo1_oscType", "lfo2_oscType" })
        proc.setModMapEntry (key, "sine_og");

    for (const auto& key : { "env1_mappedParam", "env2_mappedParam", "lfo1_mappedParam", "lfo2_mappedParam" })
        proc.setModMapEntry (key, "dummy");

    for (const auto& [key, value] : recipe.mapping())
        proc.setModMapEntry (key, value);

    proc.patchName = recipe.name;
}

juce::File writeRecipe (const Recipe& recipe, const juce::File& folder)
{
    kvAP proc;
    applyRecipe (recipe, proc);
    proc.fileIO.productFolder = folder;

    if (! proc.savePatch (recipe.name + ".kvn"))
        return {};

    return folder.getChildFile (recipe.name + ".kvn");
}

const Recipe* findRecipe (const juce::String& name)
{
    for (const auto& r : recipes())
        if (r.name == name)
            return &r;

    return nullptr;
}
}
