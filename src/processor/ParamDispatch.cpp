#include "state/OAStringTools.h"
#include "PluginProcessor.h"

#include <cmath>

namespace
{
    int countFromValue (float v) { return (int) (std::roundf (v * 15.0f) + 1.0f); }

    // Set while this thread renders a block: dispatch from there (modulation)
    // must never wait for a voice list that the message thread is changing.
    thread_local bool dispatchingFromRenderThread = false;

    template <typename Fn>
    void visitVoices (const SynthGroup& section, Fn&& fn)
    {
        if (dispatchingFromRenderThread)
            section.tryForEachVoice (fn);
        else
            section.forEachVoice (fn);
    }

    template <typename Fn>
    void visitVoicesOfLayer (const SynthGroup& section, int layer, Fn&& fn)
    {
        if (dispatchingFromRenderThread)
            section.tryForEachVoiceOfLayer (layer, fn);
        else
            section.forEachVoiceOfLayer (layer, fn);
    }
}

bool kvAP::isRenderThread() noexcept
{
    return dispatchingFromRenderThread;
}

kvAP::ScopedRenderThread::ScopedRenderThread() noexcept : previous (dispatchingFromRenderThread)
{
    dispatchingFromRenderThread = true;
}

kvAP::ScopedRenderThread::~ScopedRenderThread()
{
    dispatchingFromRenderThread = previous;
}

SynthGroup* kvAP::findSynthGroup (const juce::String& prefix)
{
    if (prefix == "synth1") return &synth1;
    if (prefix == "synth2") return &synth2;
    if (prefix == "lfo1")   return &lfo1;
    if (prefix == "lfo2")   return &lfo2;
    return nullptr;
}

void kvAP::buildDispatchTable()
{
    static const std::map<juce::String, Dispatch> actions {
        { "synth_adsr", Dispatch::adsr },           { "lfo_adsr", Dispatch::adsr },
        { "synth_param", Dispatch::shapeParam },    { "lfo_param", Dispatch::shapeParam },
        { "synth_tuneSemi", Dispatch::tuneSemi },   { "lfo_tuneSemi", Dispatch::tuneSemi },
        { "synth_tuneCent", Dispatch::tuneCent },   { "lfo_tuneCent", Dispatch::tuneCent },
        { "synth_detune", Dispatch::detune },       { "lfo_detune", Dispatch::detune },
        { "synth_unison", Dispatch::unison },       { "lfo_unison", Dispatch::unison },
        { "synth_voices", Dispatch::voices },
        { "synth_volume", Dispatch::volume },       { "lfo_volume", Dispatch::volume },
        { "synth_noise", Dispatch::noise },         { "lfo_noise", Dispatch::noise },
        { "lfo_rate", Dispatch::lfoRate },
        { "global_cutoff", Dispatch::cutoff },
        { "global_resonance", Dispatch::resonance },
        { "global_filterMaxQ", Dispatch::filterMaxQ },
        { "global_velocity", Dispatch::velocity },
        { "global_adsrTime", Dispatch::adsrTime },
        { "fx_overdrive", Dispatch::overdrive },
        { "pan", Dispatch::pan },
        { "glide", Dispatch::glide },
    };

    dispatchTable.clear();
    dispatchIndexById.clear();

    for (const auto& p : paramMan.params)
    {
        DispatchEntry entry;

        // An id is a section prefix and a setting joined by "_"; a global id
        // without "_" is its own prefix and setting.
        const auto pieces = OAStringTools::split (p.paramId, "_");
        entry.prefix = pieces[0];
        entry.setting = pieces.size() > 1 ? pieces[1] : juce::String();

        if (entry.setting.isEmpty())
            entry.setting = entry.prefix;

        const auto found = actions.find (p.group);
        entry.action = found != actions.end() ? found->second : Dispatch::none;

        if (entry.action == Dispatch::overdrive && p.paramId != "fx_overdrive")
            entry.action = Dispatch::none;

        entry.section = findSynthGroup (entry.prefix);
        entry.renderSection = entry.prefix == "synth1" ? 1 : (entry.prefix == "synth2" ? 2 : 0);

        if (entry.setting == "param2")
            entry.shapeParamIndex = 1;
        else if (entry.setting == "param1")
            entry.shapeParamIndex = 0;

        // Section-wide actions need a section; the table never asks otherwise.
        const auto global = entry.action == Dispatch::none || entry.action == Dispatch::lfoRate
                         || entry.action == Dispatch::cutoff || entry.action == Dispatch::resonance
                         || entry.action == Dispatch::filterMaxQ || entry.action == Dispatch::velocity
                         || entry.action == Dispatch::adsrTime || entry.action == Dispatch::overdrive;

        if (! global && entry.section == nullptr)
            entry.action = Dispatch::none;

        dispatchIndexById.emplace (p.paramId, (int) dispatchTable.size());
        dispatchTable.push_back (std::move (entry));
    }
}

void kvAP::parameterChanged (const juce::String& parameterID, float newValue)
{
    // Hosts and control surfaces can send anything; what is not a finite
    // number changes nothing (the parameters themselves refuse it too).
    if (! std::isfinite (newValue))
        return;

    updateSynth (parameterID, newValue, false);
}

void kvAP::updateSynth (const juce::String& id, float value, bool force)
{
    // Not a number (host automation can send one; the clamp below lets it
    // through): the engine keeps the last good value rather than filling the
    // filter, the voices and the read-outs with it.
    if ((bulkUpdate && ! force) || std::isnan (value))
        return;

    const auto v = juce::jlimit (0.0f, 1.0f, value);

    // An id outside the table (a hand-edited or old patch's mapping) changes nothing.
    const auto found = dispatchIndexById.find (id);

    if (found == dispatchIndexById.end())
        return;

    dispatch (dispatchTable[(size_t) found->second], v);
}

void kvAP::dispatch (const DispatchEntry& entry, float v)
{
    auto* section = entry.section;

    switch (entry.action)
    {
        case Dispatch::none:
            break;

        case Dispatch::adsr:
            visitVoices (*section, [&] (SynthVoice& voice) { voice.setADSR (entry.setting, v); });
            break;

        case Dispatch::shapeParam:
            visitVoices (*section, [&] (SynthVoice& voice) { voice.setParam (entry.shapeParamIndex, v); });
            break;

        case Dispatch::tuneSemi:
        {
            visitVoices (*section, [&] (SynthVoice& voice) { voice.setTuneSemi (v); });
            const auto semi = (int) std::roundf (v * 48.0f - 24.0f);

            if (entry.renderSection == 1) renderValues.synth1TuneSemi = semi;
            if (entry.renderSection == 2) renderValues.synth2TuneSemi = semi;
            break;
        }

        case Dispatch::tuneCent:
        {
            visitVoices (*section, [&] (SynthVoice& voice) { voice.setTuneCents (v); });
            const auto cents = v * 2.0f - 1.0f;

            if (entry.renderSection == 1) renderValues.synth1TuneCent = cents;
            if (entry.renderSection == 2) renderValues.synth2TuneCent = cents;
            break;
        }

        case Dispatch::detune:
        {
            const auto step = v / (float) section->unison;
            auto offset = 0.0f;

            for (int layer = 0; layer < section->numSynths; ++layer)
            {
                visitVoicesOfLayer (*section, layer, [&] (SynthVoice& voice) { voice.setDetune (offset); });
                offset += step;
            }
            break;
        }

        case Dispatch::unison:
        {
            const auto count = countFromValue (v);

            if (section->unison != count)
                section->unison = count;

            const auto shown = (int) std::roundf (1.0f + v * 15.0f);

            if (entry.renderSection == 1) renderValues.synth1Unison = shown;
            if (entry.renderSection == 2) renderValues.synth2Unison = shown;
            break;
        }

        case Dispatch::voices:
        {
            const auto count = countFromValue (v);

            // Adding or removing voices allocates; it only happens when the count
            // changes. The render thread never waits for a layer that another
            // thread is changing: it is brought to the count in a later block.
            const auto change = dispatchingFromRenderThread ? section->trySetNumVoices (count)
                                                            : section->setNumVoices (count);

            if (change.added > 0 || change.removed > 0)
            {
                if (dispatchingFromRenderThread)
                {
                    // The section's id string belongs to the message thread; take the
                    // id of the shape an existing voice plays, which never changes.
                    if (auto* wave = section->tryGetFirstVoiceWave())
                        section->setOscTypeOfNewVoices (wave->id);
                }
                else
                {
                    section->setOscType (section->oscType);
                }

                // New voices start from the voice defaults: give them the section's
                // current settings, or notes on them would play out of tune, at the
                // wrong level or with another envelope.
                if (change.added > 0 && ! bulkUpdate)
                    reapplySectionSettings (*section);
            }

            const auto shown = (int) std::roundf (1.0f + v * 15.0f);

            if (entry.renderSection == 1) renderValues.synth1Voices = shown;
            if (entry.renderSection == 2) renderValues.synth2Voices = shown;
            break;
        }

        case Dispatch::volume:
        {
            const auto volume = v / (float) section->unison;
            visitVoices (*section, [&] (SynthVoice& voice) { voice.setVolume (volume); });
            break;
        }

        case Dispatch::noise:
            visitVoices (*section, [&] (SynthVoice& voice) { voice.setNoise (v); });
            break;

        case Dispatch::lfoRate:
            updateLFO (entry.prefix, v);
            break;

        case Dispatch::cutoff:
            filterCutoff = v;
            updateFilter();
            // The frequency the filter runs at, on the same curve (a read-out
            // linear in v would say 10040 Hz where the filter sits at 3078).
            renderValues.cutoffHz = (int) filterCutoffHzAt (v, getSampleRate());
            break;

        case Dispatch::resonance:
            filterResonance = v;
            updateFilter();
            break;

        case Dispatch::filterMaxQ:
            filterQMaxValue = v;
            updateFilter();
            break;

        case Dispatch::velocity:
            synth1.setVelocity (entry.setting, v);
            synth2.setVelocity (entry.setting, v);
            break;

        case Dispatch::adsrTime:
        {
            synth1.setADSR ("time", v);
            synth2.setADSR ("time", v);
            break;
        }

        case Dispatch::overdrive:
            overdriveAmount = v;
            updateOverdrive();
            break;

        case Dispatch::pan:
            visitVoices (*section, [&] (SynthVoice& voice) { voice.setPan (v); });
            break;

        case Dispatch::glide:
        {
            // The exponent is the float 1.8 widened to double, as the engine has always done.
            const auto glide = (float) std::pow ((double) juce::jmin (v, 0.99f), (double) 1.8f);
            visitVoices (*section, [&] (SynthVoice& voice) { voice.setGlide (glide); });
            break;
        }
    }
}

void kvAP::reapplySectionSettings (SynthGroup& section)
{
    for (size_t i = 0; i < dispatchTable.size(); ++i)
    {
        const auto& entry = dispatchTable[i];
        const auto sectionSetting = entry.section == &section && entry.action != Dispatch::voices;
        const auto sharedVoiceSetting = entry.action == Dispatch::velocity || entry.action == Dispatch::adsrTime;

        if (sectionSetting || sharedVoiceSetting)
            dispatch (entry, paramValues[i]->load());
    }
}

float kvAP::getParamValue (const juce::String& id) const
{
    const auto found = dispatchIndexById.find (id);
    return found != dispatchIndexById.end() ? paramValues[(size_t) found->second]->load() : 0.0f;
}

void kvAP::updateAllParams()
{
    bulkUpdate = true;

    for (auto* id : { "synth1_voices", "synth2_voices", "synth1_unison", "synth2_unison" })
        updateSynth (id, getParamValue (id), true);

    for (size_t i = 0; i < paramMan.params.size(); ++i)
        updateSynth (paramMan.params[i].paramId, paramValues[i]->load(), true);

    bulkUpdate = false;
}

void kvAP::updateOscTypes()
{
    static const std::pair<const char*, SynthGroup kvAP::*> keys[] {
        { "synth1_oscType", &kvAP::synth1 },
        { "synth2_oscType", &kvAP::synth2 },
        { "lfo1_oscType", &kvAP::lfo1 },
        { "lfo2_oscType", &kvAP::lfo2 },
    };

    for (const auto& [key, section] : keys)
        (this->*section).setOscType (getModMap (key));
}
