#pragma once

// The three load scenarios that the performance targets are stated for, shared
// by the benchmark (which times them) and the tests (which check that none of
// them allocates on the audio thread).
//
//   S1  one note, one layer per oscillator, Sine OG
//   S2  eight notes, unison 4 on both oscillators (64 voices), filter and overdrive on,
//       Sine OG as in the built-in patch
//   S3  sixteen notes, 16 voices x 16 unison layers on both oscillators (512 voices),
//       noise 0.5, Fourier Spec* (all five harmonics) and Sine Crush, envelope 1 on
//       "cutoff", LFO 1 on "synth1_pan", overdrive, filter and limiter on

#include "processor/PluginProcessor.h"

#include <vector>

namespace Scenarios
{
    struct Scenario
    {
        const char* name;
        std::vector<int> notes;
        int soundingVoices;
    };

    inline void set (kvAP& p, const char* id, float v)
    {
        p.apvts.getParameter (id)->setValueNotifyingHost (v);
    }

    /** Counts 1..16 as the dispatch reads them: roundf (v * 15) + 1. */
    inline float countValue (int count)   { return (float) (count - 1) / 15.0f; }

    inline std::vector<int> spreadNotes (int count)
    {
        std::vector<int> notes;

        for (int i = 0; i < count; ++i)
            notes.push_back (36 + 3 * i);

        return notes;
    }

    /** Prepares the processor for the scenario (1, 2 or 3) and returns what it plays. */
    inline Scenario configure (kvAP& p, int number, double sampleRate = 48000.0, int blockSize = 512)
    {
        p.setRateAndBufferSizeDetails (sampleRate, blockSize);
        p.prepareToPlay (sampleRate, blockSize);
        p.replaceState (juce::String::fromUTF8 (kvAP::getDefaultPatchXml()));

        Scenario s { "", {}, 0 };

        if (number == 1)
        {
            s = { "S1", { 69 }, 2 };
            set (p, "synth1_voices", countValue (1));
            set (p, "synth2_voices", countValue (1));
            set (p, "synth1_unison", countValue (1));
            set (p, "synth2_unison", countValue (1));
            p.setModMapEntry ("synth1_oscType", "sine_og");
            p.setModMapEntry ("synth2_oscType", "sine_og");
        }
        else if (number == 2)
        {
            // Everything not named stays as the built-in patch has it (Sine OG).
            s = { "S2", spreadNotes (8), 64 };
            set (p, "synth1_voices", countValue (8));
            set (p, "synth2_voices", countValue (8));
            set (p, "synth1_unison", countValue (4));
            set (p, "synth2_unison", countValue (4));
            set (p, "cutoff", 0.4f);
            set (p, "res", 0.4f);
            set (p, "fx_overdrive", 0.4f);
        }
        else
        {
            s = { "S3", spreadNotes (16), 512 };
            set (p, "synth1_voices", countValue (16));
            set (p, "synth2_voices", countValue (16));
            set (p, "synth1_unison", countValue (16));
            set (p, "synth2_unison", countValue (16));
            set (p, "synth1_detune", 0.3f);
            set (p, "synth2_detune", 0.3f);
            set (p, "synth1_noise", 0.5f);
            set (p, "synth2_noise", 0.5f);
            p.setModMapEntry ("synth1_oscType", "fourier_spec");
            p.setModMapEntry ("synth2_oscType", "sine_crush");
            set (p, "synth1_param1", 0.0f);   // step 2: harmonics 1, 3, 5, 7, 9
            set (p, "synth1_param2", 1.0f);
            set (p, "synth2_param1", 0.7f);
            set (p, "synth2_param2", 0.6f);
            p.setModMapEntry ("env1_mappedParam", "cutoff");
            p.setModMapEntry ("lfo1_mappedParam", "synth1_pan");
            set (p, "lfo1_rate", 0.8f);
            set (p, "cutoff", 0.5f);
            set (p, "res", 0.3f);
            set (p, "fx_overdrive", 0.3f);
            set (p, "limiter", 1.0f);
        }

        // As after a patch load: everything re-applied with the new unison counts.
        p.updateAllParams();
        p.updateOscTypes();
        return s;
    }

    inline void addNoteOns (const Scenario& s, juce::MidiBuffer& midi, juce::uint8 velocity = 100)
    {
        for (size_t i = 0; i < s.notes.size(); ++i)
            midi.addEvent (juce::MidiMessage::noteOn (1, s.notes[i], velocity), (int) i);
    }
}
