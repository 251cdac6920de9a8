#include "processor/ParamMan.h"
#include "processor/PluginProcessor.h"

#include <gtest/gtest.h>

#include <set>

namespace
{
struct Row
{
    const char* id;
    const char* name;
    const char* group;
    float def;
};

// The published table, in host order.
const Row expectedTable[] = {
    { "dummy", "None", "dummy", 0.1f },
    { "cutoff", "Cutoff", "global_cutoff", 0.9f },
    { "res", "Resonance", "global_resonance", 0.1f },
    { "synth1_pan", "OscA Pan", "pan", 0.5f },
    { "synth1_glide", "OscA Glide", "glide", 0.0f },
    { "synth1_attack", "OscA Attack", "synth_adsr", 0.01f },
    { "synth1_decay", "OscA Decay", "synth_adsr", 0.1f },
    { "synth1_sustain", "OscA Sustain", "synth_adsr", 1.0f },
    { "synth1_release", "OscA Release", "synth_adsr", 0.01f },
    { "synth1_tune", "OscA Tune (semi)", "synth_tuneSemi", 0.5f },
    { "synth1_microtune", "OscA Mictrotune (cent)", "synth_tuneCent", 0.5f },
    { "synth1_voices", "OscA Voices", "synth_voices", 1.0f },
    { "synth1_unison", "OscA Unison", "synth_unison", 0.0f },
    { "synth1_detune", "OscA Detune", "synth_detune", 0.0f },
    { "synth1_noise", "OscA Noise", "synth_noise", 0.0f },
    { "synth1_volume", "OscA Volume", "synth_volume", 0.5f },
    { "synth1_param1", "OscA Parameter 1", "synth_param", 0.5f },
    { "synth1_param2", "OscA Parameter 2", "synth_param", 0.25f },
    { "synth2_pan", "OscB Pan", "pan", 0.5f },
    { "synth2_glide", "OscB Glide", "glide", 0.0f },
    { "synth2_attack", "OscB Attack", "synth_adsr", 0.01f },
    { "synth2_decay", "OscB Decay", "synth_adsr", 0.1f },
    { "synth2_sustain", "OscB Sustain", "synth_adsr", 1.0f },
    { "synth2_release", "OscB Release", "synth_adsr", 0.01f },
    { "synth2_tune", "OscB Tune (semi)", "synth_tuneSemi", 0.5f },
    { "synth2_microtune", "OscB Mictrotune (cent)", "synth_tuneCent", 0.5f },
    { "synth2_voices", "OscB Voices", "synth_voices", 1.0f },
    { "synth2_unison", "OscB Unison", "synth_unison", 0.0f },
    { "synth2_detune", "OscB Detune", "synth_detune", 0.0f },
    { "synth2_noise", "OscB Noise", "synth_noise", 0.0f },
    { "synth2_volume", "OscB Volume", "synth_volume", 0.5f },
    { "synth2_param1", "OscB Parameter 1", "synth_param", 0.5f },
    { "synth2_param2", "OscB Parameter 2", "synth_param", 0.25f },
    { "masterVol", "Master Volume", "global_masterVolume", 0.5f },
    { "limiter", "Limiter", "global_limiter", 0.0f },
    { "lockVol", "Lock Volume", "global_lockVolume", 0.5f },
    { "velMin", "Velocity Min", "global_velocity", 0.0f },
    { "velMax", "Velocity Max", "global_velocity", 1.0f },
    { "velGain", "Velocity Gain", "global_velocity", 0.0f },
    { "fx_overdrive", "Overdrive FX", "fx_overdrive", 0.0f },
    { "adsrTime", "ADSR Time", "global_adsrTime", 0.5f },
    { "filterQMax", "Filter Q Max", "global_filterMaxQ", 0.25f },
    { "env1_attack", "Env1 Attack", "env_adsr", 0.5f },
    { "env1_decay", "Env1 Decay", "env_adsr", 0.2f },
    { "env1_sustain", "Env1 Sustain", "env_adsr", 1.0f },
    { "env1_release", "Env1 Release", "env_adsr", 0.01f },
    { "env1_factor", "Env1 Factor", "env_map", 0.7f },
    { "env1_retrig", "Env1 Retrig", "env_map", 0.0f },
    { "env2_attack", "Env2 Attack", "env_adsr", 0.5f },
    { "env2_decay", "Env2 Decay", "env_adsr", 0.2f },
    { "env2_sustain", "Env2 Sustain", "env_adsr", 1.0f },
    { "env2_release", "Env2 Release", "env_adsr", 0.01f },
    { "env2_factor", "Env2 Factor", "env_map", 0.7f },
    { "env2_retrig", "Env2 Retrig", "env_map", 0.0f },
    { "lfo1_oscType", "LFO1 Osc Type", "lfo_oscType", 0.0f },
    { "lfo1_param1", "LFO1 Param1", "lfo_param", 0.5f },
    { "lfo1_param2", "LFO1 Param2", "lfo_param", 0.25f },
    { "lfo1_attack", "LFO1 Attack", "lfo_adsr", 0.01f },
    { "lfo1_decay", "LFO1 Decay", "lfo_adsr", 0.1f },
    { "lfo1_sustain", "LFO1 Sustain", "lfo_adsr", 1.0f },
    { "lfo1_release", "LFO1 Release", "lfo_adsr", 0.01f },
    { "lfo1_tune", "LFO1 Tune", "lfo_tuneSemi", 0.5f },
    { "lfo1_microtune", "LFO1 Microtune", "lfo_tuneCent", 0.5f },
    { "lfo1_rate", "LFO1 Rate", "lfo_rate", 0.5f },
    { "lfo1_factor", "LFO1 Factor", "lfo_map", 0.7f },
    { "lfo1_retrigAuto", "LFO1 Retrig Automation", "lfo_map", 0.0f },
    { "lfo1_retrigLfo", "LFO1 Retrig LFO", "lfo_map", 0.0f },
    { "lfo2_oscType", "LFO2 Osc Type", "lfo_oscType", 0.0f },
    { "lfo2_param1", "LFO2 Param1", "lfo_param", 0.5f },
    { "lfo2_param2", "LFO2 Param2", "lfo_param", 0.25f },
    { "lfo2_attack", "LFO2 Attack", "lfo_adsr", 0.01f },
    { "lfo2_decay", "LFO2 Decay", "lfo_adsr", 0.1f },
    { "lfo2_sustain", "LFO2 Sustain", "lfo_adsr", 1.0f },
    { "lfo2_release", "LFO2 Release", "lfo_adsr", 0.01f },
    { "lfo2_tune", "LFO2 Tune", "lfo_tuneSemi", 0.5f },
    { "lfo2_microtune", "LFO2 Microtune", "lfo_tuneCent", 0.5f },
    { "lfo2_rate", "LFO2 Rate", "lfo_rate", 0.5f },
    { "lfo2_factor", "LFO2 Factor", "lfo_map", 0.7f },
    { "lfo2_retrigAuto", "LFO2 Retrig Automation", "lfo_map", 0.0f },
    { "lfo2_retrigLfo", "LFO2 Retrig LFO", "lfo_map", 0.0f },
};
} // namespace

TEST (ParamTable, HoldsTheEightyRowsInOrder)
{
    ParamMan pm;
    ASSERT_EQ (pm.numParams, 80);
    ASSERT_EQ (pm.params.size(), std::size (expectedTable));
    ASSERT_EQ (pm.paramsById.size(), 80u);

    for (size_t i = 0; i < pm.params.size(); ++i)
    {
        SCOPED_TRACE (expectedTable[i].id);
        const auto& p = pm.params[i];
        EXPECT_EQ (p.paramId, expectedTable[i].id);
        EXPECT_EQ (p.displayName, expectedTable[i].name);
        EXPECT_EQ (p.group, expectedTable[i].group);
        EXPECT_EQ (p.defaultValue, expectedTable[i].def);
        EXPECT_EQ (p.minValue, 0.0f);
        EXPECT_EQ (p.maxValue, 1.0f);
        EXPECT_EQ (pm.paramsById.at (p.paramId).group, p.group);
    }

    EXPECT_EQ (pm.paramsById.at ("fx_overdrive").group, "fx_overdrive");
}

TEST (ParamTable, FirstEntryOfAnIdWinsInTheMap)
{
    ParamMan pm;
    Param dup;
    dup.paramId = "cutoff";
    dup.group = "something_else";
    pm.addParam (dup);

    EXPECT_EQ (pm.numParams, 81);
    EXPECT_EQ (pm.params.size(), 81u);
    EXPECT_EQ (pm.paramsById.size(), 80u);
    EXPECT_EQ (pm.paramsById.at ("cutoff").group, "global_cutoff");
}

TEST (ParamTable, ProcessorExposesTheLayoutInTableOrder)
{
    kvAP proc;
    const auto& params = proc.getParameters();
    ASSERT_EQ (params.size(), 80);

    for (int i = 0; i < params.size(); ++i)
    {
        auto* f = dynamic_cast<juce::AudioParameterFloat*> (params[i]);
        ASSERT_NE (f, nullptr);
        SCOPED_TRACE (expectedTable[i].id);
        EXPECT_EQ (f->getParameterID(), expectedTable[i].id);
        EXPECT_EQ (f->getVersionHint(), 0);
        EXPECT_EQ (f->getName (100), expectedTable[i].name);
        EXPECT_EQ (f->getLabel(), "");
        EXPECT_TRUE (f->isAutomatable());
        EXPECT_FALSE (f->isMetaParameter());
        EXPECT_EQ (f->range.start, 0.0f);
        EXPECT_EQ (f->range.end, 1.0f);
        EXPECT_EQ (f->range.interval, 0.001f);
        EXPECT_EQ (f->range.skew, 1.0f);
        EXPECT_FALSE (f->range.symmetricSkew);
        // The framework keeps the default on the 0.001 grid.
        EXPECT_FLOAT_EQ (static_cast<juce::RangedAudioParameter*> (f)->getDefaultValue(), expectedTable[i].def);
    }

    EXPECT_EQ (params[0]->getName (100), "None");

    // Ids that patch files carry but that name no parameter.
    for (auto* id : { "synth1_oscType", "synth2_oscType", "env1_mappedParam", "env2_mappedParam",
                      "lfo1_mappedParam", "lfo2_mappedParam", "fx_delay" })
        EXPECT_EQ (proc.apvts.getParameter (id), nullptr) << id;
}

TEST (ParamTable, StoredValuesSnapToTheThousandthGrid)
{
    kvAP proc;
    struct Case { float in, stored; };
    const Case cases[] = {
        { 0.0004f, 0.0f },
        { 0.0006f, 0.001f },
        { 0.01f, 0.010000001f },
        { 0.7f, 0.70000005f },
        { 0.9f, 0.90000004f },
        { 1.0f, 1.0f },
    };

    auto* value = proc.apvts.getRawParameterValue ("cutoff");
    auto* param = proc.apvts.getParameter ("cutoff");

    for (const auto& c : cases)
    {
        param->setValueNotifyingHost (c.in);
        EXPECT_FLOAT_EQ (value->load(), c.stored) << c.in;
        EXPECT_EQ (value->load(), c.stored) << c.in;
    }
}
