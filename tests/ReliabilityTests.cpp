#include "AudioAnalysis.h"
#include "ProcessorFixture.h"

#include <gtest/gtest.h>

namespace
{
    int activeVoices (const SynthGroup& section)
    {
        int count = 0;

        for (auto& synth : section.synths)
            for (int v = 0; v < synth->getNumVoices(); ++v)
                count += synth->getVoice (v)->isVoiceActive() ? 1 : 0;

        return count;
    }
}

// The standalone wrapper prepares the processor again on every audio device
// restart (a new rate or block size in the set-up dialog). Each prepare used to
// add another sound to every synthesiser, so the sounds piled up with every
// restart, and each note-on started (and at once cut) one voice per extra sound.
TEST (Reliability, PreparingAgainKeepsOneSoundAndOneVoicePerNote)
{
    ProcessorRig rig (48000.0, 64);
    rig.proc.prepareToPlay (44100.0, 128);
    rig.proc.prepareToPlay (rig.sampleRate, rig.blockSize);
    rig.set ("synth1_release", 0.9f); // a cut voice stays active for its release
    rig.set ("synth2_release", 0.9f);

    int synthsWithOtherThanOneSound = 0;
    for (auto* section : { &rig.proc.synth1, &rig.proc.synth2, &rig.proc.lfo1, &rig.proc.lfo2 })
        for (auto& synth : section->synths)
            synthsWithOtherThanOneSound += synth->getNumSounds() != 1 ? 1 : 0;

    EXPECT_EQ (synthsWithOtherThanOneSound, 0);

    const auto out = rig.renderHeld ({ 60 }, rig.blockSize);
    EXPECT_GT (AudioAnalysis::peak (out.getReadPointer (0), out.getNumSamples()), 0.0);
    EXPECT_EQ (activeVoices (rig.proc.synth1), 1);
    EXPECT_EQ (activeVoices (rig.proc.synth2), 1);
}
