#include "InterimEditor.h"

InterimEditor::InterimEditor (juce::AudioProcessor& owner, juce::MidiKeyboardState& keyboardState)
    : juce::AudioProcessorEditor (owner),
      parameters (owner),
      keyboard (keyboardState, juce::MidiKeyboardComponent::horizontalKeyboard)
{
    addAndMakeVisible (parameters);
    addAndMakeVisible (keyboard);
    keyboard.setAvailableRange (36, 96);
    keyboard.setWantsKeyboardFocus (true);
    setSize (720, 560);
}

void InterimEditor::resized()
{
    auto area = getLocalBounds();
    keyboard.setBounds (area.removeFromBottom (90));
    parameters.setBounds (area);
}
