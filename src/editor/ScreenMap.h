#pragma once

#include "ui/LayoutMetrics.h"
#include "ui/OATheme.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

class kvAP;

/** The overlay on which a modulation source's target parameter is chosen.
    The editor sets targetKey (e.g. "env1_mappedParam") before showing it;
    the screen tells the editor "mapScreen.exit.-1" when it closes. */
class ScreenMap : public juce::Component,
                  public juce::Button::Listener,
                  public juce::ActionBroadcaster
{
public:
    static constexpr int numCategories = 8; // All, Global, Osc 1, Osc 2, Env 1, Env 2, LFO 1, LFO 2

    explicit ScreenMap (kvAP& processor);
    ~ScreenMap() override;

    void buildList();
    void highlightBtn();

    void buttonClicked (juce::Button* button) override;
    void paint (juce::Graphics& g) override;
    void resized() override;

    /** The line under the title: the source's name and the display name of
        its target; "error -> error" while targetKey names no target key. A
        target the parameter table doesn't know is shown by its id. */
    juce::String headerText() const;

    LayoutMetrics metrics;
    OATheme theme;
    juce::TextButton closeButton { "X" };
    std::array<juce::TextButton, numCategories> categoryButtons;
    kvAP& processor;
    juce::String filter { "na" };                    // "na": no filter
    juce::OwnedArray<juce::TextButton> listButtons;
    juce::StringArray listIds;                       // parameter id of each list button
    juce::Viewport viewport;
    juce::Component listContent;
    juce::String targetKey { "na" };                 // the mapping key being edited
    juce::TextButton* selectedCategory = nullptr;

private:
    void layOutList();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ScreenMap)
};
