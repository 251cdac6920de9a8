#include "WaveManager.h"

namespace
{
struct Entry
{
    const char* name;
    const char* id;
    const char* section;
    bool usesParam1;
    bool usesParam2;
};

// Menu order. Ids are what patches store, so they never change: "Pulse If"
// and "sine_stringB" really are spelt that way in existing patches.
const Entry entries[] = {
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
} // namespace

WaveManager::WaveManager()
{
    Waveform* const shapes[] = {
        &sineOG, &sineR, &sineString, &sineStringB, &superSine, &moonSine, &sunSine,
        &triangleOG, &triangleIf, &niceTriangle, &triangleTan,
        &squareOG, &squareHarm, &squareDrop, &squareIf, &gameDudeSquare, &squareRound, &squareSoft,
        &pulseOG, &pulseIf, &pulseIfFull,
        &sawtoothOG, &sawtoothDull, &sawtoothMod,
        &ocean, &fourierSpec, &miasma, &nebulaVenom
    };

    static_assert (sizeof (shapes) / sizeof (shapes[0]) == sizeof (entries) / sizeof (entries[0]),
                   "every shape needs exactly one table row");

    waveforms.ensureStorageAllocated (48);

    for (size_t i = 0; i < sizeof (entries) / sizeof (entries[0]); ++i)
    {
        auto& shape = *shapes[i];
        const auto& entry = entries[i];

        shape.name = entry.name;
        shape.id = entry.id;
        shape.section = entry.section;
        shape.usesParam1 = entry.usesParam1;
        shape.usesParam2 = entry.usesParam2;

        waveforms.add (&shape);
    }
}

int WaveManager::getIndexById (const juce::String& wantedId) const
{
    if (waveforms.isEmpty())
        return -1;

    for (int i = 0; i < waveforms.size(); ++i)
        if (waveforms.getUnchecked (i)->id == wantedId)
            return i;

    return 0;
}

Waveform* WaveManager::getWaveById (const juce::String& wantedId)
{
    const auto index = getIndexById (wantedId);
    return index < 0 ? nullptr : waveforms.getUnchecked (index);
}
