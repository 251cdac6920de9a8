// The oscilloscope's cost on the message thread (it runs at 12 Hz):
//
//  Scope/tick       one timer tick with a new frame on both channels: two
//                   pops, two windowed 512-point transforms and the dB map
//  Scope/paint/<W>  one paint of the whole component (W × W pixels; the
//                   editor's is 180) with a sine frame, into a software image
//
// Run with `make bench` (or build-bench/bench/korvane_bench --benchmark_filter=Scope).
#include "ui/OAScopeComponent.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace
{
    ScopeFifo::Frame sineFrame (double cycles, float amplitude)
    {
        ScopeFifo::Frame f {};
        for (int i = 0; i < ScopeFifo::frameSize; ++i)
            f[(size_t) i] = amplitude * (float) std::sin (juce::MathConstants<double>::twoPi * cycles * i / ScopeFifo::frameSize);
        return f;
    }

    void benchScopeTick (benchmark::State& state)
    {
        ScopeFifo left, right;
        OAScopeComponent<float> scope (left, right);
        scope.stopTimer();
        const auto a = sineFrame (3.0, 0.8f), b = sineFrame (7.0, 0.4f);

        for (auto _ : state)
        {
            left.push (a);
            right.push (b);
            scope.timerCallback();
            benchmark::DoNotOptimize (scope.spectrumL.data());
        }
    }

    void benchScopePaint (benchmark::State& state)
    {
        const auto side = (int) state.range (0);
        ScopeFifo left, right;
        OAScopeComponent<float> scope (left, right);
        scope.stopTimer();
        scope.intensity = 1.0f;
        scope.setSize (side, side);
        left.push (sineFrame (3.0, 0.8f));
        right.push (sineFrame (7.0, 0.4f));
        scope.timerCallback();

        juce::Image image (juce::Image::ARGB, side, side, true);

        for (auto _ : state)
        {
            juce::Graphics g (image);
            scope.paintEntireComponent (g, true);
            benchmark::ClobberMemory();
        }
    }
}

BENCHMARK (benchScopeTick)->Name ("Scope/tick")->Unit (benchmark::kMicrosecond);
BENCHMARK (benchScopePaint)->Name ("Scope/paint")->Arg (180)->Arg (360)->Unit (benchmark::kMicrosecond);
