#include "synth/WaveManager.h"

#include <juce_dsp/juce_dsp.h>

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <set>
#include <vector>

namespace
{
constexpr float piF = 3.1415927f;
constexpr float twoPiF = 6.2831855f;
constexpr float halfPiF = 1.5707964f;

// Phases are built from the same float constants the shapes use, as a voice's
// running angle would be, so that "phase pi/2" really lands on the peak.
constexpr double phasePi = (double) piF;
constexpr double phaseHalfPi = (double) halfPiF;

float call (Waveform& shape, double phase, float p1 = 0.0f, float p2 = 0.0f, float noise = 0.0f)
{
    float params[2] = { p1, p2 };
    return shape.wave (phase, params, noise);
}

// Independent statement of one harmonic of the additive shapes.
float harmonic (int k, float x)
{
    return juce::dsp::FastMathApproximations::sin (fmodf ((float) k * x, twoPiF) - piF);
}

float oddSeries (float x, int firstK, int lastK)
{
    float sum = 0.0f;

    for (int k = firstK; k <= lastK; k += 2)
        sum += harmonic (k, x) * (1.0f / (float) k);

    return sum;
}

std::vector<double> phaseGrid()
{
    std::vector<double> phases;

    for (int i = 0; i < 64; ++i)
        phases.push_back (i * (double) twoPiF / 64.0 + 0.013);

    for (double p : { 0.0, phaseHalfPi, phasePi, 3.0 * phaseHalfPi, 2.0 * phasePi, 1.0e-3, 10.0, 100.5,
                      12345.678, 131072.25, 1.0e6, 1.0e6 + 0.5, 1.0e9 + 0.25 })
        phases.push_back (p);

    return phases;
}

const float paramExtremes[] = { 0.0f, 0.001f, 0.5f, 0.999f, 1.0f };
const float noiseLevels[] = { 0.0f, 0.5f, 0.99f, 1.0f };

struct RegistryRow
{
    const char* name;
    const char* id;
    const char* section;
    bool p1;
    bool p2;
};

const RegistryRow expectedRegistry[] = {
    { "Sine OG",           "sine_og",           "sine",     false, false },
    { "Sine Crush",        "sine_crush",        "sine",     true,  true  },
    { "Sine String",       "sine_string",       "sine",     true,  false },
    { "Sine Strung",       "sine_stringB",      "sine",     true,  false },
    { "Super Sine Theory", "super_sine_theory", "sine",     true,  false },
    { "Moon Sine",         "moon_sine",         "sine",     true,  true  },
    { "Sun Sine",          "sun_sine",          "sine",     true,  true  },
    { "Triangle OG",       "triangle_og",       "triangle", false, false },
    { "Triangle If Mod",   "triangle_if_mod",   "triangle", false, false },
    { "NICE Tri",          "nice_tri",          "triangle", true,  false },
    { "Triangle Tan",      "triangle_tan",      "triangle", false, false },
    { "Square OG*",        "square_og",         "square",   false, false },
    { "Square Harm*",      "square_harm",       "square",   true,  true  },
    { "Square Drop*",      "square_drop",       "square",   true,  true  },
    { "Square If",         "square_if",         "square",   false, false },
    { "Game Dude Square",  "game_dude_square",  "square",   true,  true  },
    { "Square The Circle", "square_the_circle", "square",   true,  false },
    { "Square Soft",       "square_soft",       "square",   true,  false },
    { "Pulse OG",          "pulse_og",          "pulse",    true,  false },
    { "Pulse If",          "Pulse If",          "pulse",    true,  false },
    { "Pulse If Full",     "pulse_if_full",     "pulse",    true,  false },
    { "Sawtooth OG*",      "sawtooth_og",       "saw",      false, false },
    { "Sawtooth Dull*",    "sawtooth_dull",     "saw",      false, false },
    { "Sawtooth Mod",      "sawtooth_mod",      "saw",      false, false },
    { "Ocean",             "ocean",             "misc",     true,  false },
    { "Fourier Spec*",     "fourier_spec",      "misc",     true,  true  },
    { "Miasma",            "miasma",            "misc",     true,  false },
    { "NebulaVenom",       "nebula_venom",      "misc",     true,  true  },
};

struct PlainWaveform : Waveform
{
};
} // namespace

//==============================================================================
TEST (WaveRegistry, HoldsTheShapesInMenuOrder)
{
    WaveManager wm;

    // The class behind each slot, so that a row of metadata cannot end up on
    // the wrong formula.
    const Waveform* const expectedObjects[] = {
        &wm.sineOG, &wm.sineR, &wm.sineString, &wm.sineStringB, &wm.superSine, &wm.moonSine, &wm.sunSine,
        &wm.triangleOG, &wm.triangleIf, &wm.niceTriangle, &wm.triangleTan,
        &wm.squareOG, &wm.squareHarm, &wm.squareDrop, &wm.squareIf, &wm.gameDudeSquare, &wm.squareRound,
        &wm.squareSoft, &wm.pulseOG, &wm.pulseIf, &wm.pulseIfFull,
        &wm.sawtoothOG, &wm.sawtoothDull, &wm.sawtoothMod,
        &wm.ocean, &wm.fourierSpec, &wm.miasma, &wm.nebulaVenom
    };

    ASSERT_EQ (wm.waveforms.size(), 28);

    for (int i = 0; i < 28; ++i)
    {
        SCOPED_TRACE (i);
        auto* w = wm.waveforms[i];
        const auto& row = expectedRegistry[i];

        EXPECT_EQ (w, expectedObjects[i]);
        EXPECT_EQ (w->getName(), juce::String (row.name));
        EXPECT_EQ (w->getId(), juce::String (row.id));
        EXPECT_EQ (w->getSection(), juce::String (row.section));
        EXPECT_EQ (w->usesParam1, row.p1);
        EXPECT_EQ (w->usesParam2, row.p2);
        EXPECT_EQ (w->acceptsParam1(), row.p1);
        EXPECT_EQ (w->acceptsParam2(), row.p2);
        EXPECT_FALSE (w->isWavetable());
    }
}

TEST (WaveRegistry, LooksUpIdsExactlyAndFallsBackToSineOG)
{
    WaveManager wm;

    // Every id finds its own row, so no two ids collide.
    for (int i = 0; i < 28; ++i)
    {
        EXPECT_EQ (wm.getIndexById (expectedRegistry[i].id), i);
        EXPECT_EQ (wm.getWaveById (expectedRegistry[i].id), wm.waveforms[i]);
    }

    struct Case
    {
        const char* id;
        int index;
    };

    const Case cases[] = {
        { "sine_og", 0 },
        { "Pulse If", 19 },
        { "pulse_if", 0 },
        { "sine_stringB", 3 },
        { "sine_stringb", 0 },
        { "Sine_stringB", 0 },
        { "nebula_venom", 27 },
        { "nebula_venom ", 0 },
        { "Sine OG", 0 },
        { "", 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.id);
        EXPECT_EQ (wm.getIndexById (c.id), c.index);
        EXPECT_EQ (wm.getWaveById (c.id), wm.waveforms[c.index]);
    }
}

TEST (WaveRegistry, ParameterHintsFollowTheShape)
{
    WaveManager wm;

    auto* ocean = wm.getWaveById ("ocean");
    EXPECT_TRUE (ocean->acceptsParam1());
    EXPECT_FALSE (ocean->acceptsParam2());

    auto* squareIf = wm.getWaveById ("square_if");
    EXPECT_FALSE (squareIf->acceptsParam1());
    EXPECT_FALSE (squareIf->acceptsParam2());

    auto* fourier = wm.getWaveById ("fourier_spec");
    EXPECT_EQ (fourier->getName(), "Fourier Spec*");
    EXPECT_TRUE (fourier->acceptsParam1());
    EXPECT_TRUE (fourier->acceptsParam2());
}

TEST (WaveRegistry, BaseShapeIsAPlainSineWithoutJitter)
{
    PlainWaveform w;

    // The constants the shapes build their phases from are the floats nearest
    // to the multiples of pi, so that a phase of halfPi really lands on a peak.
    const auto pi = juce::MathConstants<double>::pi;
    EXPECT_EQ (w.pi, (float) pi);
    EXPECT_EQ (w.twoPi, (float) (2.0 * pi));
    EXPECT_EQ (w.halfPi, (float) (0.5 * pi));
    EXPECT_EQ (w.threeHalfPi, (float) (1.5 * pi));
    EXPECT_EQ (w.pi, 3.1415927f);
    EXPECT_EQ (w.twoPi, 6.2831855f);
    EXPECT_EQ (w.halfPi, 1.5707964f);
    EXPECT_EQ (w.threeHalfPi, 4.712389f);

    EXPECT_TRUE (w.getName().isEmpty());
    EXPECT_TRUE (w.getId().isEmpty());
    EXPECT_FALSE (w.acceptsParam1());
    EXPECT_FALSE (w.acceptsParam2());
    w.usesParam2 = true;
    EXPECT_TRUE (w.acceptsParam2());

    // The shape itself: the double-precision sine of the phase, rounded once,
    // whatever the parameters and the noise, and it draws no random number
    // (jitter belongs to the shapes that ask for it).
    const auto phases = phaseGrid();
    w.rng.setSeed (42);

    for (const float noise : { 0.0f, 0.3f, 0.99f, 1.0f })
        for (const double phase : phases)
            ASSERT_EQ (call (w, phase, 0.7f, 0.2f, noise), (float) std::sin (phase)) << phase << " noise " << noise;

    EXPECT_EQ (w.rng.getSeed(), 42);

    // The block version of a shape without one of its own gives the same samples.
    const int n = (int) phases.size();
    std::vector<float> p1 ((size_t) n, 0.7f), p2 ((size_t) n, 0.2f), out ((size_t) n, 9.0f);
    w.renderBlock (phases.data(), p1.data(), p2.data(), true, 0.5f, out.data(), n);

    for (int i = 0; i < n; ++i)
        ASSERT_EQ (out[(size_t) i], (float) std::sin (phases[(size_t) i])) << phases[(size_t) i];

    EXPECT_EQ (w.rng.getSeed(), 42);
}

//==============================================================================
TEST (WaveShapes, ValuesAtKnownPhasesWithoutNoise)
{
    WaveManager wm;

    struct Case
    {
        const char* id;
        double phase;
        float p1, p2;
        float expected;
        float tolerance;
    };

    const float oceanAtZero = tanf (1.0f) / halfPiF;

    const Case cases[] = {
        { "sine_og",           phaseHalfPi,     0.0f,   0.0f,  1.0f,       0.0f },
        { "square_if",         0.0,             0.0f,   0.0f,  -1.0f,      0.0f },
        { "square_if",         phaseHalfPi,     0.0f,   0.0f,  1.0f,       0.0f },
        { "triangle_og",       0.0,             0.0f,   0.0f,  0.0f,       0.0f },
        { "triangle_og",       phaseHalfPi,     0.0f,   0.0f,  1.0f,       0.0f },
        { "triangle_og",       phasePi,         0.0f,   0.0f,  0.0f,       1.0e-6f },
        { "triangle_og",       3 * phaseHalfPi, 0.0f,   0.0f,  -1.0f,      1.0e-6f },
        { "triangle_if_mod",   0.0,             0.0f,   0.0f,  -1.0f,      0.0f },
        { "triangle_if_mod",   1.0e-4,          0.0f,   0.0f,  -1.0f,      1.0e-3f },
        { "triangle_if_mod",   phaseHalfPi,     0.0f,   0.0f,  0.0f,       1.0e-6f },
        { "triangle_if_mod",   phasePi - 1e-4,  0.0f,   0.0f,  1.0f,       1.0e-3f },
        { "triangle_if_mod",   3 * phaseHalfPi, 0.0f,   0.0f,  0.0f,       1.0e-6f },
        { "sawtooth_mod",      phasePi,         0.0f,   0.0f,  0.0f,       0.0f },
        { "sawtooth_mod",      0.0,             0.0f,   0.0f,  -1.0f,      0.0f },
        { "triangle_tan",      phaseHalfPi,     0.0f,   0.0f,  tanf (1.0f) / halfPiF, 1.0e-6f },
        { "square_soft",       phaseHalfPi,     0.0f,   0.0f,  (float) std::tanh (piF), 1.0e-6f },
        { "sine_string",       phaseHalfPi,     0.0f,   0.0f,  0.5f,       1.0e-6f },
        { "sine_stringB",      phaseHalfPi,     0.0f,   0.0f,  1.0f,       1.0e-6f },  // sin (2x) / 2 is 0 there
        { "nebula_venom",      1.234,           0.0f,   0.0f,  -0.5f,      0.0f },
        { "moon_sine",         phasePi,         0.0f,   0.0f,  1.0f,       0.0f },
        { "moon_sine",         0.0,             0.0f,   0.0f,  -1.0f,      0.0f },
        { "moon_sine",         phasePi,         0.0f,   0.5f,  1.0f,       0.0f },
        { "sun_sine",          1.0,             0.9f,   0.0f,  -1.0f,      0.0f },   // below p1: gated to 0
        { "sun_sine",          1.0,             0.0f,   0.2f,  1.0f,       0.0f },   // 0.84 > 1 - 0.2
        { "sine_crush",        phaseHalfPi,     0.0f,   0.0f,  0.0f,       0.0f },   // q = 0.0725 rounds everything to 0
        { "sine_crush",        phaseHalfPi,     1.0f,   1.0f,  (float) std::round (22.5225f) / 22.5225f, 1.0e-6f },
        { "nice_tri",          phaseHalfPi,     0.0f,   0.0f,  (2.0f * roundf ((float) (std::sin (phaseHalfPi * 0.5) * 15.0)) / 15.0f - 1.0f), 0.0f },
        { "nice_tri",          phaseHalfPi,     1.0f,   0.0f,  -(2.0f * roundf ((float) (std::sin (phaseHalfPi * 0.5) * 15.0)) / 15.0f - 1.0f), 0.0f },
        { "pulse_if_full",     4.0,             0.0f,   0.0f,  1.0f,       0.0f },
        { "pulse_if_full",     phaseHalfPi,     1.0f,   0.0f,  -1.0f,      0.0f },
        { "pulse_og",          1.0,             0.8f,   0.0f,  1.0f,       0.0f },
        { "pulse_og",          1.0,             0.85f,  0.0f,  -1.0f,      0.0f },
        { "game_dude_square",  phaseHalfPi,     0.5f,   0.0f,  1.0f,       0.0f },
        { "game_dude_square",  3 * phaseHalfPi, 0.5f,   0.0f,  -1.0f,      0.0f },
        { "game_dude_square",  1.0,             0.0f,   0.0f,  -1.0f,      0.0f },   // p1 0: high only at the very crest
        { "game_dude_square",  phaseHalfPi,     0.0f,   0.0f,  1.0f,       0.0f },
        { "game_dude_square",  4.0,             1.0f,   0.0f,  1.0f,       0.0f },   // p1 1: low only at the very trough
        { "game_dude_square",  3 * phaseHalfPi, 1.0f,   0.0f,  -1.0f,      0.0f },
        { "ocean",             0.0,             0.0f,   0.0f,  oceanAtZero, 0.0f },
        { "ocean",             3 * phaseHalfPi, 0.0f,   0.0f,  -oceanAtZero, 1.0e-6f },
        { "ocean",             3 * phaseHalfPi, 0.5f,   0.0f,  -oceanAtZero, 1.0e-6f },  // |sin| = 1
        { "square_drop",       1.0,             1.0f,   0.0f,  0.0f,       0.0f },
        { "fourier_spec",      1.0,             0.0f,   0.19f, 0.0f,       0.0f },
        { "fourier_spec",      1.0,             1.0f,   0.1f,  0.0f,       0.0f },
    };

    EXPECT_NEAR (oceanAtZero, 0.9915f, 1.0e-4f);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.id) + " at " + juce::String (c.phase) + ", p1 " + juce::String (c.p1)
                      + ", p2 " + juce::String (c.p2));
        EXPECT_NEAR (call (*wm.getWaveById (c.id), c.phase, c.p1, c.p2), c.expected, c.tolerance);
    }
}

TEST (WaveShapes, AdditiveShapesApproximateTheirFourierSeries)
{
    WaveManager wm;

    // The harmonics approximate -sin (k x): negative in the first half cycle.
    const double x = phaseHalfPi;
    const double squareAtQuarter = -(1.0 - 1.0 / 3.0 + 1.0 / 5.0 - 1.0 / 7.0);

    EXPECT_NEAR (call (wm.squareOG, x), squareAtQuarter, 1.0e-3);
    EXPECT_NEAR (call (wm.sawtoothOG, x), 0.5 * squareAtQuarter, 1.0e-3);   // even terms vanish there
    double harmAtQuarter = 0.0;

    for (int k = 1; k <= 17; k += 2)
        harmAtQuarter -= std::sin (k * x) / k;

    EXPECT_NEAR (call (wm.squareHarm, x, 1.0f, 1.0f), harmAtQuarter, 2.0e-3);

    float squarePeak = 0.0f, sawPeak = 0.0f;

    for (int i = 0; i < 4096; ++i)
    {
        const double phase = i * (double) twoPiF / 4096.0;
        squarePeak = juce::jmax (squarePeak, std::abs (call (wm.squareOG, phase)));
        sawPeak = juce::jmax (sawPeak, std::abs (call (wm.sawtoothOG, phase)));
    }

    EXPECT_NEAR (squarePeak, 0.93f, 0.01f);
    EXPECT_NEAR (sawPeak, 0.83f, 0.01f);
}

TEST (WaveShapes, HarmonicShapesUseTheStatedTerms)
{
    WaveManager wm;

    for (const double phase : phaseGrid())
    {
        SCOPED_TRACE (phase);
        const float x = (float) phase;
        const float fundamental = harmonic (1, x);

        // Square Harm: one term when either parameter is 0, odd 1..17 at full.
        EXPECT_FLOAT_EQ (call (wm.squareHarm, phase, 0.0f, 1.0f), fundamental);
        EXPECT_FLOAT_EQ (call (wm.squareHarm, phase, 1.0f, 0.0f), fundamental);
        EXPECT_FLOAT_EQ (call (wm.squareHarm, phase, 1.0f, 1.0f), oddSeries (x, 1, 17));
        EXPECT_FLOAT_EQ (call (wm.squareHarm, phase, 0.5f, 0.5f), oddSeries (x, 1, 5));   // N = floor (4) + 2 = 6
        EXPECT_FLOAT_EQ (call (wm.squareHarm, phase, 1.0f, 0.3125f), oddSeries (x, 1, 5));   // N = 7: k stays below it

        // Square Drop: the low end drops harmonics, the high end adds them.
        EXPECT_FLOAT_EQ (call (wm.squareDrop, phase, 0.0f, 0.0f), fundamental);
        EXPECT_FLOAT_EQ (call (wm.squareDrop, phase, 0.0f, 1.0f), oddSeries (x, 1, 17));
        EXPECT_FLOAT_EQ (call (wm.squareDrop, phase, 0.25f, 1.0f), oddSeries (x, 5, 17));
        EXPECT_FLOAT_EQ (call (wm.squareDrop, phase, 1.0f, 1.0f), harmonic (17, x) / 17.0f);
        EXPECT_EQ (call (wm.squareDrop, phase, 1.0f, 0.5f), 0.0f);   // lo 17, N 10

        EXPECT_FLOAT_EQ (call (wm.squareOG, phase), oddSeries (x, 1, 7));

        // Fourier Spec: step 2 at p1 = 0 gives 1, 3, 5, 7, 9; the widest step only the first.
        float sum = 0.0f;

        for (int k = 1; k <= 9; k += 2)
            sum += (1.0f / (float) k) * sinf (x * (float) k);

        EXPECT_FLOAT_EQ (call (wm.fourierSpec, phase, 0.0f, 1.0f), sinf (sum));
        EXPECT_FLOAT_EQ (call (wm.fourierSpec, phase, 1.0f, 1.0f), sinf (sinf (x)));
        EXPECT_FLOAT_EQ (call (wm.fourierSpec, phase, 0.0f, 0.2f), sinf (sinf (x)));   // N = 2
        EXPECT_FLOAT_EQ (call (wm.fourierSpec, phase, 0.0f, 0.3f), sinf (sinf (x)));   // N = 3
        EXPECT_FLOAT_EQ (call (wm.fourierSpec, phase, 0.0f, 0.5f), sinf (sinf (x) + sinf (3.0f * x) * (1.0f / 3.0f)));   // N = 5
        EXPECT_EQ (call (wm.fourierSpec, phase, 0.0f, 0.19f), 0.0f);
    }
}

TEST (WaveShapes, SquareTheCircleRunsFromSquareToSine)
{
    WaveManager wm;

    for (const double phase : phaseGrid())
    {
        SCOPED_TRACE (phase);
        EXPECT_EQ (call (wm.squareRound, phase, 1.0f), call (wm.sineOG, phase));

        const float s = (float) std::sin (phase);
        const float square = call (wm.squareRound, phase, 0.0f);
        EXPECT_EQ (square, s > 0.0f ? 1.0f : (s < 0.0f ? -1.0f : 0.0f));

        // Half way: the sine passes unchanged inside +-0.5, full scale outside.
        const float half = call (wm.squareRound, phase, 0.5f);
        EXPECT_EQ (half, std::abs (s) <= 0.5f ? s : (s > 0.0f ? 1.0f : -1.0f));
    }

    EXPECT_EQ (call (wm.squareRound, 0.0, 0.0f), 0.0f);
    EXPECT_EQ (call (wm.squareIf, 0.0), -1.0f);
}

TEST (WaveShapes, TwinShapesAgree)
{
    WaveManager wm;

    const std::pair<Waveform*, Waveform*> twins[] = {
        { &wm.sawtoothOG, &wm.sawtoothDull },
        { &wm.pulseOG, &wm.pulseIf },
    };

    for (const auto& [a, b] : twins)
    {
        SCOPED_TRACE (a->getId());
        a->rng.setSeed (1234);
        b->rng.setSeed (1234);

        for (int i = 0; i < 500; ++i)
        {
            const double phase = i * 0.37;
            const float p1 = (float) (i % 11) / 10.0f;
            ASSERT_EQ (call (*a, phase, p1, 0.3f, 0.7f), call (*b, phase, p1, 0.3f, 0.7f)) << "call " << i;
        }
    }
}

TEST (WaveShapes, MiasmaAtParameterZeroIsTheInvertedSine)
{
    WaveManager wm;

    for (const double phase : phaseGrid())
    {
        SCOPED_TRACE (phase);
        const float sine = call (wm.sineOG, phase);
        const float atZero = call (wm.miasma, phase, 0.0f);

        ASSERT_TRUE (std::isfinite (atZero));
        EXPECT_EQ (atZero, -sine);

        // ...which is where the smallest setting already sits, so the knob's end has no jump.
        EXPECT_NEAR (call (wm.miasma, phase, 0.001f), atZero, 0.0021f);
    }

    // Away from zero the remainder shapes the sine: phase pi/2 is 0.5 cycles of pi,
    // so with p1 = 0.4 the remainder is 0.1 and the factor 2 * 0.1 - 1.
    EXPECT_NEAR (call (wm.miasma, phaseHalfPi, 0.4f), -0.8f, 1.0e-5f);
}

//==============================================================================
TEST (WaveJitter, NoNoiseMeansNoJitter)
{
    WaveManager a, b;

    for (int i = 0; i < 28; ++i)
    {
        SCOPED_TRACE (a.waveforms[i]->getId());
        a.waveforms[i]->rng.setSeed (1);
        b.waveforms[i]->rng.setSeed (987654321);

        for (const double phase : phaseGrid())
            ASSERT_EQ (call (*a.waveforms[i], phase, 0.3f, 0.6f), call (*b.waveforms[i], phase, 0.3f, 0.6f));
    }
}

TEST (WaveJitter, OffsetGrowsWithNoiseUpToOneAndAHalfRadians)
{
    WaveManager wm;

    struct Case
    {
        float noise;
        double maxOffset;   // 1.5 * -0.5 * log10 (1 - noise)
    };

    const Case cases[] = { { 0.9f, 0.75 }, { 0.99f, 1.5 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.noise);
        wm.sineOG.rng.setSeed (77);
        juce::Random reference (77);

        for (int i = 0; i < 200; ++i)
        {
            const double phase = i * 0.1;
            const double offset = (double) reference.nextFloat() * c.maxOffset;
            ASSERT_NEAR (call (wm.sineOG, phase, 0.0f, 0.0f, c.noise), std::sin (phase + offset), 2.0e-6) << "call " << i;
        }
    }
}

TEST (WaveJitter, NoiseAboveTheLimitActsAsTheLimit)
{
    WaveManager wm;

    for (auto* w : wm.waveforms)
    {
        SCOPED_TRACE (w->getId());

        for (const float excess : { 0.995f, 1.0f, 2.0f })
        {
            std::vector<float> atLimit, beyond;

            w->rng.setSeed (555);
            for (int i = 0; i < 64; ++i)
                atLimit.push_back (call (*w, i * 0.29, 0.4f, 0.7f, 0.99f));

            w->rng.setSeed (555);
            for (int i = 0; i < 64; ++i)
                beyond.push_back (call (*w, i * 0.29, 0.4f, 0.7f, excess));

            EXPECT_EQ (atLimit, beyond) << "noise " << excess;
        }
    }
}

TEST (WaveJitter, EveryCallDrawsExactlyOneNumber)
{
    WaveManager wm;
    constexpr int callsPerSetting = 7;

    for (auto* w : wm.waveforms)
    {
        SCOPED_TRACE (w->getId());
        juce::int64 seed = 1000;

        // Parameter extremes take the early-return paths (silent Fourier Spec,
        // empty Square Drop) as well as the full ones.
        for (const float p1 : paramExtremes)
            for (const float p2 : paramExtremes)
                for (const float noise : noiseLevels)
                {
                    w->rng.setSeed (++seed);
                    juce::Random reference (seed);

                    for (int i = 0; i < callsPerSetting; ++i)
                    {
                        call (*w, i * 1.7, p1, p2, noise);
                        reference.nextFloat();
                    }

                    ASSERT_EQ (w->rng.getSeed(), reference.getSeed())
                        << "p1 " << p1 << ", p2 " << p2 << ", noise " << noise;
                }
    }
}

TEST (WaveJitter, EachVoiceDrawsFromItsOwnGenerator)
{
    WaveManager voiceA, voiceB;
    std::set<juce::int64> seeds;

    for (int i = 0; i < 28; ++i)
    {
        seeds.insert (voiceA.waveforms[i]->rng.getSeed());
        seeds.insert (voiceB.waveforms[i]->rng.getSeed());
    }

    EXPECT_EQ (seeds.size(), 56u);

    int differing = 0;

    for (int i = 0; i < 32; ++i)
        if (call (voiceA.sineOG, i * 0.2, 0.0f, 0.0f, 0.5f) != call (voiceB.sineOG, i * 0.2, 0.0f, 0.0f, 0.5f))
            ++differing;

    EXPECT_GT (differing, 16);
}

//==============================================================================
TEST (WaveShapes, EveryShapeStaysFiniteAndBoundedAcrossItsRange)
{
    WaveManager wm;
    const auto phases = phaseGrid();

    for (auto* w : wm.waveforms)
    {
        SCOPED_TRACE (w->getId());

        // Sine Strung peaks at 1.5 and Game Dude Square's bump reaches 2;
        // the triangles stay within full scale, even on very long notes.
        const bool isTriangle = w->getSection() == "triangle" && w != &wm.triangleTan;
        const float bound = isTriangle ? 1.0f + 1.0e-5f : 2.0f;

        for (const float p1 : paramExtremes)
            for (const float p2 : paramExtremes)
                for (const float noise : noiseLevels)
                    for (const double phase : phases)
                    {
                        const float v = call (*w, phase, p1, p2, noise);

                        if (! std::isfinite (v) || std::abs (v) > bound)
                            FAIL() << "value " << v << " at phase " << phase << ", p1 " << p1 << ", p2 " << p2
                                   << ", noise " << noise;
                    }
    }
}
