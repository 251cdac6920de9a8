#include "SynthVoice.h"
#include "SynthSound.h"
#include "ValueCurve.h"

#include <algorithm>
#include <cmath>

SynthVoice::SynthVoice() = default;
SynthVoice::~SynthVoice() = default;

//==============================================================================
bool SynthVoice::canPlaySound (juce::SynthesiserSound* sound)
{
    return dynamic_cast<SynthSound*> (sound) != nullptr;
}

void SynthVoice::startNote (int midiNoteNumber, float newVelocity, juce::SynthesiserSound*, int currentPitchWheelPosition)
{
    velocity = newVelocity;
    releasing = false;
    syncEnvelope();     // also moves the envelope to the voice's playback rate
    angle = 0.0;

    // An idle voice gets no wheel messages, so take the wheel's position now;
    // otherwise a note could start with the bend of a long-released one.
    pitchBend = pitchBendFromWheel (currentPitchWheelPosition);

    adsr.noteOn();
    noteNumber = midiNoteNumber;
    calcDelta();
}

void SynthVoice::stopNote (float, bool allowTailOff)
{
    if (! allowTailOff)
        silence();

    syncEnvelope();
    adsr.noteOff();
    releasing = true;
}

void SynthVoice::pitchWheelMoved (int newPitchWheelValue)
{
    pitchBend = pitchBendFromWheel (newPitchWheelValue);
}

void SynthVoice::controllerMoved (int, int) {}

void SynthVoice::parameterChanged (const juce::String&, float) {}

void SynthVoice::silence() noexcept
{
    clearCurrentNote();
    angleDelta = 0.0;
}

//==============================================================================
void SynthVoice::renderNextBlock (juce::AudioBuffer<float>& outputBuffer, int startSample, int numSamples)
{
    if (angleDelta == 0.0)
        return;

    syncEnvelope();
    const auto level = adsr.getNextSample();
    calcDelta();

    if (! (level > 0.0f))
    {
        silence();
        return;
    }

    // The settings are read once per block; a change made meanwhile takes
    // effect with the next block.
    const float ampFactor = 0.5f * load (volume)
                          * (load (velGain) + std::max (load (velMin), std::min (load (velMax), velocity)));
    const float target1 = load (params[0]);
    const float target2 = load (params[1]);
    const float noiseAmount = load (noise);
    auto* wave = currentWave.load (std::memory_order_relaxed);

    const int numChannels = outputBuffer.getNumChannels();
    float* const* channels = outputBuffer.getArrayOfWritePointers();
    const float panNow = load (pan);
    const float gain0 = panGain (panNow, 0), gain1 = panGain (panNow, 1), otherGain = panGain (panNow, 2);

    // The block goes through in passes: the phases, the smoothed shape
    // parameters, the shape's samples and the envelope each in a loop of
    // their own, then one pass adds the result into the channels. Per sample
    // this is the same arithmetic as buildCurrentSample() and applyADSR().
    constexpr int pass = 128;
    double phases[pass];
    float p1[pass], p2[pass], shape[pass], env[pass];

    for (int done = 0; done < numSamples; done += pass)
    {
        const int n = std::min (pass, numSamples - done);

        fillPhases (angle, angleDelta, phases, n);

        const bool constant1 = smoothBlock (param1Smoother, target1, p1, n);
        const bool constant2 = smoothBlock (param2Smoother, target2, p2, n);

        if (wave != nullptr)
            wave->renderBlock (phases, p1, p2, constant1 && constant2, noiseAmount, shape, n);
        else
            std::fill (shape, shape + n, 0.0f);

        fillEnvelope (env, n);

        for (int i = 0; i < n; ++i)
            env[i] = ampFactor * shape[i] * env[i];

        const int at = startSample + done;

        if (numChannels == 2 && gain0 == 1.0f && gain1 == 1.0f)
        {
            auto* left = channels[0] + at;
            auto* right = channels[1] + at;

            for (int i = 0; i < n; ++i)
            {
                right[i] += env[i];
                left[i] += env[i];
            }
        }
        else
        {
            for (int ch = numChannels; --ch >= 0;)
            {
                auto* out = channels[ch] + at;
                const float gain = ch == 0 ? gain0 : (ch == 1 ? gain1 : otherGain);

                for (int i = 0; i < n; ++i)
                    out[i] += env[i] * gain;
            }
        }
    }
}

void SynthVoice::fillEnvelope (float* out, int n) noexcept
{
    // An envelope step that leaves the level where it was (sustain, idle, or
    // a stage too slow to move the float) changes nothing inside the
    // envelope either, so every later step would give that level again: the
    // rest of the pass is filled without stepping.
    if (n <= 0)
        return;

    float previous = adsr.getNextSample();
    out[0] = previous;
    int i = 1;

    for (; i < n; ++i)
    {
        const float level = adsr.getNextSample();
        out[i] = level;

        if (level == previous)
        {
            ++i;
            break;
        }

        previous = level;
    }

    std::fill (out + i, out + n, previous);
}

void SynthVoice::fillPhases (double& angle, double delta, double* out, int n) noexcept
{
    // Within one binade of the angle every step rounds alike: the sum moves by
    // the multiple of the binade's ulp nearest to delta (unless delta lies
    // exactly half-way between two, where ties to even alternate). Then
    // angle + i * step is exact and equals the running sum, and the loop needs
    // no chain of dependent additions.
    if (n >= 8 && angle > 0.0 && delta >= 0.0 && angle < 1.0e300)
    {
        int exponent = 0;
        std::frexp (angle, &exponent);                        // angle in [2^(e-1), 2^e)
        const double top = std::ldexp (1.0, exponent);
        const double halfUlp = std::ldexp (1.0, exponent - 54);
        const double step = (angle + delta) - angle;         // exact (Sterbenz)
        const double end = angle + (double) n * step;

        if (std::abs (delta - step) != halfUlp && end < top)
        {
            for (int i = 0; i < n; ++i)
                out[i] = angle + (double) i * step;

            angle = end;
            return;
        }
    }

    for (int i = 0; i < n; ++i)
    {
        out[i] = angle;
        angle += delta;
    }
}

bool SynthVoice::smoothBlock (Smoother& s, float target, float* out, int n) noexcept
{
    if (n <= 0)
        return true;

    if (! s.enabled || s.pending || (int) (s.rate * 0.5) < 5)
    {
        // These cases give the target itself (and leave the value there).
        const float v = smooth (s, target);
        std::fill (out, out + n, v);
        return true;
    }

    const double steps = (double) (int) (s.rate * 0.5);

    // A value the next step cannot move stays where it is for good.
    if (s.value + ((double) target - s.value) * 5.0 / steps == s.value)
    {
        std::fill (out, out + n, (float) s.value);
        return true;
    }

    for (int i = 0; i < n; ++i)
        out[i] = smooth (s, target);

    return false;
}

float SynthVoice::getPanFactor (int channel) const noexcept
{
    return panGain (load (pan), channel);
}

float SynthVoice::panGain (float p, int channel) noexcept
{
    if (p == 0.5f)
        return 1.0f;

    if (channel == 0)
        return 2.0f - 2.0f * p;

    if (channel == 1)
        return 2.0f * p;

    return 0.0f;
}

float SynthVoice::applyAmpMods (float sample) const noexcept
{
    return 0.5f * load (volume)
         * (load (velGain) + std::max (load (velMin), std::min (load (velMax), velocity)))
         * sample;
}

float SynthVoice::applyADSR (float sample) noexcept
{
    syncEnvelope();
    return sample * adsr.getNextSample();
}

float SynthVoice::getNextSample() noexcept
{
    return applyADSR (applyAmpMods (buildCurrentSample()));
}

//==============================================================================
void SynthVoice::calcDelta() noexcept
{
    double f;

    if (! isLfo.load (std::memory_order_relaxed))
    {
        const int semi = (int) std::roundf (48.0f * load (tuneSemi) - 24.0f);
        const float exponent = ((float) (noteNumber + semi) + 2.0f * (load (tuneCents) - 0.5f)
                                + pitchBend + load (detune) - 69.0f) / 12.0f;
        f = 440.0 * std::pow (2.0, (double) exponent);

        if (glideSmoother.enabled)
        {
            if (glideSmoother.pending)
            {
                glideSmoother.pending = false;
                glideSmoother.value = f;
            }
            else
            {
                const int steps = (int) (glideSmoother.rate * 0.5);
                const double k = steps > 0
                    ? ((double) (float) glideRate * 0.5 / (double) std::max (1.0f, 50.0f * load (glide))) / (double) steps
                    : 1.0;   // unprepared rate: no glide rather than a division by zero
                f = glideSmoother.value + (f - glideSmoother.value) * k;
                glideSmoother.value = f;
            }
        }
    }
    else
    {
        f = (double) ((load (frequencyHz) + 2.0f * (load (tuneCents) - 0.5f))
                      * std::max (0.001f, 2.0f * load (tuneSemi)));
    }

    const double sampleRate = getSampleRate();

    // Without a playback rate the voice stays silent instead of producing inf/NaN.
    angleDelta = sampleRate > 0.0 ? (double) (float) f / sampleRate * juce::MathConstants<double>::twoPi
                                  : 0.0;
}

float SynthVoice::smooth (Smoother& s, float target) noexcept
{
    if (! s.enabled)
        return target;

    if (s.pending)
    {
        s.pending = false;
        s.value = target;
        return target;
    }

    const int steps = (int) (s.rate * 0.5);

    // Below 5 steps the factor would exceed 1 and the value would oscillate.
    if (steps < 5)
    {
        s.value = target;
        return target;
    }

    s.value = s.value + ((double) target - s.value) * 5.0 / (double) steps;
    return (float) s.value;
}

float SynthVoice::buildSample (float target1, float target2, float noiseAmount) noexcept
{
    float p[2] = { smooth (param1Smoother, target1), smooth (param2Smoother, target2) };

    auto* wave = currentWave.load (std::memory_order_relaxed);
    const float sample = wave != nullptr ? wave->wave (angle, p, noiseAmount) : 0.0f;

    angle += angleDelta;
    return sample;
}

float SynthVoice::buildCurrentSample() noexcept
{
    return buildSample (load (params[0]), load (params[1]), load (noise));
}

float SynthVoice::getNextLfoVal() noexcept
{
    if (angleDelta == 0.0)
        return 0.0f;

    syncEnvelope();
    const auto level = adsr.getNextSample();
    calcDelta();

    if (! (level > 0.0f))
    {
        silence();
        return 0.0f;
    }

    const float s = buildCurrentSample();
    return s * adsr.getNextSample();
}

//==============================================================================
void SynthVoice::setParam (int index, float v) noexcept
{
    if (index == 0 || index == 1)
        store (params[index], v);
}

void SynthVoice::setADSR (juce::StringRef key, float v) noexcept
{
    if (key == juce::StringRef ("attack"))        store (rawAttack, v);
    else if (key == juce::StringRef ("decay"))    store (rawDecay, v);
    else if (key == juce::StringRef ("sustain"))  store (rawSustain, v);
    else if (key == juce::StringRef ("release"))  store (rawRelease, v);
    else if (key == juce::StringRef ("time"))     store (envTime, v);
    else if (key == juce::StringRef ("scaling"))  store (envScaling, v);

    updateADSR();
}

void SynthVoice::setVelocity (juce::StringRef key, float v) noexcept
{
    if (key == juce::StringRef ("velMin"))        store (velMin, v);
    else if (key == juce::StringRef ("velMax"))   store (velMax, v);
    else if (key == juce::StringRef ("velGain"))  store (velGain, v);
}

void SynthVoice::setOscType (const juce::String& id)
{
    oscType = id;
    currentWave.store (waves.getWaveById (id), std::memory_order_relaxed);
}

void SynthVoice::setOscTypeIndex (int index) noexcept
{
    if (waves.waveforms.isEmpty())
        return;

    auto* wave = waves.waveforms.getUnchecked (juce::jlimit (0, waves.waveforms.size() - 1, index));
    oscType = wave->id; // shares the entry's text: no allocation
    currentWave.store (wave, std::memory_order_relaxed);
}

void SynthVoice::prepareToPlay (int rate)
{
    if (currentWave.load (std::memory_order_relaxed) == nullptr && ! waves.waveforms.isEmpty())
        currentWave.store (waves.waveforms.getUnchecked (0), std::memory_order_relaxed);

    glideRate = rate;

    for (auto* s : { &param1Smoother, &param2Smoother, &glideSmoother })
    {
        s->rate = rate;
        s->enabled = true;
    }
}

//==============================================================================
void SynthVoice::startADSR() noexcept
{
    releasing = false;
    syncEnvelope();
    adsr.noteOn();
}

void SynthVoice::stopADSR() noexcept
{
    syncEnvelope();
    adsr.noteOff();
    releasing = true;
}

void SynthVoice::resetADSR() noexcept
{
    releasing = false;
    syncEnvelope();
    adsr.reset();
    adsr.noteOn();
}

void SynthVoice::updateADSR() noexcept
{
    envelopeDirty.store (true, std::memory_order_release);
}

juce::ADSR::Parameters SynthVoice::getEnvelopeParameters() const noexcept
{
    float scaling = load (envScaling);

    if (isLfo.load (std::memory_order_relaxed))
        scaling *= 100.0f;

    const float time = load (envTime);

    const auto seconds = [time, scaling] (float raw)
    {
        return ValueCurve::curved (raw) * time * scaling;
    };

    return { seconds (load (rawAttack)), seconds (load (rawDecay)), load (rawSustain), seconds (load (rawRelease)) };
}

void SynthVoice::syncEnvelope() noexcept
{
    // The envelope counts its steps at the rate it was last given, so it
    // follows the voice's playback rate (a voice is prepared before its
    // first note, when the envelope still holds the framework's default).
    const double sampleRate = getSampleRate();
    const bool rateChanged = sampleRate > 0.0 && sampleRate != envelopeSampleRate;

    if (rateChanged)
    {
        adsr.setSampleRate (sampleRate);
        envelopeSampleRate = sampleRate;
    }

    // New settings make the framework's envelope recompute its release as if
    // it had started at the sustain level: a note released above a low sustain
    // would take far longer than its release time, and at sustain 0 it would
    // be cut at once. So a releasing note keeps the settings it was released
    // with, and the new ones wait for the next note.
    const bool holdSettings = releasing && adsr.isActive();

    if (! holdSettings && envelopeDirty.load (std::memory_order_relaxed) && envelopeDirty.exchange (false, std::memory_order_acquire))
        adsr.setParameters (getEnvelopeParameters());
    else if (rateChanged)
        adsr.setParameters (adsr.getParameters());
}

double SynthVoice::getMidiNoteInHertz (float note, double ref) noexcept
{
    return ref * std::pow (2.0, (double) (note - 69.0f) / 12.0);
}
