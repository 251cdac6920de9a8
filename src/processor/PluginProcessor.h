#pragma once

#include "diagnostics/BugReporter.h"
#include "state/OAFileIO.h"
#include "state/OASettings.h"
#include "OutputGuard.h"
#include "ParamMan.h"
#include "RenderValues.h"
#include "ScopeFifo.h"
#include "synth/SynthGroup.h"
#include "synth/WaveManager.h"
#include "ui/OATheme.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_dsp/juce_dsp.h>

#include <array>
#include <string>
#include <atomic>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

/** The Korvane processor: owns everything the sound needs for the whole run. */
class kvAP : public juce::AudioProcessor,
             public juce::AudioProcessorValueTreeState::Listener
{
public:
    kvAP();
    ~kvAP() override;

    //==============================================================================
    const juce::String getName() const override { return "Korvane"; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return true; }
    bool isMidiEffect() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}
    void reset() override {}
    bool hasEditor() const override { return true; }
    juce::AudioProcessorEditor* createEditor() override;

    bool isBusesLayoutSupported (const BusesLayout& layout) const override;
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    // Single precision only: supportsDoublePrecisionProcessing() stays false, so
    // hosts never call the framework's double-precision version (which asserts).
    using juce::AudioProcessor::processBlock;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    /** Host state holding a longer document text is refused. The program's
        own state stays far below it (a patch file is read up to 256 KiB, and
        written back it grows at most a few times by indentation). */
    static constexpr int maxHostStateTextBytes = 8 * 1024 * 1024;

    void updateTrackProperties (const TrackProperties& properties) override;
    TrackProperties getTrackProperties() const;

    void parameterChanged (const juce::String& parameterID, float newValue) override;

    void resetRenderValues() noexcept { renderValues.reset(); }

    //==============================================================================
    // Parameter dispatch: the single path from a parameter value to the engine.
    void updateSynth (const juce::String& id, float value, bool force);
    void updateAllParams();
    void updateOscTypes();
    SynthGroup* findSynthGroup (const juce::String& prefix);

    // Render loop
    template <typename FloatType>
    void process (juce::AudioBuffer<FloatType>& buffer, const juce::MidiBuffer& midi);
    void processMidi (const juce::MidiBuffer& events);

    // Output stage
    void prepareFilter (double sampleRate, int samplesPerBlock);
    void updateFilter();
    std::string filterCutoffString() const;
    void prepareOverdrive (double sampleRate, int samplesPerBlock);
    void updateOverdrive();

    /** The filter's cutoff in Hz for a "cutoff" value, and its Q for "res" and "filterQMax" values. */
    static float filterCutoffHzFor (float cutoff);
    static float filterQFor (float resonance, float qMax);

    /** The cutoff the filter runs at for a "cutoff" value: filterCutoffHzFor,
        kept below Nyquist when the sample rate (0: not known yet) needs it.
        The cutoff read-out (renderValues.cutoffHz, filterCutoffString) shows
        this frequency, truncated to whole Hz. */
    static float filterCutoffHzAt (float cutoff, double sampleRate);

    /** The low-pass coefficients (b0, b1, b2, a0, a1, a2) that the current
        filter settings ask for at the given sample rate. */
    std::array<float, 6> computeFilterCoefficients (double sampleRate) const;

    /** Current normalised value of a parameter of the table. */
    float getParamValue (const juce::String& id) const;

    // Modulation mapping: the eight keys of modMap (four waveform ids, four
    // target ids). setModMapEntry is the one way to change them (message
    // thread only): it keeps the audio thread's copy of the four targets in
    // step. Unknown keys are refused (false); the map never gains a key.
    bool setModMapEntry (const juce::String& key, const juce::String& value);
    /** The value of one key, or "unknown" for a key the map does not hold. */
    juce::String getModMap (const juce::String& key) const;
    /** A copy of the whole map, in key order (as the patch document lists it). */
    std::map<juce::String, juce::String> getModMap() const;

    // Patch documents and host state
    std::unique_ptr<juce::XmlElement> buildPatchData();
    juce::String buildPatchDataString();
    juce::ValueTree loadModMaps (juce::ValueTree tree);

    /** Applies a patch document given as text; refuses (and changes nothing)
        when the text is not a patch document. */
    juce::Result replaceState (const juce::String& xmlText);

    /** True when a document of that version should warn the user: its first
        or second piece is smaller, as text, than ours. */
    static bool isVersionMismatch (const juce::String& documentVersion);
    static juce::String versionMismatchText (const juce::String& documentVersion);

    // Patch operations (message thread). The callers push the oscillator
    // types into the voices afterwards (updateOscTypes).
    /** Writes the current sound as fileName (name + ".kvn") into the patch
        folder. Returns false, with a notice and without touching any file,
        when the name leaves the folder, no document can be built or the
        write fails. */
    bool savePatch (juce::String fileName);
    void loadPatch (juce::String fileName, bool unused = false);
    /** Loads a patch file anywhere below the patch folder (the patch list
        finds them in subfolders too). False when nothing was applied: a
        file outside the folder or missing (quietly), or one that can't be
        read or is no patch document (with a notice). */
    bool loadPatchFile (const juce::File& file);
    void loadDefaultPatch (juce::String name, bool unused = false);
    void randomizePatch();

    // Diagnostics
    void logReport (juce::String text);
    void logStateReport (juce::String label);
    juce::File writeReport (juce::String kind);

    // Modulation
    void updateLFO (const juce::String& prefix, float value);
    void updateCurrentTimeInfoFromHost();

    /** True while a change is waiting for the render loop: a parameter set
        on another thread than the message thread, or work the audio thread
        skipped because a layer was busy. */
    bool hasPendingWork() const noexcept;
    /** True while a change of this parameter waits for the render loop. */
    bool isPending (const juce::String& id) const;


    /** The embedded "Init[OA]" patch. */
    static const char* getDefaultPatchXml() noexcept;

    static constexpr int historyCapacity = 96000;

    //==============================================================================
    juce::MidiKeyboardState keyboardState;
    juce::SpinLock positionLock;
    juce::AudioPlayHead::CurrentPositionInfo lastPosInfo;

    OASettings settings;

    ParamMan paramMan;
    juce::AudioProcessorValueTreeState apvts;

    juce::String patchName { "Init" };
    /** The tempo-synced rate label of LFO 1 or 2 ("1/4" ...; "x/y" before the first rate is applied). */
    juce::String getLfoRateText (int lfoNumber) const;
    juce::ADSR env1Adsr, env2Adsr;
    OATheme theme; // the palette every editor of this processor draws with
    std::atomic<bool> bulkUpdate { true };
    std::atomic<bool> overdriveBypassed { true };
    RenderValues renderValues;

    std::map<juce::String, juce::String> modMapNames;
    WaveManager waveManager;

    OAFileIO fileIO;

    std::unordered_map<juce::String, juce::String> builtInPatches;
    juce::String defaultPatchXml;

    std::array<std::vector<double>, 2> peakHistory;
    int historyLength = 0;
    int historyDivisor = 0;
    std::array<int, 2> historyWritePos { 0, 0 };
    bool historyFull = false;
    int sampleRateInt = 0;

    BugReporter bugReporter { true, true };

    std::atomic<int> activeNotes { 0 };
    std::atomic<float> filterCutoff { 0.0f }, filterResonance { 0.1f }, filterQMaxValue { 0.5f }, overdriveAmount { 0.0f };

    SynthGroup synth1, synth2, lfo1, lfo2;
    juce::int64 lfoStepCountdown = 100;

    using IIRFilter = juce::dsp::IIR::Filter<float>;
    using IIRCoefficients = juce::dsp::IIR::Coefficients<float>;
    juce::dsp::ProcessorDuplicator<IIRFilter, IIRCoefficients> filter;

    std::array<ScopeFifo, 2> scopeFifos;
    std::array<ScopeCapture, 2> scopeCaptures { ScopeCapture (scopeFifos[0]), ScopeCapture (scopeFifos[1]) };

    enum OverdriveStage { preGainIndex, biasIndex, shaperIndex, dcBlockerIndex, postGainIndex };
    juce::dsp::ProcessorChain<juce::dsp::Gain<float>,
                              juce::dsp::Bias<float>,
                              juce::dsp::WaveShaper<float, float (*) (float)>,
                              juce::dsp::ProcessorDuplicator<IIRFilter, IIRCoefficients>,
                              juce::dsp::Gain<float>> overdriveChain;

    juce::dsp::Limiter<float> limiter;

    /** Silences a finished block that holds a non-finite sample; what it
        silenced goes to the log. */
    OutputGuard outputGuard { [this] (const juce::String& line) { logReport (line); } };
    juce::Random random;

private:
    /** What a parameter id does, resolved once when the table is built, so
        that a dispatch needs no string work, allocation or lock. */
    enum class Dispatch
    {
        none, adsr, shapeParam, tuneSemi, tuneCent, detune, unison, voices, volume, noise,
        lfoRate, cutoff, resonance, filterMaxQ, velocity, adsrTime, overdrive, pan, glide
    };

    struct DispatchEntry
    {
        Dispatch action = Dispatch::none;
        juce::String prefix, setting;
        SynthGroup* section = nullptr;
        int shapeParamIndex = -1;
        int renderSection = 0; // 1 for "synth1", 2 for "synth2", otherwise 0
    };

    /** Marks the current thread as rendering for as long as it lives. */
    struct ScopedRenderThread
    {
        ScopedRenderThread() noexcept;
        ~ScopedRenderThread();
        bool previous;
    };

    static bool isRenderThread() noexcept;
    /** True on the message thread outside a block: the one thread that may
        wait for a layer's voice list. */
    static bool mayWaitForVoices() noexcept;

    void buildDispatchTable();
    void modMapChanged();
    /** What one modulation source reads, resolved once at construction. */
    struct EnvelopeSource
    {
        std::atomic<int>* target;
        std::atomic<float>* attack;
        std::atomic<float>* decay;
        std::atomic<float>* sustain;
        std::atomic<float>* release;
        std::atomic<float>* factor;
        std::atomic<float>* retrig;
        std::atomic<float>* value;
        std::atomic<float>* level;
    };

    struct LfoSource
    {
        std::atomic<int>* target;
        std::atomic<float>* factor;
        std::atomic<float>* retrigAuto;
        std::atomic<float>* value;
        std::atomic<float>* level;
    };

    void applyModulation (const juce::MidiBuffer& midi, int numSamples);
    void applyEnv (int sourceIndex, const EnvelopeSource& source, juce::ADSR& adsr, const juce::MidiBuffer& events, int numSamples);
    void applyLfo (int sourceIndex, const LfoSource& source, SynthGroup& group, const juce::MidiBuffer& events, int numSamples);
    void dispatchModulated (int source, int targetIndex, float value);
    void resolveModulationSources();
    /** False when a layer was busy and kept its old rate (never waits off
        the message thread). */
    bool updateLFOAtTempo (SynthGroup& lfo, float value, double bpm);
    /** Applies one value; false when a thread that must not wait left a busy
        layer as it was. */
    bool dispatch (const DispatchEntry& entry, float v);
    static bool isSectionSetting (const DispatchEntry& entry, const SynthGroup& section) noexcept;
    void reapplySectionSettings (SynthGroup& section);
    void markSectionSettingsPending (const SynthGroup& section) noexcept;
    void markPending (int index) noexcept;
    /** The render loop's first step: applies what waits, leaving what finds
        a layer busy for the next block. */
    void applyPendingChanges();
    void retryLfoWork();
    void applyPendingFilterCoefficients();
    void applyPendingOverdriveSettings();
    void feedHistory (const juce::AudioBuffer<float>& buffer);
    void applyPatchLocation();
    void startStandaloneCrashReports();

    std::map<juce::String, juce::String> modMap; // written only through setModMapEntry

    std::vector<DispatchEntry> dispatchTable;                 // in table order
    std::vector<int> pendingApplyOrder;                       // table indices, counts first
    // One flag per parameter, set by a change off the message thread (or a
    // dispatch that found a layer busy), cleared by the render loop.
    std::unique_ptr<std::atomic<bool>[]> paramPending;
    std::atomic<bool> anyParamPending { false };

    // Audio thread only: a modulated value (by source: env1, env2, lfo1,
    // lfo2) that did not reach every layer, and the LFO re-tunes left over.
    struct ModulationRetry { int target = -1; float value = 0.0f; };
    std::array<ModulationRetry, 4> modulationRetry {};
    std::array<bool, 2> lfoRetunePending { false, false };
    double lfoRetuneBpm = 120.0;
    std::map<juce::String, int> dispatchIndexById;
    std::vector<std::atomic<float>*> paramValues;            // in table order
    std::atomic<float>* masterVolValue = nullptr;
    std::atomic<float>* limiterValue = nullptr;
    // Each modulation source's target as the audio thread sees it.
    static constexpr int targetMissing = -2; // no such key, or an empty value: the source does nothing
    static constexpr int targetNone = -1;    // "dummy" or an id outside the table
    std::atomic<int> env1Target { targetNone }, env2Target { targetNone }, lfo1Target { targetNone }, lfo2Target { targetNone };

    EnvelopeSource env1 {}, env2 {};
    LfoSource lfo1Source {}, lfo2Source {};
    std::atomic<float>* adsrTimeValue = nullptr;

    std::atomic<float>* lfo1RateValue = nullptr;
    std::atomic<float>* lfo2RateValue = nullptr;

    // Written with the label index so that the editor never reads a string the
    // audio thread is replacing.
    std::atomic<int> lfo1RateIndex { -1 }, lfo2RateIndex { -1 };

    // The audio thread's copy of the last position it stored, and its tempo for
    // rate changes made on other threads.
    juce::AudioPlayHead::CurrentPositionInfo storedPosition;
    std::atomic<double> currentBpm { 120.0 };

    // Filter and overdrive settings are changed on any thread but handed to
    // the DSP objects only by the audio thread (or while it is stopped).
    std::atomic<bool> filterDirty { false };
    std::atomic<bool> overdriveDirty { false };

    // The reserved MIDI buffer that processBlock swaps into the host's, and
    // the storage it handed over (the host's buffer while it still holds it).
    static constexpr size_t midiReserve = 64 * 1024;
    juce::MidiBuffer spareMidi;
    const juce::uint8* handedOverMidi = nullptr;

    mutable juce::CriticalSection trackPropertiesLock;
    std::optional<juce::String> trackName;
    std::optional<juce::Colour> trackColour;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (kvAP)
};
