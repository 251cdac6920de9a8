#pragma once

#include "ui/LayoutMetrics.h"
#include "ui/OATheme.h"

#include <juce_gui_basics/juce_gui_basics.h>

class kvAP;

/** The overlay that saves the current sound under a typed name; tells the
    editor "saveScreen.exit.-1" when it closes, and after a save. A name that
    can't be a patch file in the patch folder is refused with a notice and the
    screen stays open. */
class ScreenSave : public juce::Component,
                   public juce::Button::Listener,
                   public juce::ActionBroadcaster
{
public:
    explicit ScreenSave (kvAP& processor);
    ~ScreenSave() override;

    /** Saves the sound as the typed name + ".kvn"; false (with a notice,
        nothing written) when the name is refused or the save fails. */
    bool saveTypedName();

    void buttonClicked (juce::Button* button) override;
    void resized() override;
    void paint (juce::Graphics& g) override;

    kvAP* processor;
    OATheme theme;
    LayoutMetrics metrics;

    juce::TextEditor nameEditor { "Patch Name" }; // the editor writes the patch name into it
    juce::TextButton closeBtn { "X" };
    juce::TextButton saveBtn { "Save" };

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ScreenSave)
};
