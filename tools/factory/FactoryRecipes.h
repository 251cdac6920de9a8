#pragma once

// The factory bank as recipes: each sound is written down in musical units
// (seconds, Hz, semitones, note lengths) and turned into the processor's own
// normalised parameter values, waveform ids and modulation targets. The .kvn
// documents in resources/factory are what the processor saves for these
// recipes (korvane-make-factory); nothing else writes them.

#include <juce_core/juce_core.h>

#include <map>
#include <vector>

class kvAP;

namespace Factory
{
    /** The eight kinds of sound in the bank, four of each. */
    enum class Category { bass, lead, pad, pluck, keys, bell, sequence, texture };

    constexpr int numCategories = 8;

    /** "Bass", "Lead", "Pad", "Pluck", "Keys", "Bell/Mallet", "Sequence", "Texture". */
    juce::String categoryName (Category);

    /** Oscillator A or B. */
    enum class Osc { a, b };

    /** One sound, built up in musical units. Every parameter the recipe does
        not set keeps its default from the parameter table. */
    class Recipe
    {
    public:
        Recipe (juce::String name, Category, juce::String idea);

        /** The sound keeps sounding while a key is held (checked by the tests). */
        Recipe& sustained();

        // Oscillators
        Recipe& wave (Osc, const juce::String& waveformId, float param1 = 0.5f, float param2 = 0.25f);
        Recipe& level (Osc, float volume);
        Recipe& tune (Osc, int semitones, float cents = 0.0f);
        /** Layers of the section and the detune spread across them in
            semitones; the stack is centred on the tuned pitch. */
        Recipe& unison (Osc, int layers, float spreadSemitones);
        Recipe& voices (Osc, int perLayer);
        Recipe& glide (Osc, float amount);
        Recipe& pan (Osc, float position);
        Recipe& noise (Osc, float amount);
        /** The voice envelope, times in seconds. */
        Recipe& amp (Osc, double attack, double decay, float sustainLevel, double release);

        // Output stage
        /** Cutoff in Hz and Q at the recipe's "filterQMax" (default 0.25: Q up to 64). */
        Recipe& filter (double cutoffHz, double q);
        Recipe& drive (float amount);
        Recipe& master (float volume);
        Recipe& velocity (float minimum, float maximum, float gain);

        /** Modulation envelope 1 or 2 on a parameter id; depth −1..1 of the
            parameter's range, times in seconds. */
        Recipe& env (int number, const juce::String& target, float depth,
                     double attack, double decay, float sustainLevel, double release, bool retrigger = true);

        /** LFO 1 or 2 on a parameter id at a tempo-synced note length
            ("1/8", "2/1" ...); depth −1..1, the LFO swinging from the
            parameter's value towards value + depth. */
        Recipe& lfo (int number, const juce::String& target, const juce::String& waveformId,
                     const juce::String& noteLength, float depth, bool retrigger = false,
                     float param1 = 0.5f, float param2 = 0.25f);

        /** Any parameter as its normalised value, for what has no musical unit. */
        Recipe& raw (const juce::String& id, float value);

        const juce::String name;
        const Category category;
        const juce::String idea;
        bool isSustained = false;

        /** The parameter values this recipe sets (normalised 0..1), by id. */
        std::map<juce::String, float> values() const;

        /** Waveform ids and modulation targets, by mapping key. */
        const std::map<juce::String, juce::String>& mapping() const { return map; }

    private:
        static juce::String prefix (Osc o) { return o == Osc::a ? "synth1" : "synth2"; }
        double adsrTime() const;
        float timeValue (double seconds) const;

        struct Tuning
        {
            int semitones = 0;
            float cents = 0.0f, spread = 0.0f;
            bool set = false;
        };

        std::map<juce::String, float> params;
        std::map<juce::String, juce::String> map;
        // Times are kept in seconds until the end, so that they follow the
        // recipe's "adsrTime" whatever the order of the calls.
        std::map<juce::String, double> times;
        Tuning tuning[2];
        double filterQ = 0.0;
    };

    /** The 32 recipes, category by category. */
    const std::vector<Recipe>& recipes();

    /** The recipe of that name, or null. */
    const Recipe* findRecipe (const juce::String& name);

    /** Puts the recipe's sound into a processor: every parameter at its table
        default unless the recipe sets it, the mapping keys as the recipe
        names them (the rest at their defaults), the patch name. */
    void applyRecipe (const Recipe&, kvAP& proc);

    /** Builds the recipe in a fresh processor and saves it with savePatch as
        name + ".kvn" into folder. Returns the file, or a default File when the
        save failed. */
    juce::File writeRecipe (const Recipe&, const juce::File& folder);

    //==============================================================================
    // The inverse of the engine's value mappings, for recipes and their tests.

    /** Stage time in seconds of an envelope knob value at an "adsrTime" value. */
    double secondsForTimeValue (float value, double adsrTime);
    float timeValueForSeconds (double seconds, double adsrTime);

    /** The filter's cutoff for a "cutoff" value, and back. */
    float cutoffValueForHz (double hz);

    /** The "res" value that gives a filter Q at a "filterQMax" value. */
    float resonanceValueForQ (double q, float qMax);

    /** The "lfoN_rate" value in the middle of a note length's range, or −1 for an unknown label. */
    float lfoRateValueFor (const juce::String& noteLength);
}
