// The shapes' fast block paths against a straightforward statement of each
// formula: one call per sample, the jitter computed afresh every time, library
// sines everywhere. Most shapes must agree bit for bit; the two whose block
// path takes its own float sines (Fourier Spec*) or feeds a fast sine into the
// library's tanh (Square Soft) must stay within 4 float ulps or 1e-6.
#include "synth/ShapeMath.h"
#include "synth/SynthGroup.h"
#include "synth/SynthVoice.h"
#include "synth/WaveManager.h"

#include <juce_dsp/juce_dsp.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

namespace
{
constexpr float pi = 3.1415927f;
constexpr float twoPi = 6.2831855f;
constexpr float halfPi = 1.5707964f;

float fastSinF (float x) { return juce::dsp::FastMathApproximations::sin (x); }
float h (int k, float x) { return fastSinF (fmodf ((float) k * x, twoPi) - pi); }

/** One straightforward sample of a shape, the jitter included. */
using Reference = std::function<float (double phase, float p1, float p2, float noise, juce::Random& rng)>;

double jitter (double phase, float noise, juce::Random& rng)
{
    const float r = rng.nextFloat();
    const float n = noise > 0.99f ? 0.99f : noise;
    const float j = 1.5f * r * -(float) (0.5 * std::log10 ((double) (1.0f - n)));
    return phase + (double) j;
}

template <typename F>
Reference ref (F f)
{
    return [f] (double phase, float p1, float p2, float noise, juce::Random& rng)
    {
        return f (jitter (phase, noise, rng), p1, p2);
    };
}

float gated (float s, float p1, float p2)
{
    const float v = s >= p1 ? s : 0.0f;
    return v > 1.0f - p2 ? 1.0f : 2.0f * v - 1.0f;
}

float oddSum (float x, int first, int end)
{
    float sum = 0.0f;
    for (int k = first; k < end; k += 2)
        sum += h (k, x) * (1.0f / (float) k);
    return sum;
}

float saw (float x)
{
    const float c[] = { 1.0f, 0.5f, 0.33333334f, 0.25f, 0.2f, 0.16666667f, 0.14285715f };
    float sum = 0.0f;
    for (int k = 1; k <= 7; ++k)
        sum += h (k, x) * c[k - 1];
    return sum * 0.5f;
}

const std::map<juce::String, Reference>& references()
{
    static const std::map<juce::String, Reference> table {
        { "sine_og", ref ([] (double ph, float, float) { return (float) std::sin (ph); }) },
        { "sine_crush", ref ([] (double ph, float p1, float p2)
            {
                const float q = (20.0f * p2 + 1.0f) * (p1 + 0.0725f);
                return (float) std::round (q * std::sin (ph)) / q;
            }) },
        { "sine_string", ref ([] (double ph, float p1, float)
            { return (float) ((std::sin (ph) + std::sin ((double) (10.0f * p1) * ph)) * 0.5); }) },
        { "sine_stringB", ref ([] (double ph, float p1, float)
            {
                const float k = 10.0f * p1 + 2.0f;
                return (float) (std::sin (ph) + std::sin ((double) k * ph) / k);
            }) },
        { "super_sine_theory", ref ([] (double ph, float p1, float)
            {
                const float k = (10.0f * p1) * (10.0f * p1);
                return (float) ((std::sin (ph) + std::sin ((double) k * ph)) * 0.5);
            }) },
        { "moon_sine", ref ([] (double ph, float p1, float p2) { return gated (std::abs ((float) std::sin (0.5 * ph)), p1, p2); }) },
        { "sun_sine", ref ([] (double ph, float p1, float p2) { return gated ((float) std::sin (ph), p1, p2); }) },
        { "triangle_og", ref ([] (double ph, float, float)
            {
                const double m = std::fmod (ph + (double) halfPi, (double) twoPi);
                return (float) (1.0 - std::abs (2.0 * m / (double) pi - 2.0));
            }) },
        { "triangle_if_mod", ref ([] (double ph, float, float)
            {
                const double m = std::fmod (ph, (double) twoPi);
                const float v = m < (double) pi ? (float) m - pi : (float) std::fmod (-ph, (double) twoPi) + pi;
                return 2.0f * (v + 0.5f * pi) / pi;
            }) },
        { "nice_tri", ref ([] (double ph, float p1, float)
            {
                const float s = (float) std::sin (ph);
                const double m = std::fmod (ph, (double) pi);
                const float t = roundf ((float) (std::sin ((double) (float) m * 0.5) * 15.0)) / 15.0f;
                return (2.0f * t - 1.0f) * (s > p1 ? 1.0f : -1.0f);
            }) },
        { "triangle_tan", ref ([] (double ph, float, float) { return tanf ((float) std::sin (ph)) / halfPi; }) },
        { "square_og", ref ([] (double ph, float, float)
            {
                const float x = (float) ph;
                float sum = 0.0f;
                sum += h (1, x);
                sum += h (3, x) * 0.33333334f;
                sum += h (5, x) * 0.2f;
                sum += h (7, x) * 0.14285715f;
                return sum;
            }) },
        { "square_harm", ref ([] (double ph, float p1, float p2)
            { return oddSum ((float) ph, 1, std::max (2, (int) (floorf (((2.0f * p2) * p1) * 8.0f) + 2.0f))); }) },
        { "square_drop", ref ([] (double ph, float p1, float p2)
            {
                const int lo = (int) floorf (16.0f * p1) + 1;
                const int n = (int) (floorf ((2.0f * p2) * 8.0f) + 2.0f);
                return n <= lo ? 0.0f : oddSum ((float) ph, lo, n);
            }) },
        { "square_if", ref ([] (double ph, float, float) { return (float) std::sin (ph) > 0.0f ? 1.0f : -1.0f; }) },
        { "game_dude_square", ref ([] (double ph, float p1, float p2)
            {
                const float w = std::min (0.999f, std::max (0.001f, 1.0f - p1));
                const float s = (float) std::sin (ph);
                const double m = std::fmod (ph, (double) twoPi);
                if (s > 2.0f * w - 1.0f)
                    return (float) (1.0 - std::round (std::sin ((double) (1.0f / w) * 0.25 * m) * 15.0) * p2 / 15.0);
                const float u = 1.0f - w;
                return (float) (std::round (std::sin ((double) (1.0f / u) * 0.25 * m - (double) w * 0.25 * (double) twoPi / u) * 15.0)
                                * p2 / 15.0 - 1.0);
            }) },
        { "square_the_circle", ref ([] (double ph, float p1, float)
            {
                const float s = (float) std::sin (ph);
                return s > p1 ? 1.0f : (s < -p1 ? -1.0f : s);
            }) },
        { "square_soft", ref ([] (double ph, float p1, float)
            { return (float) std::tanh ((double) powf (pi, 4.0f * p1 + 1.0f) * std::sin (ph)); }) },
        { "pulse_og", ref ([] (double ph, float p1, float) { return (float) std::sin (ph) > p1 ? 1.0f : -1.0f; }) },
        { "Pulse If", ref ([] (double ph, float p1, float) { return (float) std::sin (ph) > p1 ? 1.0f : -1.0f; }) },
        { "pulse_if_full", ref ([] (double ph, float p1, float) { return (float) std::sin (ph) > 2.0f * p1 - 1.0f ? 1.0f : -1.0f; }) },
        { "sawtooth_og", ref ([] (double ph, float, float) { return saw ((float) ph); }) },
        { "sawtooth_dull", ref ([] (double ph, float, float) { return saw ((float) ph); }) },
        { "sawtooth_mod", ref ([] (double ph, float, float) { return ((float) std::fmod (ph, (double) twoPi) - pi) / pi; }) },
        { "ocean", ref ([] (double ph, float p1, float)
            {
                float s = (float) std::sin (ph);
                if (s == 0.0f)
                    s = 0.00001f;
                const float a = std::abs (s);
                return tanf (powf (a, 10.0f * p1)) * (a / s) / 1.5707964f;
            }) },
        { "fourier_spec", ref ([] (double ph, float p1, float p2)
            {
                const int n = (int) floorf (10.0f * p2);
                if (n <= 1)
                    return 0.0f;
                const float step = 30.0f * p1 + 2.0f;
                const float x = (float) ph;
                float sum = 0.0f;
                int k = 1;
                do
                {
                    sum += (1.0f / (float) k) * sinf (x * (float) k);
                    k = (int) ((float) k + step);
                }
                while (k < n);
                return sinf (sum);
            }) },
        { "miasma", ref ([] (double ph, float p1, float)
            {
                const float s = (float) std::sin (ph);
                const double m = p1 > 0.0f ? std::fmod (ph / (double) pi, (double) p1) : 0.0;
                return (float) (2.0 * m - 1.0) * s;
            }) },
        { "nebula_venom", ref ([] (double ph, float p1, float p2)
            { return (float) ((std::sin ((double) (10.0f * p1) * ph) - std::cos ((double) (10.0f * p2) * ph)) * 0.5); }) },
    };

    return table;
}

/** Shapes whose block path is allowed to differ within the tolerance. */
bool mayDiffer (const juce::String& id)
{
    return id == "fourier_spec" || id == "square_soft";
}

bool withinTolerance (float got, float want)
{
    if (std::isnan (got) || std::isnan (want))
        return std::isnan (got) && std::isnan (want);

    const float ulp = std::nextafter (std::abs (want), std::numeric_limits<float>::infinity()) - std::abs (want);
    return std::abs ((double) got - (double) want) <= std::max (4.0 * ulp, 1.0e-6);
}

bool sameFloat (float a, float b)
{
    return std::memcmp (&a, &b, sizeof (float)) == 0 || (std::isnan (a) && std::isnan (b));
}

struct Case
{
    double startPhase, frequency;
    float p1, p2, noise;
    bool ramp;      // parameters that move from sample to sample
    int length;
};

/** Starting phases from the first cycle up to a note held for many hours. */
const double startPhases[] = { 0.0, 1.0e-3, 2.5, 100.5, 12345.678, 131072.25, 1.0e6 + 0.5, 3.0e7, 4.9e7, 6.0e7, 1.0e9 + 0.25 };
const float parameterValues[] = { 0.0f, 0.001f, 0.05f, 0.25f, 0.5f, 0.7f, 0.999f, 1.0f };
const float noiseValues[] = { 0.0f, 0.25f, 0.99f, 1.0f };

std::vector<Case> cases (juce::Random& random)
{
    std::vector<Case> list;

    for (auto start : startPhases)
        for (int i = 0; i < 24; ++i)
            list.push_back ({ start + random.nextDouble(),
                              8.0 * std::pow (2.0, random.nextDouble() * 11.0),     // 8 Hz .. 16 kHz
                              parameterValues[random.nextInt (8)], parameterValues[random.nextInt (8)],
                              noiseValues[random.nextInt (4)], random.nextInt (4) == 0,
                              1 + random.nextInt (300) });

    return list;
}

struct Comparison
{
    int samples = 0, identical = 0, outside = 0;
    juce::String firstOutside;
};

Comparison compareShape (Waveform& shape, const Reference& reference, const std::vector<Case>& list)
{
    Comparison result;
    juce::Random refRng;

    for (size_t c = 0; c < list.size(); ++c)
    {
        const auto& k = list[c];
        std::vector<double> phases ((size_t) k.length);
        std::vector<float> p1 ((size_t) k.length), p2 ((size_t) k.length), block ((size_t) k.length);
        auto angle = k.startPhase;
        const auto delta = k.frequency / 48000.0 * juce::MathConstants<double>::twoPi;

        for (int i = 0; i < k.length; ++i)
        {
            phases[(size_t) i] = angle;
            angle += delta;
            const float moved = k.ramp ? (float) i / (float) k.length * 0.3f : 0.0f;
            p1[(size_t) i] = std::min (1.0f, k.p1 + moved);
            p2[(size_t) i] = std::min (1.0f, k.p2 + moved * 0.5f);
        }

        const auto seed = (juce::int64) (c * 7919 + 17);
        shape.rng.setSeed (seed);
        refRng.setSeed (seed);
        shape.renderBlock (phases.data(), p1.data(), p2.data(), ! k.ramp, k.noise, block.data(), k.length);

        for (int i = 0; i < k.length; ++i)
        {
            const auto want = reference (phases[(size_t) i], p1[(size_t) i], p2[(size_t) i], k.noise, refRng);
            const auto got = block[(size_t) i];
            ++result.samples;
            result.identical += sameFloat (got, want) ? 1 : 0;

            if (! withinTolerance (got, want))
            {
                if (result.outside++ == 0)
                    result.firstOutside << "phase " << juce::String (phases[(size_t) i], 6) << " p1 " << p1[(size_t) i]
                                        << " p2 " << p2[(size_t) i] << " noise " << k.noise
                                        << ": got " << juce::String (got, 9) << " want " << juce::String (want, 9);
            }
        }

        // The generator moved on exactly as often as the reference drew.
        EXPECT_EQ (shape.rng.getSeed(), refRng.getSeed()) << shape.id << " case " << c;
    }

    return result;
}
} // namespace

//==============================================================================
TEST (ShapeBlocks, EveryShapeMatchesItsStraightforwardFormula)
{
    WaveManager waves;
    juce::Random random (20240611);
    const auto list = cases (random);

    ASSERT_EQ (references().size(), (size_t) waves.waveforms.size());

    for (auto* shape : waves.waveforms)
    {
        const auto found = references().find (shape->id);
        ASSERT_NE (found, references().end()) << shape->id;

        const auto result = compareShape (*shape, found->second, list);
        EXPECT_EQ (result.outside, 0) << shape->id << ": " << result.outside << " of " << result.samples
                                      << " samples outside the tolerance, first at " << result.firstOutside;

        if (! mayDiffer (shape->id))
        {
            EXPECT_EQ (result.identical, result.samples) << shape->id << " is not identical to its formula";
        }
    }
}

TEST (ShapeBlocks, OneSampleCallsMatchTheFormulaToo)
{
    WaveManager waves;
    juce::Random random (7);
    const auto list = cases (random);

    for (auto* shape : waves.waveforms)
    {
        const auto& reference = references().at (shape->id);
        juce::Random refRng;
        int differing = 0;

        for (size_t c = 0; c < list.size(); c += 5)
        {
            const auto& k = list[c];
            shape->rng.setSeed ((juce::int64) c);
            refRng.setSeed ((juce::int64) c);

            for (int i = 0; i < 20; ++i)
            {
                float params[2] = { k.p1, k.p2 };
                const auto phase = k.startPhase + i * 0.37;
                differing += sameFloat (shape->wave (phase, params, k.noise), reference (phase, k.p1, k.p2, k.noise, refRng)) ? 0 : 1;
            }
        }

        EXPECT_EQ (differing, 0) << shape->id;
    }
}

TEST (ShapeBlocks, FastSineStaysInsideItsStatedBound)
{
    // The exactness checks rest on this bound: any sample it failed would be
    // rounded or compared wrongly without notice.
    juce::Random random (99);
    double worstRatio = 0.0;

    for (int i = 0; i < 400000; ++i)
    {
        const auto magnitude = std::pow (10.0, random.nextDouble() * 13.0 - 4.0); // 1e-4 .. 1e9
        const auto x = std::min (ShapeMath::fastSinLimit, magnitude * random.nextDouble());
        const auto fast = ShapeMath::fastSin (x);
        const auto library = std::sin (x);
        const auto ratio = std::abs (fast - library) / ShapeMath::fastSinSlack (fast);
        worstRatio = std::max (worstRatio, ratio);
        ASSERT_LE (std::abs (fast - library), ShapeMath::fastSinSlack (fast)) << "x = " << x;
        ASSERT_LE (std::abs (ShapeMath::fastCos (x) - std::cos (x)), ShapeMath::fastSinSlack (ShapeMath::fastCos (x))) << "x = " << x;
    }

    // Multiples of pi/2 and their neighbours, where the reduction cancels most.
    for (int k = 1; k < 2000000; k = k * 3 + 1)
    {
        for (double x : { k * juce::MathConstants<double>::halfPi, std::nextafter (k * juce::MathConstants<double>::halfPi, 0.0) })
        {
            ASSERT_LE (std::abs (ShapeMath::fastSin (x) - std::sin (x)), ShapeMath::fastSinSlack (ShapeMath::fastSin (x))) << "x = " << x;
        }
    }

    EXPECT_LT (worstRatio, 0.5) << "the bound has less margin than intended";
}

TEST (ShapeBlocks, ExactRemainderMatchesFmod)
{
    juce::Random random (3);

    for (double d : { (double) twoPi, (double) pi, 0.001, 0.37f * 1.0, (double) 0.999f })
    {
        const double dd = (double) (float) d;

        for (int i = 0; i < 200000; ++i)
        {
            const auto y = std::pow (10.0, random.nextDouble() * 12.0 - 3.0) * random.nextDouble();

            if (y / dd >= 5.0e8)
                continue;

            const auto got = ShapeMath::exactFmod (y, dd, 1.0 / dd);
            ASSERT_EQ (got, std::fmod (y, dd)) << "y = " << y << " d = " << dd;
        }
    }
}

//==============================================================================
// The voice's block rendering against the per-sample arithmetic it stands for.
TEST (ShapeBlocks, VoiceBlockRenderingEqualsSampleBySampleRendering)
{
    // Shapes whose block path is bit-identical to wave(); moving parameters
    // take Square Harm* through its per-sample path.
    for (const char* id : { "sawtooth_og", "sine_crush", "square_harm", "nice_tri", "sine_og" })
    {
        SynthLayer layers[2];
        SynthVoice* voices[2];

        for (int v = 0; v < 2; ++v)
        {
            layers[v].setCurrentPlaybackSampleRate (48000.0);
            layers[v].addSound (new SynthSound());
            voices[v] = new SynthVoice();
            voices[v]->prepareToPlay (48000);
            layers[v].addVoice (voices[v]);
            voices[v]->setOscType (id);
            voices[v]->setNoise (0.4f);
            voices[v]->setParam (0, 0.3f);
            voices[v]->setParam (1, 0.8f);
            voices[v]->setADSR ("attack", 0.005f);
            voices[v]->setADSR ("sustain", 0.6f);
            voices[v]->setVolume (0.7f);
            voices[v]->waves.getWaveById (id)->rng.setSeed (1234);
            layers[v].noteOn (1, 60, 0.9f);
        }

        // Long enough for attack, decay, sustain, release and the silence after.
        constexpr int total = 9000;
        juce::AudioBuffer<float> blockOut (2, total), sampleOut (2, total);
        blockOut.clear();
        sampleOut.clear();

        const int lengths[] = { 1, 37, 512, 150, 512, 700, 333, 1, 2048, 512, 512, 2048, 1000, 634 }; // 9000 in all
        int at = 0;

        for (int b = 0; b < (int) std::size (lengths); ++b)
        {
            if (b == 2)
            {
                // Moving parameters and an off-centre pan for the later blocks.
                for (auto* v : voices)
                {
                    v->setParam (0, 0.9f);
                    v->setPan (0.2f);
                }
            }

            if (b == 9)
                for (auto& layer : layers)
                    layer.noteOff (1, 60, 0.0f, true);

            const auto n = std::min (lengths[b], total - at);

            voices[0]->renderNextBlock (blockOut, at, n);

            // Sample by sample, as the voice's render step reads.
            auto& v = *voices[1];

            if (v.angleDelta != 0.0)
            {
                const auto level = v.applyADSR (1.0f);
                v.calcDelta();

                if (level > 0.0f)
                {
                    for (int i = 0; i < n; ++i)
                    {
                        const auto s = v.getNextSample();

                        for (int ch = 2; --ch >= 0;)
                            sampleOut.getWritePointer (ch)[at + i] += s * v.getPanFactor (ch);
                    }
                }
                else
                {
                    v.angleDelta = 0.0;   // the envelope has ended: silent from here on
                }
            }

            at += n;
        }

        ASSERT_EQ (at, total);
        ASSERT_GT (blockOut.getMagnitude (0, total), 0.05f) << id << " rendered nothing";
        EXPECT_EQ (blockOut.getMagnitude (0, total - 1000, 1000), 0.0f) << id << " did not end after its release";
        EXPECT_FALSE (voices[0]->isVoiceActive());

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < at; ++i)
                ASSERT_TRUE (sameFloat (blockOut.getSample (ch, i), sampleOut.getSample (ch, i)))
                    << id << " channel " << ch << " sample " << i << ": " << blockOut.getSample (ch, i) << " vs " << sampleOut.getSample (ch, i);
    }
}

TEST (ShapeBlocks, BlockPhasesEqualTheRunningSum)
{
    juce::Random random (5);
    for (int trial = 0; trial < 20000; ++trial)
    {
        // Note starts, ordinary running phases, binade edges, huge phases, and
        // steps that are exact half-ulp ties.
        double angle;
        switch (trial % 5)
        {
            case 0:  angle = 0.0; break;
            case 1:  angle = random.nextDouble() * 1.0e4; break;
            case 2:  angle = std::ldexp (1.0, random.nextInt (40)) - random.nextDouble() * 0.5; break;
            case 3:  angle = 1.0e9 + random.nextDouble(); break;
            default: angle = std::ldexp (1.0, 10) + 1024.0 * random.nextDouble(); break;
        }

        double delta = juce::MathConstants<double>::twoPi * (8.0 + random.nextDouble() * 16000.0) / 48000.0;

        if (trial % 5 == 4)
        {
            // Exactly between two multiples of the ulp of [1024, 2048).
            const double ulp = std::ldexp (1.0, 10 - 52);
            angle = std::floor (angle / ulp) * ulp;
            delta = (std::floor (delta / ulp) + 0.5) * ulp;
        }

        const int n = 1 + random.nextInt (200);
        std::vector<double> fast ((size_t) n);
        auto fastAngle = angle, slowAngle = angle;
        SynthVoice::fillPhases (fastAngle, delta, fast.data(), n);

        for (int i = 0; i < n; ++i)
        {
            ASSERT_EQ (fast[(size_t) i], slowAngle) << "trial " << trial << " sample " << i;
            slowAngle += delta;
        }

        ASSERT_EQ (fastAngle, slowAngle) << "trial " << trial;
    }
}
