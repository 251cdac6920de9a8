#include "SynthGroup.h"

bool SynthLayer::followWithoutRendering (const juce::MidiBuffer& midi, bool releaseNotes)
{
    const juce::ScopedTryLock sl (lock);

    if (! sl.isLocked())
        return false;

    if (releaseNotes)
        allNotesOff (0, false);

    for (const auto metadata : midi)
    {
        // Only channel messages of two or three bytes: no allocation here.
        const auto kind = metadata.numBytes > 0 ? (metadata.data[0] & 0xf0) : 0;

        if (kind == 0xb0 || kind == 0xc0 || kind == 0xd0 || kind == 0xe0)
            handleMidiEvent (metadata.getMessage());
    }

    return true;
}

juce::SynthesiserVoice* SynthLayer::findVoiceToSteal (juce::SynthesiserSound* sound, int, int midiNoteNumber) const
{
    // Lowest and highest held notes are protected (first in list order on ties).
    juce::SynthesiserVoice* low = nullptr;
    juce::SynthesiserVoice* top = nullptr;

    for (auto* voice : voices)
    {
        if (voice->canPlaySound (sound) && ! voice->isPlayingButReleased())
        {
            const auto note = voice->getCurrentlyPlayingNote();

            if (low == nullptr || note < low->getCurrentlyPlayingNote())
                low = voice;

            if (top == nullptr || note > top->getCurrentlyPlayingNote())
                top = voice;
        }
    }

    // With a single held note only that one is protected.
    if (top == low)
        top = nullptr;

    const auto oldest = [&] (auto&& accepts) -> juce::SynthesiserVoice*
    {
        juce::SynthesiserVoice* best = nullptr;

        for (auto* voice : voices)
            if (voice->canPlaySound (sound) && accepts (*voice) && (best == nullptr || voice->wasStartedBefore (*best)))
                best = voice;

        return best;
    };

    const auto unprotected = [low, top] (const juce::SynthesiserVoice& v) { return &v != low && &v != top; };

    if (auto* v = oldest ([midiNoteNumber] (const juce::SynthesiserVoice& x) { return x.getCurrentlyPlayingNote() == midiNoteNumber; }))
        return v;

    if (auto* v = oldest ([&] (const juce::SynthesiserVoice& x) { return unprotected (x) && x.isPlayingButReleased(); }))
        return v;

    if (auto* v = oldest ([&] (const juce::SynthesiserVoice& x) { return unprotected (x) && ! x.isKeyDown(); }))
        return v;

    if (auto* v = oldest (unprotected))
        return v;

    // Only protected voices remain: keep the bass note.
    return top != nullptr ? top : low;
}

SynthGroup::SynthGroup()
{
    for (auto& synth : synths)
        synth = std::make_unique<SynthLayer>();
}

SynthGroup::~SynthGroup()
{
    for (int i = 0; i < numSynths; ++i)
    {
        synths[(size_t) i]->clearVoices();
        synths[(size_t) i]->clearSounds();
    }

    for (auto i = synths.size(); i > 0; --i)
        synths[i - 1].reset();
}

SynthLayer::SynthLayer()
{
    voices.ensureStorageAllocated (maxVoices);
    staging.ensureStorageAllocated (maxVoices);
}

SynthLayer::~SynthLayer()
{
    staging.clearQuick (false); // holds no voice of its own between swaps
}

void SynthLayer::prepareSpareVoices (int total, double rate)
{
    const juce::ScopedLock sl (lock);

    while (getNumVoices() + numSpares < juce::jmin (total, maxVoices))
        spares[(size_t) numSpares++] = std::make_unique<SynthVoice>();

    for (int i = 0; i < numSpares; ++i)
    {
        spares[(size_t) i]->setCurrentPlaybackSampleRate (rate);
        if (auto* voice = dynamic_cast<SynthVoice*> (spares[(size_t) i].get()))
            voice->prepareToPlay ((int) rate);
    }
}

bool SynthLayer::takeSpareVoice()
{
    if (numSpares == 0 || voices.size() >= maxVoices)
        return false;

    addVoice (spares[(size_t) --numSpares].release());
    return true;
}

bool SynthLayer::parkLastVoice()
{
    if (voices.isEmpty() || numSpares >= maxVoices)
        return false;

    auto* last = voices.getLast();
    last->stopNote (0.0f, false);

    staging.clearQuick (false);
    for (int i = 0; i < voices.size() - 1; ++i)
        staging.add (voices.getUnchecked (i));

    voices.swapWith (staging);
    staging.clearQuick (false);
    spares[(size_t) numSpares++].reset (last);
    return true;
}

namespace
{
    /** Called with the layer's lock held. Prepared spare voices come and go
        without allocating; beyond them voices are made or deleted. */
    void resizeLayer (SynthLayer& synth, int n, double sampleRate, SynthGroup::VoiceCountChange& change)
    {
        while (synth.getNumVoices() > n)
        {
            if (! synth.parkLastVoice())
                synth.removeVoice (synth.getNumVoices() - 1);
            ++change.removed;
        }

        while (synth.getNumVoices() < n)
        {
            if (! synth.takeSpareVoice())
            {
                auto voice = std::make_unique<SynthVoice>();
                voice->prepareToPlay ((int) sampleRate);
                synth.addVoice (voice.release());
            }
            ++change.added;
        }
    }
}

SynthGroup::VoiceCountChange SynthGroup::setNumVoices (int n)
{
    VoiceCountChange change;

    for (int layer = 0; layer < numSynths; ++layer)
    {
        auto& synth = getSynth (layer);
        const juce::ScopedLock sl (synth.getLock());
        resizeLayer (synth, juce::jmax (0, n), sampleRate, change);
    }

    return change;
}

SynthGroup::VoiceCountChange SynthGroup::trySetNumVoices (int n)
{
    VoiceCountChange change;

    for (int layer = 0; layer < numSynths; ++layer)
    {
        auto& synth = getSynth (layer);
        const juce::ScopedTryLock sl (synth.getLock());

        if (sl.isLocked())
            resizeLayer (synth, juce::jmax (0, n), sampleRate, change);
        else
            change.complete = false;
    }

    return change;
}

const Waveform* SynthGroup::tryGetFirstVoiceWave() const
{
    auto& synth = getSynth (0);
    const juce::ScopedTryLock sl (synth.getLock());

    if (! sl.isLocked() || synth.getNumVoices() == 0)
        return nullptr;

    if (auto* voice = dynamic_cast<SynthVoice*> (synth.getVoice (0)))
        return voice->currentWave.load();

    return nullptr;
}

namespace
{
    /** The shapes in registry order, for turning an id into the index every
        voice's own registry shares. */
    const WaveManager& shapeOrder()
    {
        static const WaveManager registry;
        return registry;
    }
}

void SynthGroup::setOscType (const juce::String& id)
{
    oscType = id;
    oscTypeIndex = juce::jmax (0, shapeOrder().getIndexById (id));
    forEachVoice ([&id] (SynthVoice& v) { v.setOscType (id); });
}

void SynthGroup::setOscTypeLater (const juce::String& id)
{
    oscType = id;
    oscTypeIndex = juce::jmax (0, shapeOrder().getIndexById (id));
    oscTypePending = true;
}

bool SynthGroup::tryApplyOscType()
{
    // Cleared first: a shape stored meanwhile asks again.
    oscTypePending = false;
    const auto index = oscTypeIndex.load();

    const auto done = tryForEachVoice ([index] (SynthVoice& v)
    {
        auto* wave = v.currentWave.load();

        if (wave == nullptr || v.waves.waveforms.indexOf (wave) != index)
            v.setOscTypeIndex (index);
    });

    if (! done)
        oscTypePending = true;

    return done;
}

void SynthGroup::setADSR (juce::StringRef key, float v)
{
    forEachVoice ([key, v] (SynthVoice& voice) { voice.setADSR (key, v); });
}

void SynthGroup::setVelocity (juce::StringRef key, float v)
{
    forEachVoice ([key, v] (SynthVoice& voice) { voice.setVelocity (key, v); });
}

void SynthGroup::startLfo()
{
    for (int layer = 0; layer < numSynths; ++layer)
    {
        auto& synth = getSynth (layer);
        synth.noteOff (1, 0, 127.0f, true);
        forEachVoiceOfLayer (layer, [] (SynthVoice& v) { v.resetADSR(); });
        synth.noteOn (1, 0, 127.0f);
    }
}

void SynthGroup::requestLfoRestart (bool resetPhases, bool resetFirstVoice)
{
    lfoRestartLayers = numSynths >= 32 ? ~0u : (1u << numSynths) - 1u;
    lfoRestartResetsPhases = lfoRestartResetsPhases || resetPhases;
    lfoRestartResetsFirstVoice = lfoRestartResetsFirstVoice || resetFirstVoice;
    retryLfoRestart();
}

bool SynthGroup::retryLfoRestart()
{
    for (int layer = 0; layer < numSynths && lfoRestartLayers != 0; ++layer)
    {
        const auto bit = 1u << layer;

        if ((lfoRestartLayers & bit) == 0)
            continue;

        auto& synth = getSynth (layer);
        const juce::ScopedTryLock sl (synth.getLock());

        if (! sl.isLocked())
            continue;

        // The layer's own note-off and note-on take the same lock again,
        // which this thread already holds: they do not wait.
        restartLfoLayer (synth, layer);
        lfoRestartLayers &= ~bit;
    }

    if (lfoRestartLayers != 0)
        return false;

    lfoRestartResetsPhases = lfoRestartResetsFirstVoice = false;
    return true;
}

void SynthGroup::restartLfoLayer (SynthLayer& synth, int layer)
{
    if (lfoRestartResetsPhases)
        visitLayer (synth, [] (SynthVoice& v) { v.resetPhase(); });

    synth.noteOff (1, 0, 127.0f, true);
    visitLayer (synth, [] (SynthVoice& v) { v.resetADSR(); });
    synth.noteOn (1, 0, 127.0f);

    if (lfoRestartResetsFirstVoice && layer == 0 && synth.getNumVoices() > 0)
    {
        if (auto* first = dynamic_cast<SynthVoice*> (synth.getVoice (0)))
        {
            first->resetPhase();
            first->resetADSR();
        }
    }
}
