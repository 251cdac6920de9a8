#pragma once

#include "ui/LayoutMetrics.h"
#include "ui/OATheme.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

class kvAP;

/** The overlay on which an oscillator's or LFO's waveform is chosen. The
    editor sets targetKey (e.g. "synth1_oscType") before showing it; the
    screen tells the editor "oscScreen.exit.-1" when it closes. */
class ScreenOsc : public juce::Component,
                  public juce::Button::Listener,
                  public juce::ActionBroadcaster
{
public:
    static constexpr int numCategories = 6; // Sines, Squares, Pulse, Saw, Triangles, Misc

    explicit ScreenOsc (kvAP& processor);
    ~ScreenOsc() override;

    void buildList();
    void highlightBtn();

    void buttonClicked (juce::Button* button) override;
    void paint (juce::Graphics& g) override;
    void resized() override;

    /** The line under the title: the target's name and its waveform id, or
        "error -> error" while targetKey names no waveform key. */
    juce::String headerText() const;

    LayoutMetrics metrics;
    OATheme theme;
    juce::TextButton closeButton { "X" };
    std::array<juce::TextButton, numCategories> categoryButtons;
    kvAP& processor;
    juce::String filter { "sine" };                  // "na": no filter
    juce::OwnedArray<juce::TextButton> listButtons;
    juce::StringArray listIds;                       // waveform id of each list button
    juce::Viewport viewport;
    juce::Component listContent;
    juce::String targetKey { "na" };                 // the mapping key being edited
    juce::TextButton* selectedCategory = nullptr;

private:
    void layOutList();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ScreenOsc)
};
