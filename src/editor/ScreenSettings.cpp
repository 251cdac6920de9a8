#include "ScreenSettings.h"

#include "ScreenParts.h"

#include "diagnostics/Notices.h"
#include "processor/PluginProcessor.h"
#include "ui/OAActionMsg.h"

ScreenSettings::ScreenSettings (kvAP& owner)
    : processor (owner)
{
    theme.initColours();

    addAndMakeVisible (closeButton);
    closeButton.addListener (this);

    const std::pair<OASwitch*, const char*> switches[] = {
        { &initLogSwitch, "initLog" }, { &updatesSwitch, "updates" }, { &bgVisSwitch, "showBgVis" }
    };

    for (const auto& [sw, key] : switches)
    {
        addAndMakeVisible (*sw);
        sw->frameColour = theme.getBg (2);
        sw->trackColour = theme.getBg (8);
        sw->onKnobColour = theme.getMain (1);
        sw->offKnobColour = theme.getAccent (1);
        sw->addListener (this);
        sw->isOn = storedSwitchValue (key);
    }

    addAndMakeVisible (motdButton);
    motdButton.setButtonText ("Show MOTD Screen");
    motdButton.addListener (this);

    addAndMakeVisible (patchLocationEditor);
    patchLocationEditor.setFont (OATheme::getCustomFont());
    patchLocationEditor.setText (processor.settings.values.at ("patchLocation"), true);
}

ScreenSettings::~ScreenSettings()
{
    for (juce::Button* b : { (juce::Button*) &closeButton, (juce::Button*) &motdButton,
                             (juce::Button*) &initLogSwitch, (juce::Button*) &updatesSwitch, (juce::Button*) &bgVisSwitch })
        b->removeListener (this);
}

bool ScreenSettings::storedSwitchValue (const char* key) const
{
    return ! processor.settings.values.at (key).toLowerCase().startsWith ("f");
}

bool ScreenSettings::isFullPath (const juce::String& folderText)
{
    // The same rule the processor applies to the stored folder at start-up.
    return folderText.startsWithChar ('/') || folderText == "~" || folderText.startsWith ("~/");
}

void ScreenSettings::save()
{
    auto& values = processor.settings.values;
    const auto typed = patchLocationEditor.getText();

    const bool accepted = isFullPath (typed);

    if (accepted)
    {
        values["patchLocation"] = typed;
    }
    else
    {
        // A relative folder would depend on where the program was started.
        const auto previous = values["patchLocation"];
        patchLocationEditor.setText (previous, false);
        Notices::show ("Uhh..",
                       "\"" + typed + "\" isn't a full path (one starting with \"/\" or \"~/\"), so your patches stay in "
                           + previous + ".",
                       "Okay...");
    }

    if (! processor.settings.save (processor.fileIO))
        Notices::show ("Uhh..",
                       "The settings couldn't be written to " + processor.settings.getSettingsFile (processor.fileIO).getFullPathName()
                           + ". They stay as they are until Korvane closes.",
                       "Bummer...");

    // From now on patches are read from and written to the new folder.
    if (accepted)
        processor.fileIO.productFolder = juce::File (typed);
}

void ScreenSettings::buttonClicked (juce::Button* button)
{
    if (button == &closeButton)
    {
        save();
        sendActionMessage (OAActionMsg ("settingsScreen", "exit", -1).message);
        return;
    }

    const std::pair<OASwitch*, const char*> switches[] = {
        { &initLogSwitch, "initLog" }, { &updatesSwitch, "updates" }, { &bgVisSwitch, "showBgVis" }
    };

    for (const auto& [sw, key] : switches)
    {
        if (button == sw)
        {
            // Only in memory; closing the screen writes the file.
            processor.settings.values[key] = sw->isOn ? "true" : "false";
            return;
        }
    }

    if (button == &motdButton)
        sendActionMessage (OAActionMsg ("settingsScreen", "motd", -1).message);
}

void ScreenSettings::resized()
{
    const auto w = getWidth();
    const auto spacing = (float) metrics.spacing;
    const auto gridTop = (float) metrics.gridTop;
    const auto controlHeight = metrics.controlHeight;

    auto rowY = [&] (float step) { return (int) (gridTop + step * spacing - 1.0f + step * 100.0f + spacing); };

    closeButton.setBounds (w - metrics.spacing - 100, metrics.spacing - 3, 100, 2 * metrics.unit);
    patchLocationEditor.setBounds (metrics.spacing, rowY (0.25f) + 8, 400, (int) (0.75f * (float) controlHeight));
    initLogSwitch.setBounds (w - controlHeight - 64, rowY (0.75f), 64, controlHeight);
    updatesSwitch.setBounds (w - controlHeight - 64, rowY (1.25f), 64, controlHeight);
    bgVisSwitch.setBounds (w - controlHeight - 64, rowY (1.75f), 64, controlHeight);
    motdButton.setBounds (metrics.spacing, rowY (2.25f), 225, controlHeight);
}

void ScreenSettings::paint (juce::Graphics& g)
{

    paintScreenHeader (g, *this, metrics, theme.getBg (1), theme.getMain (1), theme.getBg (2), "Settings");

    g.setColour (theme.getMain (3).withAlpha (0.5f));
    g.setFont (1.75f * (float) metrics.unit);

    auto label = [&] (const char* text, int y)
    {
        g.drawFittedText (text, metrics.spacing, y, 400, metrics.controlHeight, juce::Justification::left, 1);
    };

    label ("Patch Save Location:", patchLocationEditor.getY() - 8 - 3 * metrics.spacing);
    label ("Check for Updates", updatesSwitch.getY());
    label ("Create Init Log", initLogSwitch.getY());
    label ("Show BG Visualizer", bgVisSwitch.getY());
}
