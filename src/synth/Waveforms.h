#pragma once

#include "Waveform.h"

/** The built-in oscillator shapes. Each one overrides wave() and its block
    version renderBlock(), which gives the same samples faster; names, ids,
    sections and parameter flags are given to them by WaveManager. */
namespace Waveforms
{

#define KORVANE_DECLARE_WAVEFORM(ClassName)                            \
    class ClassName final : public Waveform                            \
    {                                                                  \
    public:                                                            \
        float wave (double phase, float* params, float noise) override; \
        void renderBlock (const double* phases, const float* p1, const float* p2, \
                          bool paramsConstant, float noise, float* out, int n) override; \
    };

KORVANE_DECLARE_WAVEFORM (SineOG)
KORVANE_DECLARE_WAVEFORM (SineR)
KORVANE_DECLARE_WAVEFORM (SineString)
KORVANE_DECLARE_WAVEFORM (SineStringB)
KORVANE_DECLARE_WAVEFORM (SuperSine)
KORVANE_DECLARE_WAVEFORM (MoonSine)
KORVANE_DECLARE_WAVEFORM (SunSine)
KORVANE_DECLARE_WAVEFORM (TriangleOG)
KORVANE_DECLARE_WAVEFORM (TriangleIf)
KORVANE_DECLARE_WAVEFORM (NiceTriangle)
KORVANE_DECLARE_WAVEFORM (TriangleTan)
KORVANE_DECLARE_WAVEFORM (SquareOG)
KORVANE_DECLARE_WAVEFORM (SquareHarm)
KORVANE_DECLARE_WAVEFORM (SquareDrop)
KORVANE_DECLARE_WAVEFORM (SquareIf)
KORVANE_DECLARE_WAVEFORM (GameDudeSquare)
KORVANE_DECLARE_WAVEFORM (SquareRound)
KORVANE_DECLARE_WAVEFORM (SquareSoft)
KORVANE_DECLARE_WAVEFORM (PulseOG)
KORVANE_DECLARE_WAVEFORM (PulseIf)
KORVANE_DECLARE_WAVEFORM (PulseIfFull)
KORVANE_DECLARE_WAVEFORM (SawtoothOG)
KORVANE_DECLARE_WAVEFORM (SawtoothDull)
KORVANE_DECLARE_WAVEFORM (SawtoothMod)
KORVANE_DECLARE_WAVEFORM (Ocean)
KORVANE_DECLARE_WAVEFORM (FourierSpec)
KORVANE_DECLARE_WAVEFORM (Miasma)
KORVANE_DECLARE_WAVEFORM (NebulaVenom)

#undef KORVANE_DECLARE_WAVEFORM

} // namespace Waveforms
