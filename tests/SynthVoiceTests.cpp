#include "AllocationCounter.h"

#include "synth/SynthGroup.h"
#include "synth/SynthSound.h"
#include "synth/SynthVoice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace
{
constexpr double audioRate = 48000.0;
constexpr double lfoRate = 480.0;
constexpr double twoPi = juce::MathConstants<double>::twoPi;

/** A synthesiser with its sound and prepared voices, as a section layer has. */
struct Rig
{
    explicit Rig (int numVoices = 1, double rate = audioRate, bool lfo = false)
    {
        synth.setCurrentPlaybackSampleRate (rate);

        for (int i = 0; i < numVoices; ++i)
        {
            auto* v = new SynthVoice();
            v->setIsLfo (lfo);
            v->prepareToPlay ((int) rate);
            synth.addVoice (v);
        }

        synth.addSound (new SynthSound());
    }

    SynthVoice& voice (int i = 0)
    {
        auto* v = dynamic_cast<SynthVoice*> (synth.getVoice (i));

        if (v == nullptr)
            std::abort();

        return *v;
    }

    /** Envelope straight to sustain level 1, so the output shows the shape. */
    void flatEnvelope (float sustain = 1.0f)
    {
        for (int i = 0; i < synth.getNumVoices(); ++i)
        {
            voice (i).setADSR ("attack", 0.0f);
            voice (i).setADSR ("decay", 0.0f);
            voice (i).setADSR ("sustain", sustain);
        }
    }

    void renderInto (juce::AudioBuffer<float>& out, int blockSize = 480)
    {
        juce::MidiBuffer none;

        for (int pos = 0; pos < out.getNumSamples(); pos += blockSize)
            synth.renderNextBlock (out, none, pos, std::min (blockSize, out.getNumSamples() - pos));
    }

    /** Sends one MIDI message the way the audio thread does, with a short block. */
    void play (const juce::MidiMessage& message)
    {
        juce::MidiBuffer events;
        events.addEvent (message, 0);
        juce::AudioBuffer<float> out (2, 32);
        out.clear();
        synth.renderNextBlock (out, events, 0, out.getNumSamples());
    }

    juce::AudioBuffer<float> render (int numSamples, int numChannels = 2, int blockSize = 480)
    {
        juce::AudioBuffer<float> out (numChannels, numSamples);
        out.clear();
        renderInto (out, blockSize);
        return out;
    }

    SynthLayer synth;
};

/** Frequency from the rising zero crossings (linearly interpolated). */
double measureFrequency (const float* x, int n, double rate)
{
    double first = 0.0, last = 0.0;
    int crossings = 0;

    for (int i = 1; i < n; ++i)
    {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f)
        {
            const double t = (i - 1) + (double) x[i - 1] / ((double) x[i - 1] - (double) x[i]);

            if (crossings == 0)
                first = t;

            last = t;
            ++crossings;
        }
    }

    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

double deltaInHz (const SynthVoice& v, double rate)   { return v.angleDelta * rate / twoPi; }

double semitonesAbove440 (double semis)               { return 440.0 * std::pow (2.0, semis / 12.0); }

/** Envelope step the framework takes for a segment of the given length. */
float envelopeRate (float seconds, double rate)       { return (float) (1.0f / (seconds * rate)); }

/** A shape that records what the voice hands it. */
struct ProbeWave : public Waveform
{
    float wave (double phase, float* p, float noiseAmount) override
    {
        lastPhase = phase;
        lastParams[0] = p[0];
        lastParams[1] = p[1];
        lastNoise = noiseAmount;
        return 0.5f;
    }

    double lastPhase = -1.0;
    float lastParams[2] {};
    float lastNoise = -1.0f;
};
} // namespace

//==============================================================================
struct PitchCase
{
    const char* name;
    int note;
    float tuneSemi, tuneCents, detune;
    double expectedHz;
};

TEST (SynthVoicePitch, NoteAndTuningGiveTheFrequency)
{
    const PitchCase cases[] = {
        { "defaults", 69, 0.5f, 0.5f, 0.0f, 440.0 },
        { "coarse 1.0 is two octaves up", 69, 1.0f, 0.5f, 0.0f, 1760.0 },
        { "coarse 0.0 is two octaves down", 69, 0.0f, 0.5f, 0.0f, 110.0 },
        { "coarse 0.51 rounds to 0 semitones", 69, 0.51f, 0.5f, 0.0f, 440.0 },
        { "coarse 0.52 rounds to +1 semitone", 69, 0.52f, 0.5f, 0.0f, semitonesAbove440 (1.0) },
        { "fine 1.0 is one semitone up", 69, 0.5f, 1.0f, 0.0f, semitonesAbove440 (1.0) },
        { "fine 0.0 is one semitone down", 69, 0.5f, 0.0f, 0.0f, semitonesAbove440 (-1.0) },
        { "detune in semitones", 69, 0.5f, 0.5f, 12.0f, 880.0 },
        { "note 57", 57, 0.5f, 0.5f, 0.0f, 220.0 },
        { "everything at once", 60, 0.75f, 0.25f, 0.5f, semitonesAbove440 (60 - 69 + 12 - 0.5 + 0.5) },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Rig rig;
        rig.voice().setTuneSemi (c.tuneSemi);
        rig.voice().setTuneCents (c.tuneCents);
        rig.voice().setDetune (c.detune);
        rig.synth.noteOn (1, c.note, 1.0f);

        EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), c.expectedHz, c.expectedHz * 1e-6);

        const auto out = rig.render ((int) audioRate);
        EXPECT_NEAR (measureFrequency (out.getReadPointer (0), out.getNumSamples(), audioRate), c.expectedHz, 0.5);
    }
}

TEST (SynthVoicePitch, PitchWheelBendsByAboutTwoSemitones)
{
    struct WheelCase { int wheel; float bend; };
    const WheelCase cases[] = {
        { 0, -32768.0f / 16383.0f },     // about -2.0001
        { 8192, 0.0f },
        { 16383, 32764.0f / 16383.0f },  // about +1.9999
        { 12288, 16384.0f / 16383.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.wheel);
        Rig rig;
        rig.synth.noteOn (1, 69, 1.0f);
        rig.synth.handlePitchWheel (1, c.wheel);
        EXPECT_EQ (rig.voice().pitchBend, c.bend);

        auto out = rig.render ((int) audioRate);   // the new bend applies from the next block
        const auto expectedHz = semitonesAbove440 (c.bend);
        EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), expectedHz, 2e-4);
        EXPECT_NEAR (measureFrequency (out.getReadPointer (0) + 480, out.getNumSamples() - 480, audioRate), expectedHz, 0.5);
    }

    // The bottom of the wheel is measurably more than two semitones.
    Rig rig;
    rig.synth.noteOn (1, 69, 1.0f);
    rig.synth.handlePitchWheel (1, 0);
    rig.render (480);
    EXPECT_GT (semitonesAbove440 (-2.0) - deltaInHz (rig.voice(), audioRate), 2e-3);
}

TEST (SynthVoicePitch, NewNoteStartsAtTheCurrentWheelPosition)
{
    Rig rig;
    rig.play (juce::MidiMessage::noteOn (1, 69, 1.0f));
    rig.play (juce::MidiMessage::pitchWheel (1, 16383));
    EXPECT_EQ (rig.voice().pitchBend, 32764.0f / 16383.0f);
    rig.synth.noteOff (1, 69, 0.0f, false);

    // The wheel returns to centre while no voice plays: the idle voice hears nothing of it.
    rig.play (juce::MidiMessage::pitchWheel (1, 8192));
    rig.synth.noteOn (1, 69, 1.0f);
    EXPECT_EQ (rig.voice().pitchBend, 0.0f);
    EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), 440.0, 1e-3);

    rig.synth.noteOff (1, 69, 0.0f, false);
    rig.play (juce::MidiMessage::pitchWheel (1, 0));
    rig.play (juce::MidiMessage::noteOn (1, 69, 1.0f));
    EXPECT_EQ (rig.voice().pitchBend, -32768.0f / 16383.0f);
    EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), semitonesAbove440 (-32768.0 / 16383.0), 2e-4);
}

//==============================================================================
TEST (SynthVoiceLevel, VelocityIsLimitedThenOffset)
{
    struct VelocityCase { const char* name; float velocity, velMin, velMax, velGain, factor; };
    const VelocityCase cases[] = {
        { "defaults pass the velocity", 0.8f, 0.0f, 1.0f, 0.0f, 0.8f },
        { "below the minimum", 0.3f, 0.5f, 1.0f, 0.0f, 0.5f },
        { "above the maximum", 0.9f, 0.0f, 0.6f, 0.0f, 0.6f },
        { "minimum above maximum wins", 0.3f, 0.7f, 0.4f, 0.0f, 0.7f },
        { "minimum above maximum, loud note", 0.95f, 0.7f, 0.4f, 0.0f, 0.7f },
        { "gain is added after limiting", 0.5f, 0.0f, 0.4f, 0.25f, 0.65f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Rig rig;
        rig.flatEnvelope();
        rig.voice().setOscType ("square_if");
        rig.voice().setVelocity ("velMin", c.velMin);
        rig.voice().setVelocity ("velMax", c.velMax);
        rig.voice().setVelocity ("velGain", c.velGain);
        rig.voice().setVelocity ("velocity", 123.0f);   // not a key: ignored
        rig.synth.noteOn (1, 69, c.velocity);

        const auto expected = 0.5f * 0.5f * c.factor;   // half of volume 0.5, times the factor
        EXPECT_FLOAT_EQ (rig.voice().applyAmpMods (1.0f), expected);

        const auto out = rig.render (960);

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < out.getNumSamples(); ++i)
                ASSERT_FLOAT_EQ (std::abs (out.getSample (ch, i)), expected) << "channel " << ch << " sample " << i;
    }
}

TEST (SynthVoiceLevel, VolumeScalesAndTheVoiceAddsToTheBuffer)
{
    Rig rig;
    rig.flatEnvelope();
    rig.voice().setOscType ("square_if");
    rig.voice().setVolume (0.2f);
    rig.synth.noteOn (1, 69, 1.0f);

    juce::AudioBuffer<float> out (2, 480);
    out.clear();
    out.setSample (0, 10, 3.0f);
    rig.renderInto (out);

    EXPECT_FLOAT_EQ (std::abs (out.getSample (1, 10)), 0.1f);
    EXPECT_FLOAT_EQ (out.getSample (0, 10), 3.0f + out.getSample (1, 10));
}

TEST (SynthVoiceLevel, PanLawPerChannel)
{
    struct PanCase { float pan; std::vector<float> gains; };
    const PanCase cases[] = {
        { 0.0f, { 2.0f, 0.0f } },
        { 0.5f, { 1.0f, 1.0f } },
        { 1.0f, { 0.0f, 2.0f } },
        { 0.25f, { 1.5f, 0.5f } },
        { 0.5f, { 1.0f, 1.0f, 1.0f } },     // centre: every channel at full gain
        { 0.25f, { 1.5f, 0.5f, 0.0f } },    // off centre: only the first two channels
        { 0.0f, { 2.0f } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "pan " << c.pan << ", " << c.gains.size() << " channels");
        Rig rig;
        rig.flatEnvelope();
        rig.voice().setOscType ("square_if");
        rig.voice().setPan (c.pan);
        rig.synth.noteOn (1, 69, 1.0f);

        const auto out = rig.render (480, (int) c.gains.size());
        const float v = 0.25f;

        for (int ch = 0; ch < (int) c.gains.size(); ++ch)
        {
            EXPECT_EQ (rig.voice().getPanFactor (ch), c.gains[(size_t) ch]);

            for (int i = 0; i < out.getNumSamples(); ++i)
                ASSERT_FLOAT_EQ (std::abs (out.getSample (ch, i)), v * c.gains[(size_t) ch]) << "channel " << ch;
        }
    }
}

//==============================================================================
TEST (SynthVoiceStop, HardStopSilencesAtOnce)
{
    Rig rig;
    rig.synth.noteOn (1, 69, 1.0f);
    rig.render (960);

    rig.synth.noteOff (1, 69, 0.0f, false);
    EXPECT_FALSE (rig.voice().isVoiceActive());
    EXPECT_EQ (rig.voice().angleDelta, 0.0);
    EXPECT_EQ (rig.voice().getNextLfoVal(), 0.0f);

    const auto out = rig.render (960);
    EXPECT_EQ (out.getMagnitude (0, out.getNumSamples()), 0.0f);
}

TEST (SynthVoiceStop, TailOffWithoutReleaseEndsAtTheNextRender)
{
    Rig rig;
    rig.voice().setADSR ("release", 0.0f);
    rig.synth.noteOn (1, 69, 1.0f);
    EXPECT_GT (rig.render (960).getMagnitude (0, 960), 0.0f);

    rig.synth.noteOff (1, 69, 0.0f, true);
    EXPECT_TRUE (rig.voice().isVoiceActive());     // still holds its note until it renders

    const auto out = rig.render (480);
    EXPECT_EQ (out.getMagnitude (0, out.getNumSamples()), 0.0f);
    EXPECT_FALSE (rig.voice().isVoiceActive());
    EXPECT_EQ (rig.voice().angleDelta, 0.0);
}

TEST (SynthVoiceStop, TailOffReleasesOverTheReleaseTime)
{
    Rig rig;
    rig.flatEnvelope();
    rig.voice().setOscType ("square_if");
    rig.voice().setADSR ("time", 0.01f);
    rig.voice().setADSR ("release", 0.5f);  // 0.5 log10 2 * 0.01 * 40 = 0.0602 s
    rig.synth.noteOn (1, 69, 1.0f);
    rig.render (480);

    rig.synth.noteOff (1, 69, 0.0f, true);
    const auto out = rig.render (4800);

    int lastSounding = -1;
    for (int i = 0; i < out.getNumSamples(); ++i)
        if (out.getSample (0, i) != 0.0f)
            lastSounding = i;

    const double expected = 0.5 * std::log10 (2.0) * 0.01 * 40.0 * audioRate;   // about 2890 samples
    EXPECT_NEAR (lastSounding, expected, 12.0);
    EXPECT_FALSE (rig.voice().isVoiceActive());
}

//==============================================================================
TEST (SynthVoiceEnvelope, TimesFollowTheCurvedMapping)
{
    const auto curve = [] (double raw) { return -0.5 * std::log10 (1.0 - std::min (0.99, raw)); };

    struct TimeCase { float raw, time, scaling; bool lfo; double expectedSeconds; };
    const TimeCase cases[] = {
        { 0.0f, 0.5f, 40.0f, false, 0.0 },
        { 0.5f, 0.5f, 40.0f, false, curve (0.5) * 20.0 },   // 3.0103 s
        { 0.9f, 0.5f, 40.0f, false, 10.0 },
        { 0.99f, 0.5f, 40.0f, false, 20.0 },
        { 1.0f, 0.5f, 40.0f, false, 20.0 },
        { 0.5f, 0.25f, 40.0f, false, curve (0.5) * 10.0 },
        { 0.5f, 0.5f, 80.0f, false, curve (0.5) * 40.0 },
        { 0.0f, 0.5f, 40.0f, true, 0.0 },
        { 0.5f, 0.5f, 40.0f, true, curve (0.5) * 2000.0 },  // LFO mode scales by 100
        { 0.99f, 0.5f, 40.0f, true, 2000.0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "raw " << c.raw << " time " << c.time << " scaling " << c.scaling << " lfo " << c.lfo);
        SynthVoice v;
        v.setIsLfo (c.lfo);
        v.setADSR ("time", c.time);
        v.setADSR ("scaling", c.scaling);
        v.setADSR ("attack", c.raw);
        v.setADSR ("decay", c.raw);
        v.setADSR ("release", c.raw);
        v.setADSR ("sustain", 0.3f);
        v.setADSR ("hold", 0.9f);   // not a key: ignored

        const auto p = v.getEnvelopeParameters();
        EXPECT_NEAR (p.attack, c.expectedSeconds, c.expectedSeconds * 1e-6);
        EXPECT_NEAR (p.decay, c.expectedSeconds, c.expectedSeconds * 1e-6);
        EXPECT_NEAR (p.release, c.expectedSeconds, c.expectedSeconds * 1e-6);
        EXPECT_EQ (p.sustain, 0.3f);
    }
}

TEST (SynthVoiceEnvelope, AttackRunsAtThePlaybackRate)
{
    Rig rig;
    rig.voice().setOscType ("square_if");
    rig.voice().setADSR ("time", 0.01f);
    rig.voice().setADSR ("attack", 0.5f);     // 0.0602 s
    rig.voice().setADSR ("decay", 0.0f);
    rig.synth.noteOn (1, 69, 1.0f);

    const auto out = rig.render (6000);
    int firstFull = -1;

    for (int i = 0; i < out.getNumSamples() && firstFull < 0; ++i)
        if (std::abs (out.getSample (0, i)) >= 0.25f)
            firstFull = i;

    // About 2890 samples at 48 kHz (less one step per block); 2655 would mean 44.1 kHz.
    EXPECT_NEAR (firstFull, 0.5 * std::log10 (2.0) * 0.01 * 40.0 * audioRate, 15.0);
}

TEST (SynthVoiceEnvelope, ZeroAttackStartsAtFullOrSustainLevel)
{
    {
        SCOPED_TRACE ("decay above 0: full level, then decaying");
        Rig rig;
        rig.voice().setOscType ("square_if");
        rig.voice().setADSR ("attack", 0.0f);
        rig.voice().setADSR ("decay", 0.5f);
        rig.voice().setADSR ("sustain", 0.4f);
        rig.synth.noteOn (1, 69, 1.0f);

        const auto out = rig.render (480);
        EXPECT_NEAR (std::abs (out.getSample (0, 0)), 0.25f, 1e-5f);
        EXPECT_LT (std::abs (out.getSample (0, 479)), std::abs (out.getSample (0, 0)));
    }
    {
        SCOPED_TRACE ("decay 0 too: sustain level at once");
        Rig rig;
        rig.flatEnvelope (0.4f);
        rig.voice().setOscType ("square_if");
        rig.synth.noteOn (1, 69, 1.0f);

        const auto out = rig.render (480);
        for (int i = 0; i < out.getNumSamples(); ++i)
            ASSERT_FLOAT_EQ (std::abs (out.getSample (0, i)), 0.25f * 0.4f);
    }
}

//==============================================================================
TEST (SynthVoiceGlide, ZeroGlideJumps)
{
    Rig rig;
    rig.synth.noteOn (1, 69, 1.0f);
    EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), 440.0, 1e-3);
    rig.render (960);

    rig.synth.noteOn (1, 81, 1.0f);  // steals the only voice
    EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), 880.0, 1e-3);
    rig.render (960);
    EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), 880.0, 1e-3);
}

TEST (SynthVoiceGlide, LaterNotesSlideOncePerBlock)
{
    Rig rig;
    rig.voice().setGlide (0.5f);     // k = 1 / 25 of the remaining distance per step
    rig.synth.noteOn (1, 69, 1.0f);
    EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), 440.0, 1e-3);   // the first note starts at its pitch

    rig.render (480 * 4);
    EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), 440.0, 1e-3);

    rig.synth.noteOn (1, 81, 1.0f);
    const auto afterSteps = [] (int steps) { return 880.0 - 440.0 * std::pow (0.96, steps); };
    EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), afterSteps (1), 1e-3);

    rig.render (480);
    EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), afterSteps (2), 1e-3);

    rig.render (480 * 9);
    EXPECT_NEAR (deltaInHz (rig.voice(), audioRate), afterSteps (11), 1e-3);

    // The same audio in larger blocks glides less far: glide is counted in blocks.
    rig.synth.noteOn (1, 69, 1.0f);
    const double startHz = deltaInHz (rig.voice(), audioRate);
    rig.render (480 * 10, 2, 4800);
    const double oneBlock = deltaInHz (rig.voice(), audioRate);
    EXPECT_GT (oneBlock, 440.0 + 0.9 * (startHz - 440.0));
}

//==============================================================================
TEST (SynthVoiceLfo, FrequencyIgnoresTheNote)
{
    struct LfoCase { const char* name; float frequencyHz, tuneSemi, tuneCents; int note; double expectedHz; };
    const LfoCase cases[] = {
        { "defaults", 2.0f, 0.5f, 0.5f, 0, 2.0 },
        { "note does not matter", 2.0f, 0.5f, 0.5f, 100, 2.0 },
        { "coarse 1.0 doubles", 2.0f, 1.0f, 0.5f, 0, 4.0 },
        { "coarse 0.25 halves", 2.0f, 0.25f, 0.5f, 0, 1.0 },
        { "coarse 0.0 is a thousandth, never 0", 2.0f, 0.0f, 0.5f, 0, 0.002 },
        { "fine adds up to 1 Hz", 2.0f, 0.5f, 1.0f, 0, 3.0 },
        { "fine subtracts up to 1 Hz", 2.0f, 0.5f, 0.0f, 0, 1.0 },
        { "fine then coarse", 0.5f, 1.0f, 0.75f, 0, 2.0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Rig rig (1, lfoRate, true);
        rig.voice().setFrequencyHz (c.frequencyHz);
        rig.voice().setTuneSemi (c.tuneSemi);
        rig.voice().setTuneCents (c.tuneCents);
        rig.synth.noteOn (1, c.note, 127.0f);
        rig.voice().pitchWheelMoved (0);            // bend plays no part
        rig.voice().calcDelta();

        EXPECT_GT (rig.voice().angleDelta, 0.0);
        EXPECT_NEAR (deltaInHz (rig.voice(), lfoRate), c.expectedHz, c.expectedHz * 1e-6);
    }
}

TEST (SynthVoiceLfo, StepsTheWaveformAtTheControlRate)
{
    Rig rig (1, lfoRate, true);
    rig.flatEnvelope();
    rig.synth.noteOn (1, 0, 127.0f);

    std::vector<float> values (4800);
    for (auto& v : values)
        v = rig.voice().getNextLfoVal();

    EXPECT_NEAR (measureFrequency (values.data(), (int) values.size(), lfoRate), 2.0, 0.01);
    EXPECT_NEAR (*std::max_element (values.begin(), values.end()), 1.0f, 1e-3f);
    EXPECT_FLOAT_EQ (values[1], (float) std::sin (2.0 * twoPi / lfoRate));   // second step sits one step on
}

TEST (SynthVoiceLfo, SilentVoiceGivesZero)
{
    Rig rig (1, lfoRate, true);
    EXPECT_EQ (rig.voice().getNextLfoVal(), 0.0f);
    EXPECT_EQ (rig.voice().angle, 0.0);

    rig.voice().setFrequencyF (4.0f);
    EXPECT_EQ (rig.voice().frequencyHz.load(), 10.0f);
    EXPECT_EQ (rig.voice().getNextLfoVal(), 0.0f);
}

TEST (SynthVoiceLfo, EnvelopeTakesTwoStepsPerValue)
{
    Rig rig (1, lfoRate, true);
    auto& v = rig.voice();
    v.setOscType ("square_if");
    v.setADSR ("time", 0.001f);
    v.setADSR ("attack", 0.5f);      // 0.602 s at the control rate: about 289 steps
    rig.synth.noteOn (1, 0, 127.0f);

    const float rate = envelopeRate (v.getEnvelopeParameters().attack, lfoRate);
    ASSERT_GT (rate, 0.002f);
    ASSERT_LT (rate, 0.005f);

    for (int k = 1; k <= 20; ++k)
        ASSERT_NEAR (std::abs (v.getNextLfoVal()), 2.0f * (float) k * rate, 1e-5f) << "value " << k;
}

//==============================================================================
TEST (SynthVoiceSmoothing, ShapeParametersApproachTheirTargets)
{
    struct SmoothCase { int rate; double fractionPerSample; };
    const SmoothCase cases[] = { { 48000, 1.0 / 4800.0 }, { 480, 1.0 / 48.0 }, { 44101, 5.0 / 22050.0 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.rate);
        SynthVoice v;
        ProbeWave probe;
        v.prepareToPlay (c.rate);
        v.currentWave = &probe;

        v.buildCurrentSample();              // the first update jumps to the targets
        EXPECT_EQ (probe.lastParams[0], 0.5f);
        EXPECT_EQ (probe.lastParams[1], 0.25f);

        v.setParam (0, 1.0f);
        v.setParam (1, 0.0f);
        v.setParam (-1, 0.7f);               // the dispatch's "neither": ignored
        v.setParam (2, 0.7f);

        v.buildCurrentSample();
        EXPECT_FLOAT_EQ (probe.lastParams[0], (float) (0.5 + 0.5 * c.fractionPerSample));
        EXPECT_FLOAT_EQ (probe.lastParams[1], (float) (0.25 - 0.25 * c.fractionPerSample));

        const int steps = (int) (1.0 / c.fractionPerSample);   // one time constant
        for (int i = 1; i < steps; ++i)
            v.buildCurrentSample();

        const double remaining = std::pow (1.0 - c.fractionPerSample, steps);
        EXPECT_NEAR (probe.lastParams[0], 1.0 - 0.5 * remaining, 1e-5);
        EXPECT_NEAR (probe.lastParams[0], 1.0 - 0.5 / std::exp (1.0), 5e-3);
        EXPECT_NEAR (probe.lastParams[1], 0.25 * remaining, 1e-5);
    }
}

TEST (SynthVoiceSmoothing, UnpreparedVoicePassesTargetsAndNoiseThrough)
{
    SynthVoice v;
    ProbeWave probe;
    v.currentWave = &probe;
    v.angleDelta = 0.25;
    v.setParam (0, 0.9f);
    v.setNoise (0.3f);

    EXPECT_EQ (v.buildCurrentSample(), 0.5f);
    EXPECT_EQ (probe.lastParams[0], 0.9f);
    EXPECT_EQ (probe.lastParams[1], 0.25f);
    EXPECT_EQ (probe.lastNoise, 0.3f);
    EXPECT_EQ (probe.lastPhase, 0.0);

    v.setParam (0, 0.1f);
    v.buildCurrentSample();
    EXPECT_EQ (probe.lastParams[0], 0.1f);
    EXPECT_EQ (probe.lastPhase, 0.25);       // the phase grows by angleDelta per sample
    EXPECT_EQ (v.angle, 0.5);
}

TEST (SynthVoiceSmoothing, PrepareSelectsTheFirstShapeOnlyWhenNoneIsSet)
{
    SynthVoice fresh;
    EXPECT_EQ (fresh.currentWave.load(), nullptr);
    EXPECT_FALSE (fresh.param1Smoother.enabled);
    fresh.prepareToPlay (48000);
    EXPECT_EQ (fresh.currentWave.load(), fresh.waves.waveforms[0]);
    EXPECT_EQ (fresh.glideRate, 48000);
    EXPECT_TRUE (fresh.glideSmoother.enabled && fresh.param1Smoother.enabled && fresh.param2Smoother.enabled);
    EXPECT_EQ (fresh.param2Smoother.rate, 48000);

    SynthVoice chosen;
    chosen.setOscType ("square_if");
    chosen.prepareToPlay (48000);
    EXPECT_EQ (chosen.currentWave.load()->id, "square_if");
    EXPECT_EQ (chosen.oscType, "square_if");
}

//==============================================================================
namespace
{
void prepareGroup (SynthGroup& group, double rate, bool lfo)
{
    group.sampleRate = rate;

    for (int i = 0; i < group.numSynths; ++i)
    {
        group.getSynth (i).setCurrentPlaybackSampleRate (rate);
        group.getSynth (i).addSound (new SynthSound());
    }

    if (lfo)
    {
        group.setNumVoices (1);
        group.forEachVoice ([] (SynthVoice& v) { v.setIsLfo (true); });
    }
}

int countVoices (const SynthGroup& group)
{
    int n = 0;
    group.forEachVoice ([&n] (SynthVoice&) { ++n; });
    return n;
}
} // namespace

TEST (SynthGroup, StartsWithSixteenEmptyLayers)
{
    SynthGroup group;
    EXPECT_EQ (group.numSynths, 16);
    EXPECT_EQ (group.oscType, "sine_og");
    EXPECT_EQ (group.unison.load(), 1);

    for (int i = 0; i < 16; ++i)
    {
        ASSERT_NE (group.synths[(size_t) i], nullptr);
        EXPECT_EQ (group.getSynth (i).getNumVoices(), 0);
    }
}

TEST (SynthGroup, SetNumVoicesShrinksFromTheEndAndGrowsWithPreparedVoices)
{
    SynthGroup group;
    prepareGroup (group, 44100.7, false);

    group.setNumVoices (4);
    EXPECT_EQ (countVoices (group), 64);

    std::vector<juce::SynthesiserVoice*> firstVoices;
    for (int i = 0; i < 16; ++i)
        firstVoices.push_back (group.getSynth (i).getVoice (0));

    group.setNumVoices (1);
    for (int i = 0; i < 16; ++i)
    {
        ASSERT_EQ (group.getSynth (i).getNumVoices(), 1);
        EXPECT_EQ (group.getSynth (i).getVoice (0), firstVoices[(size_t) i]);
    }

    group.setNumVoices (1);
    EXPECT_EQ (countVoices (group), 16);

    group.setNumVoices (16);
    EXPECT_EQ (countVoices (group), 256);

    std::vector<Waveform*> shapes;
    group.forEachVoice ([&shapes] (SynthVoice& v)
    {
        EXPECT_EQ (v.currentWave.load(), v.waves.waveforms[0]);   // its own registry's entry 0
        EXPECT_EQ (v.glideRate, 44100);                            // the section rate, truncated
        EXPECT_TRUE (v.param1Smoother.enabled);
        EXPECT_EQ (v.getSampleRate(), 44100.7);
        shapes.push_back (v.currentWave.load());
    });

    std::sort (shapes.begin(), shapes.end());
    EXPECT_EQ (std::unique (shapes.begin(), shapes.end()), shapes.end());

    group.setNumVoices (-3);   // out of range: empties the layers, does not hang
    EXPECT_EQ (countVoices (group), 0);
}

TEST (SynthGroup, SetOscTypeWithUnknownIdPlaysTheFirstShape)
{
    SynthGroup group;
    prepareGroup (group, audioRate, false);
    group.setNumVoices (2);

    group.setOscType ("square_if");
    group.forEachVoice ([] (SynthVoice& v) { EXPECT_EQ (v.currentWave.load()->id, "square_if"); });

    group.setOscType ("no_such_wave");
    EXPECT_EQ (group.oscType, "no_such_wave");
    group.forEachVoice ([] (SynthVoice& v)
    {
        EXPECT_EQ (v.oscType, "no_such_wave");
        EXPECT_EQ (v.currentWave.load(), v.waves.waveforms[0]);
    });

    // It sounds as a plain sine.
    group.setADSR ("attack", 0.0f);
    group.setADSR ("decay", 0.0f);
    auto& synth = group.getSynth (3);
    synth.noteOn (1, 69, 1.0f);

    juce::AudioBuffer<float> out (2, (int) audioRate);
    out.clear();
    juce::MidiBuffer none;
    synth.renderNextBlock (out, none, 0, out.getNumSamples());

    EXPECT_NEAR (measureFrequency (out.getReadPointer (0), out.getNumSamples(), audioRate), 440.0, 0.5);
    const auto step = twoPi * 440.0 / audioRate;
    for (int i : { 1, 17, 1000, 30000 })
        EXPECT_NEAR (out.getSample (0, i), 0.25 * std::sin (step * i), 1e-5) << i;
}

TEST (SynthGroup, SettingsReachEveryVoiceOfEveryLayer)
{
    SynthGroup group;
    prepareGroup (group, audioRate, false);
    group.setNumVoices (3);

    group.setADSR ("sustain", 0.3f);
    group.setADSR ("time", 0.25f);
    group.setVelocity ("velMax", 0.6f);
    group.setVelocity ("velGain", 0.1f);

    int visited = 0;
    group.forEachVoice ([&visited] (SynthVoice& v)
    {
        ++visited;
        EXPECT_EQ (v.rawSustain.load(), 0.3f);
        EXPECT_EQ (v.envTime.load(), 0.25f);
        EXPECT_EQ (v.velMax.load(), 0.6f);
        EXPECT_EQ (v.velGain.load(), 0.1f);
    });
    EXPECT_EQ (visited, 48);

    int layerVoices = 0;
    group.forEachVoiceOfLayer (15, [&layerVoices] (SynthVoice&) { ++layerVoices; });
    EXPECT_EQ (layerVoices, 3);

    visited = 0;
    EXPECT_TRUE (group.tryForEachVoice ([&visited] (SynthVoice&) { ++visited; }));
    EXPECT_EQ (visited, 48);
}

TEST (SynthGroup, StartLfoRestartsEveryVoiceFromTheTop)
{
    struct StartCase { const char* name; float attack, decay, sustain; };
    const StartCase cases[] = {
        { "attack: from level 0", 0.5f, 0.5f, 0.5f },
        { "no attack: from level 1, decaying", 0.0f, 0.5f, 0.5f },
        { "no attack, no decay: at the sustain level", 0.0f, 0.0f, 0.6f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        SynthGroup group;
        prepareGroup (group, lfoRate, true);
        group.setADSR ("time", 0.001f);
        group.setADSR ("attack", c.attack);
        group.setADSR ("decay", c.decay);
        group.setADSR ("sustain", c.sustain);

        // Run every LFO some way into its cycle and envelope first.
        group.startLfo();
        group.forEachVoice ([] (SynthVoice& v) { for (int i = 0; i < 40; ++i) v.getNextLfoVal(); });
        group.forEachVoice ([] (SynthVoice& v) { EXPECT_GT (v.angle, 0.0); });

        group.startLfo();

        int visited = 0;
        group.forEachVoice ([&] (SynthVoice& v)
        {
            ++visited;
            EXPECT_EQ (v.getCurrentlyPlayingNote(), 0);
            EXPECT_TRUE (v.isVoiceActive());
            EXPECT_EQ (v.angle, 0.0);
            EXPECT_GT (v.angleDelta, 0.0);
            EXPECT_EQ (v.velocity, 127.0f);

            const auto p = v.getEnvelopeParameters();
            const float first = v.applyADSR (1.0f);

            if (c.attack > 0.0f)
                EXPECT_FLOAT_EQ (first, envelopeRate (p.attack, lfoRate));
            else if (c.decay > 0.0f)
                EXPECT_FLOAT_EQ (first, 1.0f - envelopeRate (p.decay, lfoRate) * (1.0f - c.sustain));
            else
                EXPECT_EQ (first, c.sustain);
        });
        EXPECT_EQ (visited, 16);
    }
}

TEST (SynthGroup, LayersStealTheVoiceTheFrameworkWould)
{
    struct Event { bool on; int note; };
    struct StealCase { const char* name; int numVoices; std::vector<Event> events; };
    const StealCase cases[] = {
        { "same note again", 3, { { true, 60 }, { true, 64 }, { true, 67 }, { true, 64 } } },
        { "protects lowest and highest", 4, { { true, 62 }, { true, 60 }, { true, 67 }, { true, 64 }, { true, 70 } } },
        { "prefers a released voice", 4, { { true, 62 }, { true, 60 }, { true, 67 }, { true, 64 }, { false, 64 }, { true, 70 } } },
        { "released low note is not protected", 3, { { true, 60 }, { true, 64 }, { true, 67 }, { false, 60 }, { true, 70 } } },
        { "two held notes: the top one goes", 2, { { true, 60 }, { true, 67 }, { true, 70 } } },
        { "one voice", 1, { { true, 60 }, { true, 70 } } },
        { "a run of notes", 3, { { true, 60 }, { true, 61 }, { true, 62 }, { true, 63 }, { false, 61 }, { true, 64 }, { true, 65 }, { true, 59 } } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        juce::Synthesiser reference;
        SynthLayer layer;

        for (auto* synth : { static_cast<juce::Synthesiser*> (&reference), static_cast<juce::Synthesiser*> (&layer) })
        {
            synth->setCurrentPlaybackSampleRate (audioRate);

            for (int i = 0; i < c.numVoices; ++i)
            {
                auto* v = new SynthVoice();
                v->prepareToPlay ((int) audioRate);
                synth->addVoice (v);
            }

            synth->addSound (new SynthSound());

            for (const auto& e : c.events)
            {
                if (e.on)
                    synth->noteOn (1, e.note, 1.0f);
                else
                    synth->noteOff (1, e.note, 1.0f, true);
            }
        }

        for (int i = 0; i < c.numVoices; ++i)
        {
            EXPECT_EQ (layer.getVoice (i)->getCurrentlyPlayingNote(), reference.getVoice (i)->getCurrentlyPlayingNote()) << "voice " << i;
            EXPECT_EQ (layer.getVoice (i)->isKeyDown(), reference.getVoice (i)->isKeyDown()) << "voice " << i;
        }
    }
}

//==============================================================================
TEST (SynthRealtime, AllocationCounterSeesAllocations)
{
    if (! AllocationScope::isAvailable())
        GTEST_SKIP() << "allocation counting is not available in sanitizer builds";

    static void* volatile sink = nullptr;   // keeps the optimiser from eliding the pairs

    AllocationScope scope;
    auto p = std::make_unique<int> (3);
    sink = p.get();
    juce::HeapBlock<float> block (64);
    sink = block.get();
    EXPECT_EQ (scope.allocations(), 2u);

    AllocationScope inner;
    p.reset();
    block.free();
    EXPECT_EQ (inner.deallocations(), 2u);
    EXPECT_EQ (inner.allocations(), 0u);
    EXPECT_EQ (scope.deallocations(), 2u);
    EXPECT_NE (sink, nullptr);
}

TEST (SynthRealtime, RenderingAndSettersAllocateNothing)
{
    if (! AllocationScope::isAvailable())
        GTEST_SKIP() << "allocation counting is not available in sanitizer builds";

    Rig rig (16);
    SynthGroup group;
    prepareGroup (group, audioRate, false);
    group.setNumVoices (4);
    Rig lfo (1, lfoRate, true);
    SynthGroup lfoGroup;
    prepareGroup (lfoGroup, lfoRate, true);
    lfoGroup.startLfo();

    for (int i = 0; i < 16; ++i)
    {
        rig.voice (i).setGlide (0.3f);
        rig.voice (i).setNoise (0.2f);
    }

    for (int note = 48; note < 64; ++note)
        rig.synth.noteOn (1, note, 0.8f);

    lfo.synth.noteOn (1, 0, 127.0f);

    juce::MidiBuffer events;
    events.ensureSize (1024);
    events.addEvent (juce::MidiMessage::noteOff (1, 50), 10);
    events.addEvent (juce::MidiMessage::noteOn (1, 70, 0.5f), 100);
    events.addEvent (juce::MidiMessage::pitchWheel (1, 12000), 200);
    events.addEvent (juce::MidiMessage::noteOn (1, 71, 0.5f), 300);   // steals a voice

    juce::AudioBuffer<float> out (2, 512);
    const juce::MidiBuffer none;
    const juce::String attackKey ("attack");

    // Shape changes come from the message thread only (they replace a string);
    // on the audio thread they show as a new shape pointer.
    rig.voice (3).setOscType ("square_if");

    AllocationScope scope;

    for (int block = 0; block < 100; ++block)
    {
        out.clear();
        rig.synth.renderNextBlock (out, block == 50 ? events : none, 0, out.getNumSamples());
        lfo.voice().getNextLfoVal();

        auto& v = rig.voice (block % 16);
        v.setTuneSemi (0.6f);
        v.setTuneCents (0.4f);
        v.setDetune (0.1f);
        v.setVolume (0.4f);
        v.setPan (0.3f);
        v.setParam (block % 2, 0.7f);
        v.setADSR ("attack", 0.2f);
        v.setADSR (attackKey, 0.1f);
        v.setADSR ("scaling", 20.0f);
        v.setVelocity ("velMin", 0.1f);
        lfo.voice().setADSR ("scaling", 40.0f / 512.0f);
        lfo.voice().setFrequencyHz (0.5f);
    }

    group.setADSR ("release", 0.3f);
    group.setVelocity ("velGain", 0.2f);
    group.forEachVoice ([] (SynthVoice& v) { v.setVolume (0.1f); });
    group.tryForEachVoice ([] (SynthVoice& v) { v.setTuneSemi (0.3f); });

    for (int i = 0; i < 10; ++i)
    {
        lfoGroup.getSynth (0).getVoice (0);
        lfoGroup.forEachVoice ([] (SynthVoice& v) { v.getNextLfoVal(); v.setADSR ("scaling", 0.1f); });
        lfoGroup.forEachVoice ([] (SynthVoice& v) { v.resetPhase(); });
        lfoGroup.startLfo();                               // steals every layer's voice
    }

    EXPECT_EQ (scope.allocations(), 0u);
    EXPECT_EQ (scope.deallocations(), 0u);
    EXPECT_GT (out.getMagnitude (0, 0, out.getNumSamples()), 0.0f);
}
