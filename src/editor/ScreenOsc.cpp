#include "ScreenOsc.h"

#include "ScreenParts.h"

#include "processor/PluginProcessor.h"
#include "ui/OAActionMsg.h"

namespace
{
    struct Category
    {
        const char* text;
        const char* filter;
    };

    constexpr Category categories[ScreenOsc::numCategories] = {
        { "Sines", "sine" }, { "Squares", "square" }, { "Pulse", "pulse" },
        { "Saw", "saw" },    { "Triangles", "tri" },  { "Misc", "misc" },
    };

    /** The four mapping keys that hold waveform ids ("synth1_oscType" ...). */
    bool isWaveformKey (const juce::String& key)
    {
        return key.endsWith ("_oscType");
    }
}

ScreenOsc::ScreenOsc (kvAP& owner)
    : processor (owner)
{
    theme.initColours();

    addAndMakeVisible (closeButton);
    closeButton.addListener (this);

    for (int p = 0; p < numCategories; ++p)
    {
        auto& button = categoryButtons[(size_t) p];
        button.setButtonText (categories[p].text);
        addAndMakeVisible (button);
        button.addListener (this);
    }

    addAndMakeVisible (viewport);
    viewport.setViewedComponent (&listContent, false);
    viewport.setScrollBarsShown (true, false);

    filter = "sine";
    selectedCategory = &categoryButtons[0];
    highlightBtn();
    buildList();
}

ScreenOsc::~ScreenOsc()
{
    closeButton.removeListener (this);

    for (auto& button : categoryButtons)
        button.removeListener (this);

    viewport.setViewedComponent (nullptr, false);
}

void ScreenOsc::buildList()
{
    listContent.removeAllChildren();
    listButtons.clear();
    listIds.clear();

    for (auto* wave : processor.waveManager.waveforms)
    {
        if (filter != "na" && ! wave->getSection().contains (filter))
            continue;

        auto* button = listButtons.add (new juce::TextButton (wave->getName()));
        button->addListener (this);
        listContent.addAndMakeVisible (button);
        listIds.add (wave->getId());
    }

    layOutList();
    repaint();
}

void ScreenOsc::layOutList()
{
    layOutListButtons (listButtons, listContent, getWidth(), metrics);
}

void ScreenOsc::highlightBtn()
{
    highlightCategory (categoryButtons, selectedCategory, theme);
}

void ScreenOsc::buttonClicked (juce::Button* button)
{
    if (button == &closeButton)
    {
        sendActionMessage (OAActionMsg ("oscScreen", "exit", -1).message);
        return;
    }

    for (int p = 0; p < numCategories; ++p)
    {
        if (button == &categoryButtons[(size_t) p])
        {
            selectedCategory = &categoryButtons[(size_t) p];
            filter = categories[p].filter;
            buildList();
            highlightBtn();
            return;
        }
    }

    const auto k = listButtons.indexOf (static_cast<juce::TextButton*> (button));

    if (k >= 0)
    {
        // Only a waveform key takes a waveform id; anything else stays as it was.
        if (isWaveformKey (targetKey))
            processor.setModMapEntry (targetKey, listIds[k]);

        sendActionMessage (OAActionMsg ("oscScreen", "exit", -1).message);
        return;
    }

    highlightBtn();
}

void ScreenOsc::resized()
{
    const auto w = getWidth();
    const auto spacing = metrics.spacing;

    closeButton.setBounds (w - spacing - 100, spacing - 3, 100, 2 * metrics.unit);

    for (int p = 0; p < numCategories; ++p)
        categoryButtons[(size_t) p].setBounds (2 * spacing + p * spacing - 1 + 100 * p, (int) (1.5f * (float) metrics.gridTop),
                                               100, 3 * metrics.unit);

    viewport.setBounds (0, 3 * metrics.gridTop, w, getHeight() - 4 * metrics.gridTop);
    layOutList();
}

juce::String ScreenOsc::headerText() const
{
    const auto name = processor.modMapNames.find (targetKey);

    if (! isWaveformKey (targetKey) || name == processor.modMapNames.end())
        return "error -> error";

    return name->second + " -> " + processor.getModMap (targetKey);
}

void ScreenOsc::paint (juce::Graphics& g)
{
    const auto w = getWidth();

    paintScreenHeader (g, *this, metrics, theme.getBg (1), theme.getMain (1), theme.getBg (2), "Oscillator");

    g.setFont ((float) metrics.unit);
    g.setColour (theme.getLight (1));
    g.drawFittedText (headerText(), 0, 5 * metrics.spacing, w, metrics.unit, juce::Justification::centred, 1);

    g.setColour (theme.getMain (1));
    g.fillRect (0, (int) (2.75f * (float) metrics.gridTop), w - 64, 3);
}
