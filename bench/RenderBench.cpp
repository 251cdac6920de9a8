// Rendering cost of the whole processor, block by block, as the audio thread
// sees it. Real-time factor = block duration / time per block.
#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    void setParam (kvAP& p, const char* id, float v) { p.apvts.getParameter (id)->setValueNotifyingHost (v); }

    void renderBlocks (benchmark::State& state, const char* wave, float unison, int notes)
    {
        juce::ScopedJuceInitialiser_GUI juce;
        kvAP proc;
        proc.setRateAndBufferSizeDetails (sampleRate, blockSize);
        proc.prepareToPlay (sampleRate, blockSize);
        proc.modMap["synth1_oscType"] = wave;
        proc.modMap["synth2_oscType"] = wave;
        proc.updateOscTypes();
        setParam (proc, "synth1_unison", unison);
        setParam (proc, "synth2_unison", unison);
        setParam (proc, "fx_overdrive", 0.3f);
        setParam (proc, "limiter", 1.0f);

        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;

        for (int i = 0; i < notes; ++i)
            midi.addEvent (juce::MidiMessage::noteOn (1, 48 + i * 4, (juce::uint8) 100), i);

        proc.processBlock (buffer, midi);
        midi.clear();

        for (auto _ : state)
        {
            proc.processBlock (buffer, midi);
            benchmark::DoNotOptimize (buffer.getReadPointer (0)[0]);
        }

        const auto seconds = blockSize / sampleRate;
        state.counters["realtime_x"] = benchmark::Counter (seconds * (double) state.iterations(), benchmark::Counter::kIsRate);
    }
}

static void BM_OneNoteSine (benchmark::State& s)          { renderBlocks (s, "sine_og", 0.0f, 1); }
static void BM_EightNotesSine (benchmark::State& s)       { renderBlocks (s, "sine_og", 0.0f, 8); }
static void BM_EightNotesSawUnison16 (benchmark::State& s){ renderBlocks (s, "sawtooth_og", 1.0f, 8); }
static void BM_EightNotesFourierUnison4 (benchmark::State& s) { renderBlocks (s, "fourier_spec", 0.2f, 8); }

BENCHMARK (BM_OneNoteSine)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_EightNotesSine)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_EightNotesSawUnison16)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_EightNotesFourierUnison4)->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
