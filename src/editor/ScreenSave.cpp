#include "ScreenSave.h"

#include "ScreenParts.h"

#include "diagnostics/Notices.h"
#include "processor/PluginProcessor.h"
#include "ui/OAActionMsg.h"

ScreenSave::ScreenSave (kvAP& owner)
    : processor (&owner)
{
    theme.initColours();
    theme.currentTheme = "standard";

    addAndMakeVisible (nameEditor);
    nameEditor.setFont (OATheme::getCustomFont().withHeight ((float) (2 * metrics.unit)));
    nameEditor.setText (processor->patchName, false);

    addAndMakeVisible (closeBtn);
    closeBtn.addListener (this);
    addAndMakeVisible (saveBtn);
    saveBtn.addListener (this);
}

ScreenSave::~ScreenSave()
{
    closeBtn.removeListener (this);
    saveBtn.removeListener (this);
}

bool ScreenSave::saveTypedName()
{
    const auto name = nameEditor.getText();

    // With ".kvn" added, these would pass as file names but make hidden files
    // (".kvn", "..kvn") that the patch list never shows; the processor
    // refuses the rest ("/", a leading "~") with its own notice.
    if (name.trim().isEmpty())
    {
        Notices::show ("Uhh..", "A patch needs a name, so nothing was saved. Try another name?", "Okay...");
        return false;
    }

    if (name == "." || name == "..")
    {
        Notices::show ("Uhh..", "\"" + name + "\" names a folder, not a patch, so nothing was saved. Try another name?", "Okay...");
        return false;
    }

    if (name.startsWithChar ('.'))
    {
        Notices::show ("Uhh..", "Patch names can't start with \".\" (the file would be hidden), so nothing was saved. Try another name?", "Okay...");
        return false;
    }

    return processor->savePatch (name + ".kvn");
}

void ScreenSave::buttonClicked (juce::Button* button)
{
    if (button == &closeBtn)
    {
        sendActionMessage (OAActionMsg ("saveScreen", "exit", -1).message);
    }
    else if (button == &saveBtn)
    {
        // A refused name leaves the screen open for another try.
        if (saveTypedName())
            sendActionMessage (OAActionMsg ("saveScreen", "exit", -1).message);
    }
}

void ScreenSave::resized()
{
    const auto w = getWidth();
    const auto spacing = (float) metrics.spacing;
    const auto gridTop = (float) metrics.gridTop;

    closeBtn.setBounds (w - metrics.spacing - 100, metrics.spacing - 3, 100, 2 * metrics.unit);
    nameEditor.setBounds (metrics.spacing, (int) (gridTop + (0.65f * spacing - 1.0f + (65.0f + spacing))),
                          400, (int) ((float) metrics.controlHeight * 1.25f));
    saveBtn.setBounds ((int) (0.5f * (float) w - (float) metrics.barSize),
                       (int) (gridTop + (1.75f * spacing - 1.0f + (175.0f + spacing))),
                       100, metrics.controlHeight);
}

void ScreenSave::paint (juce::Graphics& g)
{
    const auto spacing = (float) metrics.spacing;
    const auto gridTop = (float) metrics.gridTop;
    constexpr float opacity = 0.5f;

    paintScreenHeader (g, *this, metrics, theme.getBg (1).withMultipliedAlpha (opacity),
                       theme.getMain (1).withMultipliedAlpha (opacity), theme.getBg2 (1).withMultipliedAlpha (opacity), "Save Patch");

    // The main colour, brighter, faint.
    const auto main = theme.getMain (1);
    auto brighter = [] (juce::uint8 c) { return (juce::uint8) juce::jmin (255, (int) ((float) c * 1.5f)); };
    g.setColour (juce::Colour (brighter (main.getRed()), brighter (main.getGreen()), brighter (main.getBlue())).withAlpha (0.25f));
    g.setFont (1.75f * (float) metrics.unit);

    g.drawFittedText ("patch name", metrics.spacing,
                      (int) (gridTop + (0.5f * spacing - 1.0f + (50.0f + spacing))) - 3 * metrics.spacing,
                      400, metrics.controlHeight, juce::Justification::left, 1);

    const auto location = processor->settings.values.find ("patchLocation");
    const auto folder = location != processor->settings.values.end() ? location->second : juce::String();
    g.drawFittedText (folder, metrics.spacing,
                      (int) (gridTop + (1.5f * spacing - 1.0f + (150.0f + spacing))) - 3 * metrics.spacing,
                      400, metrics.controlHeight, juce::Justification::left, 1);
}
