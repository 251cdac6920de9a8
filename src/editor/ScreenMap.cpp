#include "ScreenMap.h"

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

    constexpr Category categories[ScreenMap::numCategories] = {
        { "All", "na" },      { "Global", "global" }, { "Osc 1", "synth1" }, { "Osc 2", "synth2" },
        { "Env 1", "env1" },  { "Env 2", "env2" },    { "LFO 1", "lfo1" },   { "LFO 2", "lfo2" },
    };

    /** The four mapping keys that hold target parameter ids ("env1_mappedParam" ...). */
    bool isTargetKey (const juce::String& key)
    {
        return key.endsWith ("_mappedParam");
    }

    /** Ids from old or foreign patch files can be any text; the header shows at most this much. */
    constexpr int maxShownIdLength = 48;
}

ScreenMap::ScreenMap (kvAP& owner)
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

    filter = "na";
    selectedCategory = &categoryButtons[0];
    highlightBtn();
    buildList();
}

ScreenMap::~ScreenMap()
{
    closeButton.removeListener (this);

    for (auto& button : categoryButtons)
        button.removeListener (this);

    viewport.setViewedComponent (nullptr, false);
}

void ScreenMap::buildList()
{
    listContent.removeAllChildren();
    listButtons.clear();
    listIds.clear();

    for (const auto& p : processor.paramMan.params)
    {
        if (filter != "na" && ! p.paramId.contains (filter) && ! p.group.contains (filter))
            continue;

        auto* button = listButtons.add (new juce::TextButton (p.displayName));
        button->addListener (this);
        listContent.addAndMakeVisible (button);
        listIds.add (p.paramId);
    }

    layOutList();
    repaint();
}

void ScreenMap::layOutList()
{
    layOutListButtons (listButtons, listContent, getWidth(), metrics);
}

void ScreenMap::highlightBtn()
{
    highlightCategory (categoryButtons, selectedCategory, theme);
}

void ScreenMap::buttonClicked (juce::Button* button)
{
    if (button == &closeButton)
    {
        sendActionMessage (OAActionMsg ("mapScreen", "exit", -1).message);
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
        // Through the processor, which hands the new target to the audio
        // thread safely; only a target key takes a parameter id.
        if (isTargetKey (targetKey))
            processor.setModMapEntry (targetKey, listIds[k]);

        sendActionMessage (OAActionMsg ("mapScreen", "exit", -1).message);
    }
}

void ScreenMap::resized()
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

juce::String ScreenMap::headerText() const
{
    const auto name = processor.modMapNames.find (targetKey);

    if (! isTargetKey (targetKey) || name == processor.modMapNames.end())
        return "error -> error";

    const auto id = processor.getModMap (targetKey);
    const auto& table = processor.paramMan.paramsById;
    juce::String current;

    if (const auto found = table.find (id); found != table.end())
        current = found->second.displayName;
    else if (id.isEmpty())
        current = "None"; // an empty target drives nothing
    else
        current = "\"" + (id.length() > maxShownIdLength ? id.substring (0, maxShownIdLength) + "..." : id) + "\" (unknown)";

    return name->second + " -> " + current;
}

void ScreenMap::paint (juce::Graphics& g)
{
    const auto w = getWidth();

    paintScreenHeader (g, *this, metrics, theme.getBg (1), theme.getMain (1), theme.getBg (2), "Modulation Map");

    g.setFont ((float) metrics.unit);
    g.setColour (theme.getLight (1));
    g.drawFittedText (headerText(), 0, 5 * metrics.spacing, w, metrics.unit, juce::Justification::centred, 1);

    g.setColour (theme.getMain (1));
    g.fillRect (0, (int) (2.75f * (float) metrics.gridTop), w - 64, 3);
}
