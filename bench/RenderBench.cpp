// Rendering cost, as the audio thread sees it.
//
//  Shape/<id>     one voice playing a held note with that shape (noise 0.5, the
//                 shape's heaviest parameters): per_voice_sample (seconds, "6.1n" = 6.1 ns)
//  Scenario/S1..3 the whole processor (voices, modulation, output stage) at
//                 48 kHz, block 512: realtime_x = audio time / render time
//  OutputGuard    the output guard's look at one finished stereo block of
//                 512 finite samples (what every block pays): time per block
//  StateReport/<plug-in|standalone>/<MB>
//                 one state report into a log already that large; the
//                 standalone also keeps the crash handler's copy of the log
//
// Run with `make bench`; never part of the tests.
#include "Scenarios.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    struct ShapeSetting
    {
        const char* id;
        float p1, p2;
    };

    // The parameters at which each shape does the most work.
    const ShapeSetting shapeSettings[] = {
        { "sine_og", 0.5f, 0.25f },           { "sine_crush", 0.7f, 0.6f },
        { "sine_string", 0.5f, 0.25f },       { "sine_stringB", 0.5f, 0.25f },
        { "super_sine_theory", 0.5f, 0.25f }, { "moon_sine", 0.3f, 0.25f },
        { "sun_sine", 0.3f, 0.25f },          { "triangle_og", 0.5f, 0.25f },
        { "triangle_if_mod", 0.5f, 0.25f },   { "nice_tri", 0.3f, 0.25f },
        { "triangle_tan", 0.5f, 0.25f },      { "square_og", 0.5f, 0.25f },
        { "square_harm", 1.0f, 1.0f },        { "square_drop", 0.0f, 1.0f },
        { "square_if", 0.5f, 0.25f },         { "game_dude_square", 0.5f, 0.7f },
        { "square_the_circle", 0.5f, 0.25f }, { "square_soft", 0.5f, 0.25f },
        { "pulse_og", 0.5f, 0.25f },          { "Pulse If", 0.5f, 0.25f },
        { "pulse_if_full", 0.5f, 0.25f },     { "sawtooth_og", 0.5f, 0.25f },
        { "sawtooth_dull", 0.5f, 0.25f },     { "sawtooth_mod", 0.5f, 0.25f },
        { "ocean", 0.5f, 0.25f },             { "fourier_spec", 0.0f, 1.0f },
        { "miasma", 0.5f, 0.25f },            { "nebula_venom", 0.5f, 0.25f },
    };

    void benchShape (benchmark::State& state, ShapeSetting setting)
    {
        SynthLayer layer;
        layer.addSound (new SynthSound());
        auto* voice = new SynthVoice();
        layer.addVoice (voice);
        layer.setCurrentPlaybackSampleRate (sampleRate);
        voice->prepareToPlay ((int) sampleRate);
        voice->setOscType (setting.id);
        voice->setParam (0, setting.p1);
        voice->setParam (1, setting.p2);
        voice->setNoise (0.5f);
        voice->setVolume (0.5f);

        juce::AudioBuffer<float> buffer (2, blockSize);
        buffer.clear();
        int blocks = 0;

        for (auto _ : state)
        {
            // A fresh note every ten seconds or so, as a player would.
            if (blocks++ % 1000 == 0)
                layer.noteOn (1, 57, 0.8f);

            voice->renderNextBlock (buffer, 0, blockSize);
            benchmark::DoNotOptimize (buffer.getWritePointer (0));
            benchmark::ClobberMemory();
        }

        // Seconds per voice-sample, printed with an SI prefix ("6.1n" = 6.1 ns).
        state.counters["per_voice_sample"] = benchmark::Counter ((double) state.iterations() * blockSize,
                                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }

    void benchScenario (benchmark::State& state, int number)
    {
        kvAP proc;
        const auto scenario = Scenarios::configure (proc, number, sampleRate, blockSize);

        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        Scenarios::addNoteOns (scenario, midi);
        proc.processBlock (buffer, midi);
        midi.clear();

        for (auto _ : state)
        {
            proc.processBlock (buffer, midi);
            benchmark::DoNotOptimize (buffer.getWritePointer (0));
            benchmark::ClobberMemory();
        }

        const auto blockSeconds = blockSize / sampleRate;
        state.counters["realtime_x"] = benchmark::Counter (blockSeconds * (double) state.iterations(), benchmark::Counter::kIsRate);
        state.counters["voices"] = scenario.soundingVoices;
        state.counters["per_voice_sample"] = benchmark::Counter ((double) state.iterations() * blockSize * scenario.soundingVoices,
                                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }

    void benchStateReport (benchmark::State& state, bool standalone)
    {
        BugReporter reporter (true, true);

        if (standalone)
            reporter.installCrashHandler();

        const auto megabytes = (int) state.range (0);
        const auto filler = juce::String::repeatedString ("x", 1024 * 1024);
        for (int i = 0; i < megabytes; ++i)
            reporter.addEntry (filler);

        const auto document = juce::String::fromUTF8 (kvAP::getDefaultPatchXml());

        for (auto _ : state)
            reporter.addStateEntry ("Bench", document);

        state.counters["log_mb"] = (double) reporter.log.getNumBytesAsUTF8() / (1024.0 * 1024.0);
    }

    void benchOutputGuard (benchmark::State& state)
    {
        OutputGuard guard ({});
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::Random random (1);

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < blockSize; ++i)
                buffer.setSample (c, i, random.nextFloat() * 2.0f - 1.0f);

        for (auto _ : state)
        {
            benchmark::DoNotOptimize (guard.silenceIfNotFinite (buffer, 2));
            benchmark::ClobberMemory();
        }
    }
}

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;

    // With repetitions, "min" and "max" show the least disturbed run on a
    // shared machine (min of the times, max of realtime_x).
    const auto withBest = [] (benchmark::internal::Benchmark* b)
    {
        b->Unit (benchmark::kMicrosecond)
         ->ComputeStatistics ("min", [] (const std::vector<double>& v) { return *std::min_element (v.begin(), v.end()); })
         ->ComputeStatistics ("max", [] (const std::vector<double>& v) { return *std::max_element (v.begin(), v.end()); });
    };

    for (const auto& setting : shapeSettings)
        withBest (benchmark::RegisterBenchmark ((juce::String ("Shape/") + setting.id).toRawUTF8(), benchShape, setting));

    for (int number = 1; number <= 3; ++number)
        withBest (benchmark::RegisterBenchmark (("Scenario/S" + std::to_string (number)).c_str(), benchScenario, number));

    withBest (benchmark::RegisterBenchmark ("OutputGuard", benchOutputGuard));

    for (const auto standalone : { false, true })
        withBest (benchmark::RegisterBenchmark (standalone ? "StateReport/standalone" : "StateReport/plug-in", benchStateReport, standalone)
                      ->Arg (1)->Arg (10)->Iterations (200));

    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
