#pragma once

#include "WaveManager.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

/** One voice of an oscillator section, or (with setIsLfo (true)) the voice
    that produces an LFO's control signal.

    Threading: the setters may be called from the message thread while the
    audio thread renders, and from the audio thread itself for modulation.
    Everything they write is atomic (relaxed). The envelope object belongs to
    the audio thread: setADSR only stores the raw settings and flags them, and
    the envelope takes them over the next time the voice touches it. Nothing
    on the render path allocates or locks. */
class SynthVoice : public juce::SynthesiserVoice,
                   public juce::AudioProcessorValueTreeState::Listener
{
public:
    /** State of one per-sample smoothing (or the glide) of a voice. */
    struct Smoother
    {
        bool enabled = false;
        bool pending = true;    // the next update jumps straight to the target
        double value = 0.0;
        int rate = 0;
    };

    SynthVoice();
    ~SynthVoice() override;

    //==============================================================================
    bool canPlaySound (juce::SynthesiserSound*) override;
    void startNote (int midiNoteNumber, float velocity, juce::SynthesiserSound*, int currentPitchWheelPosition) override;
    void stopNote (float velocity, bool allowTailOff) override;
    void pitchWheelMoved (int newPitchWheelValue) override;
    void controllerMoved (int controllerNumber, int newControllerValue) override;

    using juce::SynthesiserVoice::renderNextBlock;
    void renderNextBlock (juce::AudioBuffer<float>& outputBuffer, int startSample, int numSamples) override;

    void parameterChanged (const juce::String& parameterID, float newValue) override;

    //==============================================================================
    void setParam (int index, float v) noexcept;
    void setTuneSemi (float v) noexcept      { store (tuneSemi, v); }
    void setTuneCents (float v) noexcept     { store (tuneCents, v); }
    void setDetune (float v) noexcept        { store (detune, v); }
    void setVolume (float v) noexcept        { store (volume, v); }
    void setNoise (float v) noexcept         { store (noise, v); }
    void setPan (float v) noexcept           { store (pan, v); }
    void setGlide (float v) noexcept         { store (glide, v); }
    void setFrequencyHz (float v) noexcept   { store (frequencyHz, v); }
    void setFrequencyF (float f) noexcept    { store (frequencyHz, 2.5f * f); }
    void setIsLfo (bool shouldBeLfo) noexcept { isLfo.store (shouldBeLfo, std::memory_order_relaxed); }

    /** Keys "attack", "decay", "sustain", "release", "time" and "scaling";
        other keys change nothing. Takes a StringRef so that literal keys cost
        no allocation on the audio thread. */
    void setADSR (juce::StringRef key, float v) noexcept;

    /** Keys "velMin", "velMax" and "velGain"; other keys change nothing. */
    void setVelocity (juce::StringRef key, float v) noexcept;

    /** Selects a shape of this voice's own registry; an unknown id selects
        entry 0. Not for the audio thread (it copies a string). */
    void setOscType (const juce::String& id);

    /** The same by registry index (clamped), for the audio thread: no text
        is compared; the voice's id becomes that entry's own id. */
    void setOscTypeIndex (int index) noexcept;

    /** Arms the smoothers and the glide; call before the first note. */
    void prepareToPlay (int rate);

    void resetPhase() noexcept               { angle = 0.0; }
    void startADSR() noexcept;
    void stopADSR() noexcept;
    void resetADSR() noexcept;

    /** Recomputes the envelope from the raw settings (taken over by the
        envelope on the audio thread's next use of it). */
    void updateADSR() noexcept;

    /** Envelope times and level that the current raw settings produce. */
    juce::ADSR::Parameters getEnvelopeParameters() const noexcept;

    /** Recomputes angleDelta from note, tuning and glide (or, for an LFO, the
        base frequency). */
    void calcDelta() noexcept;

    /** The phases of n samples from angle on, each the running sum angle += delta, bit for bit. */
    static void fillPhases (double& angle, double delta, double* out, int n) noexcept;

    /** One sample of the shape with smoothed parameters; advances the phase. */
    float buildCurrentSample() noexcept;

    /** One control-rate step of an LFO voice; 0 while the voice is silent. */
    float getNextLfoVal() noexcept;

    static double getMidiNoteInHertz (float note, double ref) noexcept;
    float getPanFactor (int channel) const noexcept;
    float applyAmpMods (float sample) const noexcept;
    float applyADSR (float sample) noexcept;
    float getNextSample() noexcept;

    static float pitchBendFromWheel (int wheel) noexcept   { return (float) (4 * wheel - 32768) / 16383.0f; }

    //==============================================================================
    WaveManager waves;
    juce::ADSR adsr;                                    // audio thread only

    double angle = 0.0;                                 // radians, never wrapped
    double angleDelta = 0.0;                            // 0 while the voice is silent
    float velocity = 0.0f;
    int noteNumber = 0;
    float pitchBend = 0.0f;                             // semitones

    std::atomic<float> params[2] { { 0.5f }, { 0.25f } };
    std::atomic<float> rawAttack { 0.01f }, rawDecay { 0.01f }, rawSustain { 1.0f }, rawRelease { 0.01f };
    juce::String oscType { "sine_og" };                 // never read on the audio path
    std::atomic<float> noise { 0.0f };
    std::atomic<float> tuneSemi { 0.5f };
    std::atomic<float> tuneCents { 0.5f };
    std::atomic<float> detune { 0.0f };
    std::atomic<float> volume { 0.5f };
    std::atomic<float> envTime { 0.5f };
    std::atomic<float> envScaling { 40.0f };
    std::atomic<float> velGain { 0.0f };
    std::atomic<float> velMin { 0.0f };
    std::atomic<float> velMax { 1.0f };
    std::atomic<float> frequencyHz { 2.0f };
    std::atomic<float> pan { 0.5f };
    std::atomic<float> glide { 0.0f };
    int glideRate = 0;
    std::atomic<bool> isLfo { false };
    std::atomic<Waveform*> currentWave { nullptr };

    Smoother param1Smoother, param2Smoother;
    Smoother glideSmoother;                             // value = last frequency in Hz

    juce::Random rng;

private:
    static void store (std::atomic<float>& field, float v) noexcept   { field.store (v, std::memory_order_relaxed); }
    static float load (const std::atomic<float>& field) noexcept      { return field.load (std::memory_order_relaxed); }

    static float smooth (Smoother&, float target) noexcept;

    /** n smoothing steps into out; true when they all gave the same value. */
    static bool smoothBlock (Smoother&, float target, float* out, int n) noexcept;
    static float panGain (float panPosition, int channel) noexcept;
    float buildSample (float target1, float target2, float noiseAmount) noexcept;
    void syncEnvelope() noexcept;

    /** n envelope steps into out, exactly as n calls of adsr.getNextSample(). */
    void fillEnvelope (float* out, int n) noexcept;
    void silence() noexcept;

    std::atomic<bool> envelopeDirty { false };
    double envelopeSampleRate = 44100.0;                // the rate the envelope's steps were computed for
    bool releasing = false;                             // between stopNote and the next startNote; as adsr

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SynthVoice)
};
