// The palettes and their shades, the look-and-feel the theme installs, the
// embedded typeface and the embedded images.

#include "UiTestSupport.h"
#include "processor/PluginProcessor.h"
#include "ui/OATheme.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

namespace
{
    juce::String hex (juce::Colour c) { return "#" + c.toDisplayString (false).toLowerCase(); }

    struct ShadeCase
    {
        const char* role;
        float level;
        const char* expected;
    };

    juce::Colour shadeOf (OATheme& theme, const juce::String& role, float level)
    {
        if (role == "bg") return theme.getBg (level);
        if (role == "bg2") return theme.getBg2 (level);
        if (role == "main") return theme.getMain (level);
        if (role == "light") return theme.getLight (level);
        return theme.getAccent (level);
    }

    /** An editor with nothing in it, to hand to setTheme. */
    struct BareEditor : juce::AudioProcessorEditor
    {
        explicit BareEditor (kvAP& p) : juce::AudioProcessorEditor (p) {}
    };
}

TEST (Theme, ShadesOfTheStandardPalette)
{
    // Each channel × (0.75 + 0.25 × level), truncated, at most 255.
    const ShadeCase cases[] = {
        { "main", 1.0f, "#00ff98" },   // as stored
        { "main", 4.0f, "#00ffff" },   // 446 and 266 clamp to 255
        { "bg", 0.0f, "#100d0d" },     // 22 × 0.75 = 16.5 truncates to 16
        { "bg", 0.5f, "#130f0f" },
        { "bg", 2.0f, "#1b1616" },
        { "bg", 3.0f, "#211b1b" },
        { "bg", 24.0f, "#947979" },
        { "main", 2.0f, "#00ffbe" },
        { "bg2", 4.0f, "#de8c38" },
        { "bg2", 10.0f, "#ffff68" },
        { "light", 2.0f, "#a0ffff" },
        { "accent", 8.0f, "#ffffff" },
    };

    OATheme theme;

    for (const auto& c : cases)
    {
        const auto colour = shadeOf (theme, c.role, c.level);
        EXPECT_EQ (hex (colour), c.expected) << c.role << " at " << c.level;
        EXPECT_TRUE (colour.isOpaque());
    }
}

TEST (Theme, BuildColourOnShortAndOddTriples)
{
    EXPECT_EQ (OAPallet::buildColour ({ 200 }, 1.0f), juce::Colour (200, 0, 0));
    EXPECT_EQ (OAPallet::buildColour ({}, 3.0f), juce::Colour (0, 0, 0));
    EXPECT_EQ (OAPallet::buildColour ({ 128, 128, 128 }, 8.0f), juce::Colours::white);
    // Levels below -3 would make a channel negative: it stays at 0 instead
    // of wrapping round to a bright value.
    EXPECT_EQ (OAPallet::buildColour ({ 200, 100, 50 }, -5.0f), juce::Colour (0, 0, 0));
    EXPECT_EQ (OAPallet::buildColour ({ 200, 100, 50 }, std::numeric_limits<float>::quiet_NaN()), juce::Colour (0, 0, 0));
}

TEST (Theme, UnknownPaletteFallsBackAndIsEntered)
{
    OATheme theme;
    ASSERT_EQ (theme.pallets.size(), 5u);

    theme.currentTheme = "noSuchPalette";
    EXPECT_EQ (hex (theme.getAccent (1.0f)), "#a2cf79");
    EXPECT_EQ (hex (theme.getBg (1.0f)), "#293f40");
    EXPECT_EQ (hex (theme.getBg2 (1.0f)), "#7060b1");
    EXPECT_EQ (hex (theme.getMain (1.0f)), "#6a9957");
    EXPECT_EQ (hex (theme.getLight (1.0f)), "#e3ebdf");
    EXPECT_EQ (theme.pallets.size(), 6u);
    EXPECT_EQ (theme.pallets.count ("noSuchPalette"), 1u);
}

TEST (Theme, InitColoursNeverReplacesAnEntry)
{
    OATheme theme;
    theme.pallets["standard"].main = { 1, 2, 3 };

    theme.initColours();
    theme.initColours();

    EXPECT_EQ (theme.pallets.size(), 5u);
    EXPECT_EQ (hex (theme.getMain (1.0f)), "#010203");
    EXPECT_EQ (hex (theme.getBg (1.0f)), "#161212");
}

TEST (Theme, OtherPalettes)
{
    OATheme theme;

    theme.currentTheme = "allBlack";
    for (float level : { 0.0f, 1.0f, 4.0f, 24.0f })
        for (const char* role : { "bg", "bg2", "main", "light", "accent" })
            EXPECT_EQ (shadeOf (theme, role, level), juce::Colour (0, 0, 0)) << role << " at " << level;

    theme.currentTheme = "iceBlue";
    EXPECT_EQ (hex (theme.getAccent (1.0f)), "#af542a");
    theme.currentTheme = "forest";
    EXPECT_EQ (hex (theme.getLight (2.0f)), "#b6ca82"); // (146, 162, 104) × 1.25
    EXPECT_EQ (theme.pallets.size(), 5u);
}

TEST (Theme, SetThemeInstallsPaletteAndTypefaceOnTheLookAndFeel)
{
    kvAP processor;
    BareEditor editor (processor);
    processor.theme.setTheme (&editor);

    EXPECT_EQ (processor.theme.editor, &editor);

    // The editor has no look-and-feel of its own: the shared default one
    // changes, so every window of the program follows.
    auto& lf = juce::LookAndFeel::getDefaultLookAndFeel();
    EXPECT_EQ (&editor.getLookAndFeel(), &lf);

    const std::pair<int, const char*> expected[] = {
        { juce::Slider::thumbColourId, "#00ffff" },                    // main 4
        { juce::Slider::rotarySliderOutlineColourId, "#1b1616" },      // bg 2
        { juce::PopupMenu::textColourId, "#7f5020" },                  // bg2 1
        { juce::PopupMenu::highlightedTextColourId, "#80e9f8" },       // light 1
        { juce::ListBox::backgroundColourId, "#808080" },              // accent 1
        { juce::MidiKeyboardComponent::blackNoteColourId, "#de8c38" }, // bg2 4
        { juce::ResizableWindow::backgroundColourId, "#161212" },      // bg 1
        { juce::Label::textColourId, "#00ff98" },                      // main 1
    };

    for (const auto& [id, colour] : expected)
        EXPECT_EQ (hex (lf.findColour (id)), colour) << juce::String::toHexString (id);

    // A stock widget picks the colours up.
    juce::Label label;
    EXPECT_EQ (hex (label.findColour (juce::Label::textColourId)), "#00ff98");

    // The default sans-serif face (what every stock widget draws with) is
    // now the embedded typeface.
    EXPECT_EQ (juce::Font (16.0f).getTypefacePtr(), OATheme::getCustomTypeface());
    EXPECT_EQ (juce::Font (16.0f).getTypefacePtr()->getName(), "Agave");
}

TEST (Theme, CustomTypefaceIsTheEmbeddedFixedPitchFace)
{
    auto typeface = OATheme::getCustomTypeface();
    ASSERT_NE (typeface, nullptr);
    EXPECT_EQ (typeface->getName(), "Agave");
    EXPECT_EQ (typeface->getStyle(), "Regular");
    EXPECT_EQ (OATheme::getCustomTypeface(), typeface); // one per process

    const auto font = OATheme::getCustomFont().withHeight (20.0f);
    EXPECT_EQ (font.getTypefaceName(), "Agave");
    EXPECT_FLOAT_EQ (font.getHeight(), 20.0f);

    // Fixed pitch: narrow and wide letters take the same room.
    const auto narrow = font.getStringWidthFloat ("iiiiiiii");
    EXPECT_GT (narrow, 0.0f);
    EXPECT_FLOAT_EQ (narrow, font.getStringWidthFloat ("WWWWWWWW"));
    EXPECT_FLOAT_EQ (narrow, font.getStringWidthFloat ("..||MM@@"));

    // A TrueType file (the sfnt version of TrueType outlines).
    ASSERT_GT (BinaryData::agave_ttfSize, 4);
    const auto* bytes = reinterpret_cast<const unsigned char*> (BinaryData::agave_ttf);
    EXPECT_EQ (bytes[0], 0);
    EXPECT_EQ (bytes[1], 1);
    EXPECT_EQ (bytes[2], 0);
    EXPECT_EQ (bytes[3], 0);
}

TEST (Resources, EveryImageIsEmbeddedDecodableAndHasAlpha)
{
    struct Expected { const char* name; int width, height; };

    const Expected images[] = {
        { "logoLRG_png", 300, 300 }, { "numbers_png", 50, 50 }, { "logo_png", 74, 74 },
        { "oa_logo_png", 330, 56 }, { "gear_png", 74, 74 }, { "init_png", 50, 50 },
        { "reset_png", 50, 50 }, { "save_png", 50, 50 }, { "dice_png", 50, 50 },
        { "load_png", 50, 50 }, { "bug_png", 50, 50 }, { "discord_logo_png", 50, 50 },
    };

    EXPECT_EQ (BinaryData::namedResourceListSize, 13); // the twelve images and the typeface

    for (const auto& e : images)
    {
        SCOPED_TRACE (e.name);
        int size = 0;
        const auto* data = BinaryData::getNamedResource (e.name, size);
        ASSERT_NE (data, nullptr);

        const auto image = juce::ImageCache::getFromMemory (data, size);
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), e.width);
        EXPECT_EQ (image.getHeight(), e.height);
        EXPECT_TRUE (image.hasAlphaChannel());

        // The buttons draw the alpha as a silhouette: it needs both a shape
        // and a see-through surround.
        int opaque = 0, clear = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
            {
                const auto alpha = image.getPixelAt (x, y).getAlpha();
                opaque += alpha == 255 ? 1 : 0;
                clear += alpha == 0 ? 1 : 0;
            }

        const int total = image.getWidth() * image.getHeight();
        EXPECT_GT (opaque, total / 20);
        EXPECT_GT (clear, total / 5);
    }

    int size = 0;
    EXPECT_EQ (BinaryData::getNamedResource ("agave_ttf", size), BinaryData::agave_ttf);
    EXPECT_EQ (size, BinaryData::agave_ttfSize);
    EXPECT_EQ (BinaryData::getNamedResource ("no_such_png", size), nullptr);
}
