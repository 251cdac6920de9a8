#include "OATheme.h"

#include <BinaryData.h>
#include <juce_audio_utils/juce_audio_utils.h>

OATheme::OATheme()
{
    initColours();
}

void OATheme::initColours()
{
    // emplace keeps an entry that is already there.
    pallets.emplace ("standard", OAPallet ({ 22, 18, 18 }, { 127, 80, 32 }, { 0, 255, 152 }, { 128, 233, 248 }, { 128, 128, 128 }));
    pallets.emplace ("iceBlue", OAPallet ({ 9, 46, 70 }, { 75, 155, 171 }, { 79, 187, 215 }, { 175, 245, 229 }, { 175, 84, 42 }));
    pallets.emplace ("readIt", OAPallet ({ 9, 46, 70 }, { 25, 155, 171 }, { 39, 187, 215 }, { 245, 245, 229 }, { 255, 84, 42 }));
    pallets.emplace ("forest", OAPallet ({ 57, 43, 24 }, { 110, 86, 33 }, { 146, 103, 33 }, { 146, 162, 104 }, { 236, 239, 220 }));
    pallets.emplace ("allBlack", OAPallet ({ 0, 0, 0 }, { 0, 0, 0 }, { 0, 0, 0 }, { 0, 0, 0 }, { 0, 0, 0 }));
}

juce::Colour OATheme::getBg (float level)     { return OAPallet::buildColour (currentPallet().bg, level); }
juce::Colour OATheme::getBg2 (float level)    { return OAPallet::buildColour (currentPallet().bg2, level); }
juce::Colour OATheme::getMain (float level)   { return OAPallet::buildColour (currentPallet().main, level); }
juce::Colour OATheme::getLight (float level)  { return OAPallet::buildColour (currentPallet().light, level); }
juce::Colour OATheme::getAccent (float level) { return OAPallet::buildColour (currentPallet().accent, level); }

void OATheme::setTheme (juce::AudioProcessorEditor* editorToTheme)
{
    editor = editorToTheme;
    initColours();

    auto& lf = editor != nullptr ? editor->getLookAndFeel() : juce::LookAndFeel::getDefaultLookAndFeel();
    lf.setDefaultSansSerifTypeface (getCustomTypeface());

    const std::pair<int, juce::Colour> colours[] = {
        { juce::Slider::textBoxTextColourId, getMain (1) },
        { juce::Slider::textBoxOutlineColourId, getBg (1) },
        { juce::Slider::textBoxHighlightColourId, getBg (1) },
        { juce::Slider::textBoxBackgroundColourId, getBg (1) },
        { juce::Slider::thumbColourId, getMain (4) },
        { juce::Slider::trackColourId, getMain (1) },
        { juce::Slider::rotarySliderFillColourId, getMain (1) },
        { juce::Slider::rotarySliderOutlineColourId, getBg (2) },
        { juce::Slider::backgroundColourId, getBg (2) },

        { juce::ComboBox::backgroundColourId, getBg (2) },
        { juce::ComboBox::textColourId, getMain (1) },
        { juce::ComboBox::arrowColourId, getMain (1) },
        { juce::ComboBox::outlineColourId, getBg (1) },
        { juce::ComboBox::buttonColourId, getMain (1) },

        { juce::PopupMenu::backgroundColourId, getBg (2) },
        { juce::PopupMenu::textColourId, getBg2 (1) },
        { juce::PopupMenu::highlightedBackgroundColourId, getAccent (1) },
        { juce::PopupMenu::highlightedTextColourId, getLight (1) },

        { juce::TextButton::buttonColourId, getBg (2) },
        { juce::TextButton::textColourOffId, getMain (1) },
        { juce::ToggleButton::textColourId, getMain (1) },
        { juce::ToggleButton::tickColourId, getAccent (1) },
        { juce::ToggleButton::tickDisabledColourId, getMain (1) },

        { juce::AlertWindow::backgroundColourId, getBg (1) },
        { juce::AlertWindow::textColourId, getMain (1) },
        { juce::AlertWindow::outlineColourId, getMain (1) },
        { juce::ResizableWindow::backgroundColourId, getBg (1) },
        { juce::DocumentWindow::textColourId, getMain (1) },

        { juce::ListBox::backgroundColourId, getAccent (1) },
        { juce::ListBox::textColourId, getMain (1) },
        { juce::ListBox::outlineColourId, getBg (2) },

        { juce::TextEditor::backgroundColourId, getBg (2) },
        { juce::TextEditor::focusedOutlineColourId, getBg (2) },
        { juce::TextEditor::highlightColourId, getBg2 (1) },
        { juce::TextEditor::highlightedTextColourId, getAccent (1) },
        { juce::TextEditor::outlineColourId, getBg (2) },
        { juce::TextEditor::shadowColourId, getBg (2) },
        { juce::TextEditor::textColourId, getMain (1) },

        { juce::MidiKeyboardComponent::blackNoteColourId, getBg2 (4) },
        { juce::MidiKeyboardComponent::whiteNoteColourId, getBg (2) },
        { juce::MidiKeyboardComponent::keyDownOverlayColourId, getMain (1) },
        { juce::MidiKeyboardComponent::keySeparatorLineColourId, getBg (2) },
        { juce::MidiKeyboardComponent::mouseOverKeyOverlayColourId, getMain (1) },
        { juce::MidiKeyboardComponent::textLabelColourId, getMain (1) },
        { juce::KeyboardComponentBase::upDownButtonArrowColourId, getMain (1) },
        { juce::KeyboardComponentBase::upDownButtonBackgroundColourId, getBg (2) },

        { juce::ScrollBar::thumbColourId, getBg (2) },
        { juce::ScrollBar::backgroundColourId, getBg (1) },
        { juce::ScrollBar::trackColourId, getBg (2) },

        { juce::Label::backgroundColourId, getBg (1) },
        { juce::Label::outlineColourId, getBg (1) },
        { juce::Label::textColourId, getMain (1) },
    };

    for (const auto& [id, colour] : colours)
        lf.setColour (id, colour);
}

static juce::Typeface::Ptr createCustomTypeface()
{
    return juce::Typeface::createSystemTypefaceFor (BinaryData::agave_ttf, (size_t) BinaryData::agave_ttfSize);
}

// Function-local statics: created on the first call from any thread, released
// at process exit.
juce::Typeface::Ptr OATheme::getCustomTypeface()
{
    static const juce::Typeface::Ptr typeface = createCustomTypeface();
    return typeface;
}

juce::Font OATheme::getCustomFont()
{
    static const juce::Typeface::Ptr typeface = createCustomTypeface();
    return juce::Font (typeface);
}
