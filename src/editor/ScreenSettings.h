#pragma once

#include "ui/LayoutMetrics.h"
#include "ui/OASwitch.h"
#include "ui/OATheme.h"

#include <juce_gui_basics/juce_gui_basics.h>

class kvAP;

/** The overlay that edits the preferences (patch folder, message-of-the-day
    check, start-up log, background visualiser); tells the editor
    "settingsScreen.exit.-1" when it closes and "settingsScreen.motd.-1" to
    show the message of the day. */
class ScreenSettings : public juce::Component,
                       public juce::Button::Listener,
                       public juce::ActionBroadcaster
{
public:
    explicit ScreenSettings (kvAP& processor);
    ~ScreenSettings() override;

    /** Takes the typed patch folder and writes the settings file. A folder
        that is not a full path ("/..." or "~/...") is refused with a notice:
        the previous folder stays in use and returns to the text field, and
        the other settings are saved all the same. */
    void save();

    /** True for the folder texts save() takes: "/...", "~" and "~/...". */
    static bool isFullPath (const juce::String& folderText);

    void buttonClicked (juce::Button* button) override;
    void paint (juce::Graphics& g) override;
    void resized() override;

    LayoutMetrics metrics;
    OATheme theme;
    juce::TextEditor patchLocationEditor;
    juce::TextButton closeButton { "X" };
    juce::TextButton motdButton { "Show MOTD Screen" };
    OASwitch initLogSwitch;  // "initLog"
    OASwitch updatesSwitch;  // "updates"
    OASwitch bgVisSwitch;    // "showBgVis"
    kvAP& processor;

private:
    /** A stored on/off value: off when it starts with "f" in any case. */
    bool storedSwitchValue (const char* key) const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ScreenSettings)
};
