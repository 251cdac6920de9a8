#pragma once

#include "state/OAFileIO.h"
#include "ui/LayoutMetrics.h"
#include "ui/OATheme.h"

#include <juce_gui_basics/juce_gui_basics.h>

class kvAP;

/** The overlay that lists the built-in patches and the patch files and loads
    the one clicked; tells the editor "loadScreen.loaded_patch.-1" before a
    load and "loadScreen.exit.-1" when it closes. */
class ScreenLoad : public juce::Component,
                   public juce::Button::Listener,
                   public juce::ActionBroadcaster
{
public:
    /** A patch folder holding more files than this lists only the first ones. */
    static constexpr int maxListedFiles = 4096;

    explicit ScreenLoad (kvAP& processor);
    ~ScreenLoad() override;

    /** Rebuilds the list from the patch folder of io and its subfolders (the
        factory bank among them); the editor calls it before showing the screen. */
    void buildPatchList (OAFileIO io);

    /** Loads the built-in patch or the patch file of that name; false (and
        nothing loaded) when there is none. A file directly in the patch
        folder wins over one of the same name in a subfolder. */
    bool loadByName (juce::String name, OAFileIO io);

    void buttonClicked (juce::Button* button) override;
    void resized() override;
    void paint (juce::Graphics& g) override;

    kvAP* processor;
    OATheme theme;
    LayoutMetrics metrics;

    juce::TextButton closeBtn { "X" };
    juce::Viewport viewport;
    juce::Component list;
    juce::OwnedArray<juce::TextButton> entryButtons; // in list order
    juce::StringArray builtInNames;
    juce::Array<juce::File> patchFiles;              // found by the last list build

private:
    void layOutList();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ScreenLoad)
};
