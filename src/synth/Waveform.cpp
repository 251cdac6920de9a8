#include "Waveform.h"

#include <cmath>

Waveform::Waveform()
    : pi (3.1415927f),
      twoPi (6.2831855f),
      halfPi (1.5707964f),
      threeHalfPi (4.712389f)
{
}

float Waveform::wave (double phase, float*, float)
{
    return (float) std::sin (phase);
}

juce::String Waveform::getName()    { return name; }
juce::String Waveform::getId()      { return id; }
juce::String Waveform::getSection() { return section; }

bool Waveform::acceptsParam1()      { return isWavetable() || usesParam1; }
bool Waveform::acceptsParam2()      { return isWavetable() || usesParam2; }

bool Waveform::isWavetable()        { return false; }
