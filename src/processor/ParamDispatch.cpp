#include "state/OAStringTools.h"
#include "PluginProcessor.h"

#include <algorithm>
#include <cmath>

namespace
{
    int countFromValue (float v) { return (int) (std::roundf (v * 15.0f) + 1.0f); }

    // Set while this thread renders a block.
    thread_local bool dispatchingFromRenderThread = false;

    // Only the message thread may wait for a voice list: the audio thread
    // (rendering, or a plug-in wrapper handing over host automation before
    // the block) and any other thread use try-locks, and what they skip is
    // retried on a following block.
    bool mayWait() noexcept
    {
        return ! dispatchingFromRenderThread && juce::MessageManager::existsAndIsCurrentThread();
    }

    template <typename Fn>
    bool visitVoices (const SynthGroup& section, Fn&& fn)
    {
        if (! mayWait())
            return section.tryForEachVoice (fn);

        section.forEachVoice (fn);
        return true;
    }

    template <typename Fn>
    bool visitVoicesOfLayer (const SynthGroup& section, int layer, Fn&& fn)
    {
        if (! mayWait())
            return section.tryForEachVoiceOfLayer (layer, fn);

        section.forEachVoiceOfLayer (layer, fn);
        return true;
    }
}

bool kvAP::mayWaitForVoices() noexcept
{
    return mayWait();
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

    // Pending changes are applied as updateAllParams applies everything:
    // voice and unison counts first, then the table order.
    pendingApplyOrder.clear();

    for (auto* id : { "synth1_voices", "synth2_voices", "synth1_unison", "synth2_unison" })
        if (const auto found = dispatchIndexById.find (id); found != dispatchIndexById.end())
            pendingApplyOrder.push_back (found->second);

    for (int i = 0; i < (int) dispatchTable.size(); ++i)
        if (std::find (pendingApplyOrder.begin(), pendingApplyOrder.end(), i) == pendingApplyOrder.end())
            pendingApplyOrder.push_back (i);

    paramPending = std::make_unique<std::atomic<bool>[]> (dispatchTable.size());

    for (size_t i = 0; i < dispatchTable.size(); ++i)
        paramPending[i] = false;
}

void kvAP::markPending (int index) noexcept
{
    paramPending[(size_t) index].store (true);
    anyParamPending.store (true);
}

bool kvAP::isPending (const juce::String& id) const
{
    const auto found = dispatchIndexById.find (id);
    return found != dispatchIndexById.end() && paramPending[(size_t) found->second].load();
}

bool kvAP::hasPendingWork() const noexcept
{
    if (anyParamPending.load())
        return true;

    for (const auto& retry : modulationRetry)
        if (retry.target >= 0)
            return true;

    for (auto* section : { &synth1, &synth2, &lfo1, &lfo2 })
        if (section->isOscTypePending() || section->isLfoRestartPending())
            return true;

    return lfoRetunePending[0] || lfoRetunePending[1];
}

void kvAP::applyPendingChanges()
{
    // A bulk application on the message thread takes every value anyway;
    // what is pending stays so until it is over.
    if (bulkUpdate)
        return;

    for (auto* section : { &synth1, &synth2, &lfo1, &lfo2 })
        if (section->isOscTypePending())
            section->tryApplyOscType();

    if (anyParamPending.exchange (false))
    {
        for (const auto index : pendingApplyOrder)
        {
            if (! paramPending[(size_t) index].exchange (false))
                continue;

            // The parameter's value now: the newest one a host set.
            const auto value = paramValues[(size_t) index]->load();

            if (std::isnan (value))
                continue;

            if (! dispatch (dispatchTable[(size_t) index], juce::jlimit (0.0f, 1.0f, value)))
                markPending (index); // a layer was busy: again next block
        }
    }

    for (auto& retry : modulationRetry)
        if (retry.target >= 0 && dispatch (dispatchTable[(size_t) retry.target], retry.value))
            retry.target = -1;

    retryLfoWork();
}

void kvAP::parameterChanged (const juce::String& parameterID, float newValue)
{
    // Hosts and control surfaces can send anything; what is not a finite
    // number changes nothing (the parameters themselves refuse it too).
    if (! std::isfinite (newValue))
        return;

    // The message thread applies the change at once. Any other thread (a
    // plug-in wrapper calls this on the audio thread, before the block) only
    // marks it: the render loop applies it at the top of the next block,
    // with the parameter's value then, and never waits for a busy layer.
    if (juce::MessageManager::existsAndIsCurrentThread())
    {
        updateSynth (parameterID, newValue, false);
        return;
    }

    const auto found = dispatchIndexById.find (parameterID);

    if (found != dispatchIndexById.end())
        markPending (found->second);
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

bool kvAP::dispatch (const DispatchEntry& entry, float v)
{
    auto* section = entry.section;

    switch (entry.action)
    {
        case Dispatch::none:
            return true;

        case Dispatch::adsr:
            return visitVoices (*section, [&] (SynthVoice& voice) { voice.setADSR (entry.setting, v); });

        case Dispatch::shapeParam:
            return visitVoices (*section, [&] (SynthVoice& voice) { voice.setParam (entry.shapeParamIndex, v); });

        case Dispatch::tuneSemi:
        {
            const auto done = visitVoices (*section, [&] (SynthVoice& voice) { voice.setTuneSemi (v); });
            const auto semi = (int) std::roundf (v * 48.0f - 24.0f);

            if (entry.renderSection == 1) renderValues.synth1TuneSemi = semi;
            if (entry.renderSection == 2) renderValues.synth2TuneSemi = semi;
            return done;
        }

        case Dispatch::tuneCent:
        {
            const auto done = visitVoices (*section, [&] (SynthVoice& voice) { voice.setTuneCents (v); });
            const auto cents = v * 2.0f - 1.0f;

            if (entry.renderSection == 1) renderValues.synth1TuneCent = cents;
            if (entry.renderSection == 2) renderValues.synth2TuneCent = cents;
            return done;
        }

        case Dispatch::detune:
        {
            const auto step = v / (float) section->unison;
            auto offset = 0.0f;
            auto done = true;

            for (int layer = 0; layer < section->numSynths; ++layer)
            {
                done = visitVoicesOfLayer (*section, layer, [&] (SynthVoice& voice) { voice.setDetune (offset); }) && done;
                offset += step;
            }
            return done;
        }

        case Dispatch::unison:
        {
            const auto count = countFromValue (v);

            if (section->unison != count)
                section->unison = count;

            const auto shown = (int) std::roundf (1.0f + v * 15.0f);

            if (entry.renderSection == 1) renderValues.synth1Unison = shown;
            if (entry.renderSection == 2) renderValues.synth2Unison = shown;
            return true;
        }

        case Dispatch::voices:
        {
            const auto count = countFromValue (v);
            const auto wait = mayWait();

            // Adding or removing voices allocates; it only happens when the count
            // changes. A thread that must not wait leaves a busy layer as it is:
            // the change stays pending and brings it along on a later block.
            const auto change = wait ? section->setNumVoices (count) : section->trySetNumVoices (count);
            auto done = change.complete;

            if (change.added > 0 || change.removed > 0)
            {
                // New voices get the section's shape: by its registry index where
                // the section's id text (the message thread's) must not be read.
                if (wait)
                    section->setOscType (section->oscType);
                else
                    done = section->tryApplyOscType() && done;

                // New voices start from the voice defaults: give them the section's
                // current settings, or notes on them would play out of tune, at the
                // wrong level or with another envelope.
                if (change.added > 0 && ! bulkUpdate)
                {
                    if (wait)
                        reapplySectionSettings (*section);
                    else
                        markSectionSettingsPending (*section);
                }
            }

            const auto shown = (int) std::roundf (1.0f + v * 15.0f);

            if (entry.renderSection == 1) renderValues.synth1Voices = shown;
            if (entry.renderSection == 2) renderValues.synth2Voices = shown;
            return done;
        }

        case Dispatch::volume:
        {
            const auto volume = v / (float) section->unison;
            return visitVoices (*section, [&] (SynthVoice& voice) { voice.setVolume (volume); });
        }

        case Dispatch::noise:
            return visitVoices (*section, [&] (SynthVoice& voice) { voice.setNoise (v); });

        case Dispatch::lfoRate:
            return updateLFOAtTempo (*section, v, currentBpm.load());

        case Dispatch::cutoff:
            filterCutoff = v;
            updateFilter();
            // The frequency the filter runs at, on the same curve (a read-out
            // linear in v would say 10040 Hz where the filter sits at 3078).
            renderValues.cutoffHz = (int) filterCutoffHzAt (v, getSampleRate());
            return true;

        case Dispatch::resonance:
            filterResonance = v;
            updateFilter();
            return true;

        case Dispatch::filterMaxQ:
            filterQMaxValue = v;
            updateFilter();
            return true;

        case Dispatch::velocity:
        {
            const auto apply = [&] (SynthVoice& voice) { voice.setVelocity (entry.setting, v); };
            const auto first = visitVoices (synth1, apply);
            return visitVoices (synth2, apply) && first;
        }

        case Dispatch::adsrTime:
        {
            const auto apply = [v] (SynthVoice& voice) { voice.setADSR ("time", v); };
            const auto first = visitVoices (synth1, apply);
            return visitVoices (synth2, apply) && first;
        }

        case Dispatch::overdrive:
            overdriveAmount = v;
            updateOverdrive();
            return true;

        case Dispatch::pan:
            return visitVoices (*section, [&] (SynthVoice& voice) { voice.setPan (v); });

        case Dispatch::glide:
        {
            // The exponent is the float 1.8 widened to double, as the engine has always done.
            const auto glide = (float) std::pow ((double) juce::jmin (v, 0.99f), (double) 1.8f);
            return visitVoices (*section, [&] (SynthVoice& voice) { voice.setGlide (glide); });
        }
    }

    return true;
}

bool kvAP::isSectionSetting (const DispatchEntry& entry, const SynthGroup& section) noexcept
{
    const auto sectionSetting = entry.section == &section && entry.action != Dispatch::voices;
    const auto sharedVoiceSetting = entry.action == Dispatch::velocity || entry.action == Dispatch::adsrTime;
    return sectionSetting || sharedVoiceSetting;
}

void kvAP::reapplySectionSettings (SynthGroup& section)
{
    for (size_t i = 0; i < dispatchTable.size(); ++i)
        if (isSectionSetting (dispatchTable[i], section))
            dispatch (dispatchTable[i], paramValues[i]->load());
}

void kvAP::markSectionSettingsPending (const SynthGroup& section) noexcept
{
    for (size_t i = 0; i < dispatchTable.size(); ++i)
        if (isSectionSetting (dispatchTable[i], section))
            markPending ((int) i);
}

float kvAP::getParamValue (const juce::String& id) const
{
    const auto found = dispatchIndexById.find (id);
    return found != dispatchIndexById.end() ? paramValues[(size_t) found->second]->load() : 0.0f;
}

void kvAP::updateAllParams()
{
    // Off the message thread (a host restoring its state on the audio
    // thread) every value is left to the render loop, in the same order.
    if (! juce::MessageManager::existsAndIsCurrentThread())
    {
        for (size_t i = 0; i < dispatchTable.size(); ++i)
            markPending ((int) i);

        return;
    }

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

    const auto wait = juce::MessageManager::existsAndIsCurrentThread();

    for (const auto& [key, section] : keys)
    {
        if (wait)
            (this->*section).setOscType (getModMap (key));
        else
            (this->*section).setOscTypeLater (getModMap (key));
    }
}
