#pragma once

#include "Waveforms.h"

/** The fixed registry of oscillator shapes: one instance of each, in menu
    order, with display name, persistent id (as stored in patches) and section.

    Each voice owns a complete registry of its own, so every voice has its own
    shape objects and jitter generators. Entries point into this object, which
    is therefore neither copyable nor movable. */
class WaveManager
{
public:
    WaveManager();

    /** The first entry whose id matches exactly (case-sensitive); entry 0 when
        none does. Allocation-free, safe on the audio thread. */
    Waveform* getWaveById (const juce::String& wantedId);

    /** The index of the entry getWaveById() would return, or -1 when empty. */
    int getIndexById (const juce::String& wantedId) const;

    Waveforms::SineOG sineOG;
    Waveforms::SineR sineR;
    Waveforms::SineString sineString;
    Waveforms::SineStringB sineStringB;
    Waveforms::SuperSine superSine;
    Waveforms::MoonSine moonSine;
    Waveforms::SunSine sunSine;
    Waveforms::TriangleOG triangleOG;
    Waveforms::TriangleIf triangleIf;
    Waveforms::NiceTriangle niceTriangle;
    Waveforms::TriangleTan triangleTan;
    Waveforms::SquareOG squareOG;
    Waveforms::SquareHarm squareHarm;
    Waveforms::SquareDrop squareDrop;
    Waveforms::SquareIf squareIf;
    Waveforms::GameDudeSquare gameDudeSquare;
    Waveforms::SquareRound squareRound;
    Waveforms::SquareSoft squareSoft;
    Waveforms::PulseOG pulseOG;
    Waveforms::PulseIf pulseIf;
    Waveforms::PulseIfFull pulseIfFull;
    Waveforms::SawtoothOG sawtoothOG;
    Waveforms::SawtoothDull sawtoothDull;
    Waveforms::SawtoothMod sawtoothMod;
    Waveforms::Ocean ocean;
    Waveforms::FourierSpec fourierSpec;
    Waveforms::Miasma miasma;
    Waveforms::NebulaVenom nebulaVenom;

    juce::Array<Waveform*> waveforms;
    juce::Random rng;

private:
    JUCE_DECLARE_NON_COPYABLE (WaveManager)
};
