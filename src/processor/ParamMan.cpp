#include "ParamMan.h"

#include <cmath>

ParamMan::ParamMan()
{
    addParam ("dummy",            "None",                    "dummy",               0.1f);
    addParam ("cutoff",           "Cutoff",                  "global_cutoff",       0.9f);
    addParam ("res",              "Resonance",               "global_resonance",    0.1f);

    addParam ("synth1_pan",       "OscA Pan",                "pan",                 0.5f);
    addParam ("synth1_glide",     "OscA Glide",              "glide",               0.0f);
    addParam ("synth1_attack",    "OscA Attack",             "synth_adsr",          0.01f);
    addParam ("synth1_decay",     "OscA Decay",              "synth_adsr",          0.1f);
    addParam ("synth1_sustain",   "OscA Sustain",            "synth_adsr",          1.0f);
    addParam ("synth1_release",   "OscA Release",            "synth_adsr",          0.01f);
    addParam ("synth1_tune",      "OscA Tune (semi)",        "synth_tuneSemi",      0.5f);
    addParam ("synth1_microtune", "OscA Mictrotune (cent)",  "synth_tuneCent",      0.5f);
    addParam ("synth1_voices",    "OscA Voices",             "synth_voices",        1.0f);
    addParam ("synth1_unison",    "OscA Unison",             "synth_unison",        0.0f);
    addParam ("synth1_detune",    "OscA Detune",             "synth_detune",        0.0f);
    addParam ("synth1_noise",     "OscA Noise",              "synth_noise",         0.0f);
    addParam ("synth1_volume",    "OscA Volume",             "synth_volume",        0.5f);
    addParam ("synth1_param1",    "OscA Parameter 1",        "synth_param",         0.5f);
    addParam ("synth1_param2",    "OscA Parameter 2",        "synth_param",         0.25f);

    addParam ("synth2_pan",       "OscB Pan",                "pan",                 0.5f);
    addParam ("synth2_glide",     "OscB Glide",              "glide",               0.0f);
    addParam ("synth2_attack",    "OscB Attack",             "synth_adsr",          0.01f);
    addParam ("synth2_decay",     "OscB Decay",              "synth_adsr",          0.1f);
    addParam ("synth2_sustain",   "OscB Sustain",            "synth_adsr",          1.0f);
    addParam ("synth2_release",   "OscB Release",            "synth_adsr",          0.01f);
    addParam ("synth2_tune",      "OscB Tune (semi)",        "synth_tuneSemi",      0.5f);
    addParam ("synth2_microtune", "OscB Mictrotune (cent)",  "synth_tuneCent",      0.5f);
    addParam ("synth2_voices",    "OscB Voices",             "synth_voices",        1.0f);
    addParam ("synth2_unison",    "OscB Unison",             "synth_unison",        0.0f);
    addParam ("synth2_detune",    "OscB Detune",             "synth_detune",        0.0f);
    addParam ("synth2_noise",     "OscB Noise",              "synth_noise",         0.0f);
    addParam ("synth2_volume",    "OscB Volume",             "synth_volume",        0.5f);
    addParam ("synth2_param1",    "OscB Parameter 1",        "synth_param",         0.5f);
    addParam ("synth2_param2",    "OscB Parameter 2",        "synth_param",         0.25f);

    addParam ("masterVol",        "Master Volume",           "global_masterVolume", 0.5f);
    addParam ("limiter",          "Limiter",                 "global_limiter",      0.0f);
    addParam ("lockVol",          "Lock Volume",             "global_lockVolume",   0.5f);
    addParam ("velMin",           "Velocity Min",            "global_velocity",     0.0f);
    addParam ("velMax",           "Velocity Max",            "global_velocity",     1.0f);
    addParam ("velGain",          "Velocity Gain",           "global_velocity",     0.0f);
    addParam ("fx_overdrive",     "Overdrive FX",            "fx_overdrive",        0.0f);
    addParam ("adsrTime",         "ADSR Time",               "global_adsrTime",     0.5f);
    addParam ("filterQMax",       "Filter Q Max",            "global_filterMaxQ",   0.25f);

    addParam ("env1_attack",      "Env1 Attack",             "env_adsr",            0.5f);
    addParam ("env1_decay",       "Env1 Decay",              "env_adsr",            0.2f);
    addParam ("env1_sustain",     "Env1 Sustain",            "env_adsr",            1.0f);
    addParam ("env1_release",     "Env1 Release",            "env_adsr",            0.01f);
    addParam ("env1_factor",      "Env1 Factor",             "env_map",             0.7f);
    addParam ("env1_retrig",      "Env1 Retrig",             "env_map",             0.0f);

    addParam ("env2_attack",      "Env2 Attack",             "env_adsr",            0.5f);
    addParam ("env2_decay",       "Env2 Decay",              "env_adsr",            0.2f);
    addParam ("env2_sustain",     "Env2 Sustain",            "env_adsr",            1.0f);
    addParam ("env2_release",     "Env2 Release",            "env_adsr",            0.01f);
    addParam ("env2_factor",      "Env2 Factor",             "env_map",             0.7f);
    addParam ("env2_retrig",      "Env2 Retrig",             "env_map",             0.0f);

    addParam ("lfo1_oscType",     "LFO1 Osc Type",           "lfo_oscType",         0.0f);
    addParam ("lfo1_param1",      "LFO1 Param1",             "lfo_param",           0.5f);
    addParam ("lfo1_param2",      "LFO1 Param2",             "lfo_param",           0.25f);
    addParam ("lfo1_attack",      "LFO1 Attack",             "lfo_adsr",            0.01f);
    addParam ("lfo1_decay",       "LFO1 Decay",              "lfo_adsr",            0.1f);
    addParam ("lfo1_sustain",     "LFO1 Sustain",            "lfo_adsr",            1.0f);
    addParam ("lfo1_release",     "LFO1 Release",            "lfo_adsr",            0.01f);
    addParam ("lfo1_tune",        "LFO1 Tune",               "lfo_tuneSemi",        0.5f);
    addParam ("lfo1_microtune",   "LFO1 Microtune",          "lfo_tuneCent",        0.5f);
    addParam ("lfo1_rate",        "LFO1 Rate",               "lfo_rate",            0.5f);
    addParam ("lfo1_factor",      "LFO1 Factor",             "lfo_map",             0.7f);
    addParam ("lfo1_retrigAuto",  "LFO1 Retrig Automation",  "lfo_map",             0.0f);
    addParam ("lfo1_retrigLfo",   "LFO1 Retrig LFO",         "lfo_map",             0.0f);

    addParam ("lfo2_oscType",     "LFO2 Osc Type",           "lfo_oscType",         0.0f);
    addParam ("lfo2_param1",      "LFO2 Param1",             "lfo_param",           0.5f);
    addParam ("lfo2_param2",      "LFO2 Param2",             "lfo_param",           0.25f);
    addParam ("lfo2_attack",      "LFO2 Attack",             "lfo_adsr",            0.01f);
    addParam ("lfo2_decay",       "LFO2 Decay",              "lfo_adsr",            0.1f);
    addParam ("lfo2_sustain",     "LFO2 Sustain",            "lfo_adsr",            1.0f);
    addParam ("lfo2_release",     "LFO2 Release",            "lfo_adsr",            0.01f);
    addParam ("lfo2_tune",        "LFO2 Tune",               "lfo_tuneSemi",        0.5f);
    addParam ("lfo2_microtune",   "LFO2 Microtune",          "lfo_tuneCent",        0.5f);
    addParam ("lfo2_rate",        "LFO2 Rate",               "lfo_rate",            0.5f);
    addParam ("lfo2_factor",      "LFO2 Factor",             "lfo_map",             0.7f);
    addParam ("lfo2_retrigAuto",  "LFO2 Retrig Automation",  "lfo_map",             0.0f);
    addParam ("lfo2_retrigLfo",   "LFO2 Retrig LFO",         "lfo_map",             0.0f);
}

void ParamMan::addParam (const char* paramId, const char* displayName, const char* group, float defaultValue)
{
    Param p;
    p.displayName = displayName;
    p.paramId = paramId;
    p.group = group;
    p.defaultValue = defaultValue;
    addParam (std::move (p));
}

void ParamMan::addParam (Param p)
{
    ++numParams;
    params.push_back (p);
    paramsById.emplace (p.paramId, p); // the first entry of an id wins
}

juce::NormalisableRange<float> ParamMan::finiteOnlyRange (const juce::AudioParameterFloat& param)
{
    const auto& plain = param.range;
    const auto interval = plain.interval;

    // Every value a parameter takes passes this snap. A host's NaN (VST3 and
    // LV2 hand automation values on unchecked) leaves the parameter where it
    // was; an infinity has already been clamped to the end of the range by
    // the framework, like any value outside it. Finite values snap as the
    // framework snaps them.
    juce::NormalisableRange<float> range (plain.start, plain.end, {}, {}, [&param, interval] (float start, float end, float v)
    {
        if (! std::isfinite (v))
            return param.get();

        if (interval > 0.0f)
            v = start + interval * std::floor ((v - start) / interval + 0.5f);

        return (v <= start || end <= start) ? start : (v >= end ? end : v);
    });

    range.interval = interval; // for anything that reads the step
    range.skew = plain.skew;
    range.symmetricSkew = plain.symmetricSkew;
    return range;
}

juce::AudioProcessorValueTreeState::ParameterLayout ParamMan::buildParamLayout()
{
    std::vector<std::unique_ptr<juce::RangedAudioParameter>> list;
    list.reserve ((size_t) numParams);

    for (int i = 0; i < numParams; ++i)
    {
        const auto& p = params.at ((size_t) i);
        auto param = std::make_unique<juce::AudioParameterFloat> (
            juce::ParameterID (p.paramId, 0),
            p.displayName,
            juce::NormalisableRange<float> (p.minValue, p.maxValue, 0.001f, 1.0f),
            p.defaultValue,
            juce::AudioParameterFloatAttributes());
        param->range = finiteOnlyRange (*param);
        list.push_back (std::move (param));
    }

    return { list.begin(), list.end() };
}
