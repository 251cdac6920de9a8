// The custom widgets, the action messages and the slider groups.

#include "ProcessorFixture.h"
#include "UiTestSupport.h"
#include "ui/OAActionMsg.h"
#include "ui/OAMeter.h"
#include "ui/OASlider.h"
#include "ui/OASwitch.h"
#include "ui/OAVULogo.h"
#include "ui/ScanLines.h"
#include "ui/SliderGroup.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
    bool isNear (juce::Colour p, juce::Colour target, int tolerance)
    {
        return p.getAlpha() > 200
            && std::abs (p.getRed() - target.getRed()) < tolerance
            && std::abs (p.getGreen() - target.getGreen()) < tolerance
            && std::abs (p.getBlue() - target.getBlue()) < tolerance;
    }

    /** Mean position of the solid pixels close to a colour; (-1, -1) when none is. */
    juce::Point<float> centroidOf (const juce::Image& image, juce::Colour target, int tolerance = 40)
    {
        double sx = 0, sy = 0;
        int n = 0;

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (isNear (image.getPixelAt (x, y), target, tolerance))
                {
                    sx += x + 0.5;
                    sy += y + 0.5;
                    ++n;
                }

        if (n == 0)
            return { -1.0f, -1.0f };

        return { (float) (sx / n), (float) (sy / n) };
    }

    int countNear (const juce::Image& image, juce::Colour target, int tolerance = 40)
    {
        int n = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                n += isNear (image.getPixelAt (x, y), target, tolerance) ? 1 : 0;
        return n;
    }

    bool sameRgb (juce::Colour a, juce::Colour b)
    {
        return a.getRed() == b.getRed() && a.getGreen() == b.getGreen() && a.getBlue() == b.getBlue();
    }
}

//==============================================================================
TEST (ActionMsg, TextIsSenderActionAndValue)
{
    struct Case { const char* sender; const char* action; int value; const char* text; };

    const Case cases[] = {
        { "filterGroup", "sliderChanged", -1, "filterGroup.sliderChanged.-1" },
        { "filterGroup", "sliderChanged", 0, "filterGroup.sliderChanged.0" },
        { "synth2_utilGroup", "btnClicked", 1, "synth2_utilGroup.btnClicked.1" },
        { "showScreenMap", "env1_mappedParam", -1, "showScreenMap.env1_mappedParam.-1" },
        { "motd", "t42-b", -1, "motd.t42-b.-1" },
        { "saveScreen", "exit", 12345, "saveScreen.exit.12345" },
    };

    for (const auto& c : cases)
    {
        const OAActionMsg msg (c.sender, c.action, c.value);
        EXPECT_EQ (msg.message, c.text);
        EXPECT_EQ (msg.sender, c.sender);
        EXPECT_EQ (msg.action, c.action);
        EXPECT_EQ (msg.value, c.value);
    }
}

//==============================================================================
TEST (Meter, SetValueLimitsToTheRange)
{
    const std::pair<float, float> cases[] = {
        { 1.7f, 1.0f }, { -0.2f, 0.0f }, { 0.3f, 0.3f }, { 1.0f, 1.0f },
        { std::numeric_limits<float>::quiet_NaN(), 0.0f },
        { std::numeric_limits<float>::infinity(), 1.0f },
        { -std::numeric_limits<float>::infinity(), 0.0f },
    };

    OAMeter meter;
    meter.setSize (100, 10);

    for (const auto& [in, stored] : cases)
    {
        meter.setValue (in);
        EXPECT_FLOAT_EQ (meter.value, stored) << in;
    }
}

TEST (Meter, RepaintsOnlyWhenTheDrawnLengthChanges)
{
    OAMeter meter;
    meter.setSize (100, 10);
    auto& repaints = countRepaints (meter);

    meter.setValue (0.5f);
    EXPECT_EQ (repaints.count, 1); // from full (100 px) to 50 px
    meter.setValue (0.501f);
    EXPECT_EQ (repaints.count, 1); // still 50 px
    meter.setValue (0.505f);
    EXPECT_EQ (repaints.count, 2); // 50.5 rounds away from zero to 51
    meter.setValue (7.0f);
    meter.setValue (1.0f);
    EXPECT_EQ (repaints.count, 3); // 7 is stored as 1: only the first moves

    // A vertical meter measures along its height.
    OAMeter vertical;
    vertical.mode = OAMeter::verticalBar;
    vertical.setSize (100, 10);
    auto& verticalRepaints = countRepaints (vertical);
    vertical.setValue (0.5f);
    EXPECT_EQ (verticalRepaints.count, 1);
    vertical.setValue (0.54f); // 5.4 px rounds to 5; along the width it would be 54 px
    EXPECT_EQ (verticalRepaints.count, 1);
}

TEST (Meter, DrawsEachModeFromItsOrigin)
{
    const auto fg = juce::Colours::white, bg = juce::Colours::black;

    auto draw = [&] (int mode, float value, int w, int h)
    {
        OAMeter meter;
        meter.mode = mode;
        meter.cornerSize = 0;
        meter.foreground = fg;
        meter.background = bg;
        meter.setSize (w, h);
        meter.setValue (value);
        return renderComponent (meter);
    };

    // Horizontal: the left half at 0.5.
    auto bar = draw (OAMeter::horizontalBar, 0.5f, 100, 10);
    EXPECT_TRUE (sameRgb (bar.getPixelAt (10, 5), fg));
    EXPECT_TRUE (sameRgb (bar.getPixelAt (60, 5), bg));

    // Vertical: grows down from the top.
    auto column = draw (OAMeter::verticalBar, 0.25f, 10, 100);
    EXPECT_TRUE (sameRgb (column.getPixelAt (5, 10), fg));
    EXPECT_TRUE (sameRgb (column.getPixelAt (5, 50), bg));

    // An unknown mode draws as a horizontal bar.
    auto unknown = draw (7, 0.5f, 100, 10);
    EXPECT_TRUE (sameRgb (unknown.getPixelAt (10, 5), fg));
    EXPECT_TRUE (sameRgb (unknown.getPixelAt (60, 5), bg));

    // Centred square at 0.5 of a 100 × 100 meter: (25, 25) to (75, 75).
    auto square = draw (OAMeter::centredSquare, 0.5f, 100, 100);
    EXPECT_TRUE (sameRgb (square.getPixelAt (50, 50), fg));
    EXPECT_TRUE (sameRgb (square.getPixelAt (27, 27), fg));
    EXPECT_TRUE (sameRgb (square.getPixelAt (20, 50), bg));

    // The circle's corners stay clear; at 0 nothing at all is drawn.
    auto circle = draw (OAMeter::centredCircle, 0.5f, 100, 100);
    EXPECT_TRUE (sameRgb (circle.getPixelAt (50, 50), fg));
    EXPECT_TRUE (sameRgb (circle.getPixelAt (27, 27), bg));

    auto empty = draw (OAMeter::centredCircle, 0.0f, 100, 100);
    EXPECT_EQ (countNear (empty, fg, 10), 0);
}

//==============================================================================
TEST (Slider, DotSitsOnTheTrackAtTheValue)
{
    struct Case { int w, h; double value; float cx, cy; };

    // Dot = centre + radius × (sin a, -cos a), a = v × 1.8π − (0.9π − 0.25),
    // centre and radius from the size less a 10-pixel margin, radius 3 in.
    const Case cases[] = {
        { 100, 100, 0.0, 50.0f + 37.0f * std::sin (-2.5774336f), 50.0f - 37.0f * std::cos (-2.5774336f) },
        { 100, 100, 1.0, 50.0f + 37.0f * std::sin (3.0774331f), 50.0f - 37.0f * std::cos (3.0774331f) },
        { 140, 100, 0.5, 70.0f + 37.0f * std::sin (0.25f), 50.0f - 37.0f * std::cos (0.25f) },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.w) + "x" + juce::String (c.h) + " at " + juce::String (c.value));
        OASlider slider;
        slider.setRange (0.0, 1.0);
        slider.setValue (c.value, juce::dontSendNotification);
        slider.setSize (c.w, c.h);
        slider.setColour (juce::Slider::thumbColourId, juce::Colours::red);
        slider.setColour (juce::Slider::rotarySliderOutlineColourId, juce::Colours::blue);
        slider.setColour (juce::Slider::rotarySliderFillColourId, juce::Colours::green);

        const auto image = renderComponent (slider);
        const auto dot = centroidOf (image, juce::Colours::red);
        EXPECT_NEAR (dot.x, c.cx, 0.5f);
        EXPECT_NEAR (dot.y, c.cy, 0.5f);

        const auto expected = OASlider::geometryFor ((float) c.w, (float) c.h, (float) c.value).dot;
        EXPECT_NEAR (expected.x, c.cx, 0.01f);
        EXPECT_NEAR (expected.y, c.cy, 0.01f);
    }
}

TEST (Slider, TrackAndIndicatorRadiiAndDisabledLook)
{
    OASlider slider;
    slider.setRange (0.0, 1.0);
    slider.setValue (0.5, juce::dontSendNotification);
    slider.setSize (100, 100);
    slider.setColour (juce::Slider::thumbColourId, juce::Colours::transparentBlack);
    slider.setColour (juce::Slider::rotarySliderOutlineColourId, juce::Colours::blue);
    slider.setColour (juce::Slider::rotarySliderFillColourId, juce::Colours::green);

    const auto image = renderComponent (slider);

    // Distances from the centre (50, 50) of the solid pixels of each colour.
    auto radiusRange = [&] (juce::Colour colour)
    {
        float lo = 1000.0f, hi = 0.0f;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                if (sameRgb (image.getPixelAt (x, y), colour) && image.getPixelAt (x, y).getAlpha() == 255)
                {
                    const auto d = juce::Point<float> (50.0f, 50.0f).getDistanceFrom ({ (float) x + 0.5f, (float) y + 0.5f });
                    lo = juce::jmin (lo, d);
                    hi = juce::jmax (hi, d);
                }
        return std::make_pair (lo, hi);
    };

    // The track, 6 wide around radius 37; the indicator 6 wide around 33 and
    // its thin arc 2 wide around 41.
    const auto track = radiusRange (juce::Colours::blue);
    EXPECT_NEAR (track.first, 34.0f, 1.0f);
    EXPECT_NEAR (track.second, 40.0f, 1.0f);

    const auto indicator = radiusRange (juce::Colours::green);
    EXPECT_NEAR (indicator.first, 30.0f, 1.0f);
    EXPECT_NEAR (indicator.second, 42.0f, 1.0f);

    // The track's gap is at the bottom; the value 0.5 indicator ends 0.25 rad
    // past twelve o'clock, so it covers the top right.
    EXPECT_TRUE (sameRgb (image.getPixelAt (50, 13), juce::Colours::blue) || sameRgb (image.getPixelAt (50, 13), juce::Colours::green));
    EXPECT_EQ (image.getPixelAt (50, 87).getAlpha(), 0);

    // Disabled: no indicator, but the dot stays.
    slider.setEnabled (false);
    slider.setColour (juce::Slider::thumbColourId, juce::Colours::red);
    const auto disabled = renderComponent (slider);
    EXPECT_EQ (countNear (disabled, juce::Colours::green, 10), 0);
    EXPECT_GT (countNear (disabled, juce::Colours::red, 10), 50);
}

//==============================================================================
TEST (Switch, FlipsBeforeItsListenersHearAndDrawsTheKnobOnItsSide)
{
    OASwitch sw;
    sw.setSize (64, 32);
    sw.frameColour = juce::Colours::black;
    sw.trackColour = juce::Colours::blue;
    sw.onKnobColour = juce::Colours::green;
    sw.offKnobColour = juce::Colours::red;

    struct Listener : juce::Button::Listener
    {
        void buttonClicked (juce::Button* b) override { seen.push_back (static_cast<OASwitch*> (b)->isOn); }
        std::vector<bool> seen;
    } listener;
    sw.addListener (&listener);

    auto off = renderComponent (sw);
    EXPECT_TRUE (sameRgb (off.getPixelAt (16, 16), juce::Colours::red));    // knob (8, 8, 16, 16)
    EXPECT_TRUE (sameRgb (off.getPixelAt (48, 16), juce::Colours::black));  // frame only on the right

    sw.triggerClick();
    ASSERT_TRUE (runMessagesUntil ([&] { return listener.seen.size() == 1; }));
    EXPECT_TRUE (sw.isOn);
    EXPECT_TRUE (listener.seen[0]);
    EXPECT_FALSE (sw.getToggleState()); // its own state, not the button's

    auto on = renderComponent (sw);
    EXPECT_TRUE (sameRgb (on.getPixelAt (48, 16), juce::Colours::green));   // knob (40, 8, 16, 16)
    EXPECT_TRUE (sameRgb (on.getPixelAt (16, 16), juce::Colours::blue));    // track across

    sw.triggerClick();
    ASSERT_TRUE (runMessagesUntil ([&] { return listener.seen.size() == 2; }));
    EXPECT_FALSE (sw.isOn);
    EXPECT_FALSE (listener.seen[1]);
    sw.removeListener (&listener);
}

//==============================================================================
TEST (VULogo, CopiesMoveApartWithTheLevelsAndTurnWarningColoursOnOverload)
{
    OAVULogo logo;
    logo.setSize (320, 150);

    // A logo of one opaque column, so each copy leaves one coloured column.
    juce::Image picture (juce::Image::ARGB, 160, 150, true);
    for (int y = 0; y < 150; ++y)
        picture.setPixelAt (0, y, juce::Colours::white);
    logo.logo = picture;
    logo.colourA = juce::Colours::red;
    logo.colourB = juce::Colours::green;
    logo.colourC = juce::Colours::blue;

    // base = W/4 = 80, unit = W/32 = 10.
    logo.levelL = 1.0f;
    logo.levelR = 0.5f;
    auto image = renderComponent (logo);
    auto expectColumn = [&] (int x, juce::Colour colour, int alpha)
    {
        const auto p = image.getPixelAt (x, 10);
        EXPECT_NEAR (p.getAlpha(), alpha, 1) << x;
        EXPECT_NEAR (p.getRed(), colour.getRed(), 3) << x;
        EXPECT_NEAR (p.getGreen(), colour.getGreen(), 3) << x;
        EXPECT_NEAR (p.getBlue(), colour.getBlue(), 3) << x;
    };

    expectColumn (90, juce::Colours::red, 191);  // first copy, 0.75 opaque, pushed right by levelL
    expectColumn (75, juce::Colours::green, 128); // second, 0.5, pushed left by levelR
    expectColumn (80, juce::Colours::blue, 64);   // third, 0.25, in place
    EXPECT_EQ (image.getPixelAt (85, 10).getAlpha(), 0);

    logo.overload = true;
    image = renderComponent (logo);
    expectColumn (90, juce::Colours::red, 191);
    expectColumn (75, juce::Colours::yellow, 128);
    expectColumn (80, juce::Colours::yellow, 64);

    // A resize makes the picture square, half the width.
    logo.logo = juce::Image (juce::Image::ARGB, 300, 200, true);
    logo.setSize (300, 300);
    EXPECT_EQ (logo.logo.getWidth(), 150);
    EXPECT_EQ (logo.logo.getHeight(), 150);
}

//==============================================================================
TEST (ScanLines, LinesFollowTheParentAndTheOffset)
{
    juce::Component parent;
    Shade shade;
    parent.setVisible (true);
    parent.addAndMakeVisible (shade);

    // Less than 16 pixels high: only the dimming fill.
    parent.setSize (60, 12);
    shade.setBounds (0, 0, 60, 12);
    auto flat = renderComponent (shade);
    for (int y = 0; y < 12; ++y)
        EXPECT_EQ (flat.getPixelAt (30, y), juce::Colour::fromRGBA (0, 0, 0, 100)) << y;

    parent.setSize (60, 48);
    shade.setBounds (0, 0, 60, 48);
    shade.offset = 5;
    auto lines = renderComponent (shade);
    const auto plain = juce::Colour::fromRGBA (0, 0, 0, 100);
    EXPECT_GT (lines.getPixelAt (30, 5).getGreen(), lines.getPixelAt (30, 5).getRed());   // green at 0 + 5
    EXPECT_GT (lines.getPixelAt (30, 21).getGreen(), lines.getPixelAt (30, 21).getRed()); // and 16 + 5
    EXPECT_GT (lines.getPixelAt (30, 17).getRed(), lines.getPixelAt (30, 17).getBlue());  // orange at 17
    EXPECT_EQ (lines.getPixelAt (30, 10), plain);

    // The scope's scan lines let clicks through to the scope under them.
    juce::Component scope;
    ScopeScan scan;
    parent.addAndMakeVisible (scope);
    parent.addAndMakeVisible (scan);
    scope.setBounds (10, 10, 30, 30);
    scan.setBounds (10, 10, 30, 30);
    EXPECT_EQ (parent.getComponentAt (20, 20), &scope);
    EXPECT_EQ (parent.getComponentAt (5, 5), &shade); // the shade takes the clicks it covers
}

//==============================================================================
namespace
{
    struct GroupRig
    {
        explicit GroupRig (std::vector<juce::String> idList, const juce::String& name = "testGroup")
            : ids (std::move (idList)),
              group (name, rig.proc, ids.data(), (int) ids.size())
        {
            group.addActionListener (&recorder);
        }

        ~GroupRig() { group.removeActionListener (&recorder); }

        juce::RangedAudioParameter& param (const juce::String& id) { return *rig.proc.apvts.getParameter (id); }

        ProcessorRig rig;
        std::vector<juce::String> ids;
        SliderGroup group;
        ActionRecorder recorder;
    };
}

TEST (SliderGroup, LaysOutKnobsAndButtonsForBothModes)
{
    GroupRig g ({ "cutoff", "res" }, "filterGroup");
    g.group.setSize (239, 100);

    EXPECT_EQ (g.group.sliderCount, 2);
    EXPECT_EQ (g.group.cols, 2);
    EXPECT_EQ (g.group.rows, 1);
    EXPECT_EQ (g.group.sliders[0].getBounds(), juce::Rectangle<int> (19, 9, 100, 100));
    EXPECT_EQ (g.group.sliders[1].getBounds(), juce::Rectangle<int> (129, 9, 100, 100));
    EXPECT_EQ (g.group.buttons[0].getBounds(), juce::Rectangle<int> (63, 85, 12, 12));
    EXPECT_EQ (g.group.buttons[1].getBounds(), juce::Rectangle<int> (173, 85, 12, 12));
    EXPECT_EQ (g.group.sliders[0].getSliderStyle(), juce::Slider::RotaryVerticalDrag);
    EXPECT_EQ (g.group.sliders[0].getTextBoxPosition(), juce::Slider::NoTextBox);

    // Only the knobs in use are children; the buttons wait hidden.
    EXPECT_EQ (g.group.getNumChildComponents(), 4);
    EXPECT_FALSE (g.group.buttons[0].isVisible());
    EXPECT_EQ (g.group.altLabels, juce::StringArray ("unset", "unset"));

    g.group.setSliderMode (SliderGroup::numberMode);
    EXPECT_EQ (g.group.buttons[0].getBounds(), juce::Rectangle<int> (63, 70, 12, 12));
    EXPECT_EQ (g.group.buttons[1].getBounds(), juce::Rectangle<int> (173, 70, 12, 12));
    EXPECT_EQ (g.group.sliders[1].getSliderStyle(), juce::Slider::LinearHorizontal);
    EXPECT_EQ (g.group.sliders[1].getTextBoxPosition(), juce::Slider::TextBoxBelow);
    EXPECT_TRUE (g.group.sliders[1].isTextBoxEditable());

    g.group.setSliderMode (SliderGroup::knobMode);
    EXPECT_EQ (g.group.buttons[1].getBounds(), juce::Rectangle<int> (173, 85, 12, 12));
    EXPECT_EQ (g.group.sliders[1].getTextBoxPosition(), juce::Slider::NoTextBox);
}

TEST (SliderGroup, ValueColourFadesFromLowToHigh)
{
    GroupRig g ({ "cutoff", "res" });
    g.group.setBaseTheme();

    auto fill = [&] (int i) { return g.group.sliders[(size_t) i].findColour (juce::Slider::rotarySliderFillColourId); };

    g.param ("cutoff").setValueNotifyingHost (0.5f);
    EXPECT_EQ (fill (0), juce::Colour (111, 197, 123)); // halfway between #de8c38 and #00ffbe
    EXPECT_EQ (g.group.sliders[0].findColour (juce::Slider::trackColourId), juce::Colour (111, 197, 123));

    g.param ("cutoff").setValueNotifyingHost (0.0f);
    EXPECT_EQ (fill (0), juce::Colour (0xffde8c38));
    g.param ("cutoff").setValueNotifyingHost (1.0f);
    EXPECT_EQ (fill (0), juce::Colour (0xff00ffbe));

    // The alternative colouring: accent 2 at the top, bg2 10 at the bottom.
    g.group.setAltTheme();
    EXPECT_EQ (g.group.valueHighColour, juce::Colour (160, 160, 160));
    EXPECT_EQ (g.group.valueLowColour, juce::Colour (255, 255, 104));
    EXPECT_EQ (fill (0), juce::Colour (160, 160, 160));
    EXPECT_EQ (g.group.sliders[1].findColour (juce::Slider::rotarySliderOutlineColourId), juce::Colour (0xff261f1f)); // bg 4
}

TEST (SliderGroup, KnobAndParameterFollowEachOther)
{
    GroupRig g ({ "synth1_volume", "synth2_volume" }, "synth1_utilGroup");
    g.rig.set ("synth2_volume", 0.0f);
    auto& knob = g.group.sliders[0];

    const auto loud = g.rig.renderHeld ({ 60 }, 4800).getRMSLevel (0, 0, 4800);
    ASSERT_GT (loud, 0.01f);

    // A knob moved as the mouse moves it changes the parameter and the sound.
    knob.setValue (0.1, juce::sendNotificationSync);
    EXPECT_NEAR (g.param ("synth1_volume").getValue(), 0.1f, 1.0e-6f);
    const auto quiet = g.rig.renderHeld ({ 60 }, 4800).getRMSLevel (0, 2400, 2400);
    EXPECT_LT (quiet, loud * 0.5f);

    ASSERT_TRUE (runMessagesUntil ([&] { return g.recorder.messages.contains ("synth1_utilGroup.sliderChanged.-1"); }));

    // A host or patch change moves the knob: at once on the message thread...
    g.param ("synth1_volume").setValueNotifyingHost (0.8f);
    EXPECT_NEAR (knob.getValue(), 0.8, 1.0e-6);

    // ...and from another thread once the message thread has caught up.
    std::thread automation ([&] { g.param ("synth2_volume").setValueNotifyingHost (0.25f); });
    automation.join();
    ASSERT_TRUE (runMessagesUntil ([&] { return std::abs (g.group.sliders[1].getValue() - 0.25) < 1.0e-6; }));
    EXPECT_EQ (g.group.sliders[1].findColour (juce::Slider::rotarySliderFillColourId),
               SliderGroup::blendValueColour (g.group.valueLowColour, g.group.valueHighColour, 0.25f));
}

TEST (SliderGroup, ButtonsSendTheirIndex)
{
    GroupRig g ({ "synth2_noise", "synth2_volume" }, "synth2_utilGroup");
    g.group.buttons[1].setVisible (true);
    runPendingMessages();
    g.recorder.messages.clear();

    g.group.buttons[1].triggerClick();
    ASSERT_TRUE (runMessagesUntil ([&] { return ! g.recorder.messages.isEmpty(); }));
    EXPECT_EQ (g.recorder.messages, juce::StringArray ("synth2_utilGroup.btnClicked.1"));
}

TEST (SliderGroup, TitleBarOnlyWithATitle)
{
    GroupRig g ({ "cutoff", "res" });
    g.group.setSize (239, 100);

    // The bar would span (40, 0) to (199, 20); (45, 2) is bar and nothing else.
    auto untitled = renderComponent (g.group);
    EXPECT_EQ (untitled.getPixelAt (45, 2).getAlpha(), 0);

    g.group.title = "filter";
    auto titled = renderComponent (g.group);
    EXPECT_GT (titled.getPixelAt (45, 2).getAlpha(), 100);
    EXPECT_EQ (titled.getPixelAt (35, 2).getAlpha(), 0);

    // A single knob's bar is inset by one spacing only.
    GroupRig single ({ "adsrTime" });
    single.group.setSize (129, 100);
    single.group.title = "adsr time";
    auto narrow = renderComponent (single.group);
    EXPECT_GT (narrow.getPixelAt (12, 2).getAlpha(), 100);
    EXPECT_EQ (narrow.getPixelAt (8, 2).getAlpha(), 0);
}
