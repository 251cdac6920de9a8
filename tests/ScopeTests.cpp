// The oscilloscope: frames from the scope queues, spectra, locking, drawing.

#include "ProcessorFixture.h"
#include "UiTestSupport.h"
#include "ui/OAScopeComponent.h"
#include "ui/OATheme.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace
{
    using Scope = OAScopeComponent<float>;

    ScopeFifo::Frame sineFrame (double cyclesPerFrame, float amplitude, double phase = 0.0)
    {
        ScopeFifo::Frame f {};
        for (int i = 0; i < ScopeFifo::frameSize; ++i)
            f[(size_t) i] = amplitude * (float) std::sin (juce::MathConstants<double>::twoPi * cyclesPerFrame * i / ScopeFifo::frameSize + phase);
        return f;
    }

    // The height of silence in the spectrum: -100 dB against 20 log10(512).
    const float silentHeight = (160.0f - 100.0f - 20.0f * std::log10 (512.0f)) / 160.0f;

    void click (juce::Component& c)
    {
        const auto now = juce::Time::getCurrentTime();
        const juce::Point<float> at (5.0f, 5.0f);
        c.mouseDown (juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), at, {}, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                                       &c, &c, now, at, now, 1, false));
    }

    // Traces are thin and anti-aliased: told apart by their dominant channels.
    bool isOrangeish (juce::Colour p) { return p.getRed() > 50 && p.getRed() > 2 * p.getBlue(); }
    bool isLit (juce::Colour p) { return p.getRed() + p.getGreen() + p.getBlue() > 90; }

    /** The topmost row in column x (within rows from..to) whose pixel passes; -1 when none. */
    template <typename Test>
    int topmostRow (const juce::Image& image, int x, Test test, int from, int to)
    {
        for (int y = from; y < to; ++y)
            if (test (image.getPixelAt (x, y)))
                return y;
        return -1;
    }

    /** The two queues and a scope of the editor's size reading them, with
        colours that are easy to tell apart. */
    struct ScopeRig
    {
        ScopeRig()
        {
            scope.setSize (180, 180);
            scope.stopTimer(); // the tests tick by hand
            scope.traceColourL = juce::Colours::orange;
            scope.traceColourR = juce::Colours::cyan;
            scope.backgroundColour = juce::Colours::black;
            scope.frameColour = juce::Colours::black;
            scope.intensity = 1.0f;
        }

        ScopeFifo left, right;
        Scope scope { left, right };
    };
}

TEST (Scope, StartsWithAFlatLineAndTheSpectrumOfSilence)
{
    ScopeRig rig;

    for (auto s : rig.scope.samplesL)
        ASSERT_EQ (s, 0.0f);

    for (auto* spectrum : { &rig.scope.spectrumL, &rig.scope.spectrumR })
        for (auto v : *spectrum)
            ASSERT_NEAR (v, silentHeight, 1.0e-4f);

    EXPECT_NEAR (silentHeight, 0.0363f, 1.0e-3f);

    // The waveform row is H/4, the spectrum row H - 1 - 0.036 of the lower half.
    const auto image = renderComponent (rig.scope);
    EXPECT_NE (topmostRow (image, 90, isLit, 40, 50), -1);
    const auto spectrumRow = topmostRow (image, 90, isLit, 91, 180);
    EXPECT_NEAR (spectrumRow, 179 - silentHeight * 90.0f, 1.5);
}

TEST (Scope, EachTickTakesOneFrameOfEachChannelAndKeepsTheLastWhenNoneWaits)
{
    ScopeRig rig;
    const auto a = sineFrame (4.0, 0.5f), b = sineFrame (8.0, 0.25f), c = sineFrame (2.0, 0.75f);
    rig.left.push (a);
    rig.left.push (b);
    rig.right.push (c);

    rig.scope.timerCallback();
    EXPECT_EQ (rig.scope.samplesL, a);
    EXPECT_EQ (rig.scope.samplesR, c);
    EXPECT_EQ (rig.left.getNumReady(), 1);
    EXPECT_EQ (rig.right.getNumReady(), 0);

    rig.scope.timerCallback();
    EXPECT_EQ (rig.scope.samplesL, b);
    EXPECT_EQ (rig.scope.samplesR, c);

    rig.scope.timerCallback(); // nothing waits: the picture stays
    EXPECT_EQ (rig.scope.samplesL, b);
    EXPECT_EQ (rig.scope.samplesR, c);
}

TEST (Scope, RepaintsOnlyWhenSomethingChanged)
{
    ScopeRig rig;
    auto& repaints = countRepaints (rig.scope);

    rig.scope.timerCallback();
    EXPECT_EQ (repaints.count, 0) << "no frame, no change";

    rig.right.push (sineFrame (4.0, 0.5f));
    rig.scope.timerCallback();
    EXPECT_EQ (repaints.count, 1);
}

TEST (Scope, AClickLocksThePictureAndASecondLetsTheNextTickRefreshIt)
{
    ScopeRig rig;
    auto& repaints = countRepaints (rig.scope);
    const auto before = renderComponent (rig.scope);

    click (rig.scope);
    EXPECT_TRUE (rig.scope.locked);
    EXPECT_EQ (repaints.count, 1) << "LOCKED shows at once";

    const auto locked = renderComponent (rig.scope);
    int changed = 0;
    for (int y = 160; y < 180; ++y)
        for (int x = 0; x < 180; ++x)
            changed += locked.getPixelAt (x, y) != before.getPixelAt (x, y) ? 1 : 0;
    EXPECT_GT (changed, 50) << "the LOCKED text in the bottom row";

    const auto frame = sineFrame (4.0, 0.5f);
    rig.left.push (frame);
    rig.scope.timerCallback();
    EXPECT_EQ (rig.left.getNumReady(), 1) << "nothing is taken while locked";
    EXPECT_EQ (rig.scope.samplesL[10], 0.0f);

    click (rig.scope);
    EXPECT_FALSE (rig.scope.locked);
    const auto afterUnlock = repaints.count;
    rig.scope.timerCallback();
    EXPECT_EQ (rig.scope.samplesL, frame);
    EXPECT_EQ (repaints.count, afterUnlock + 1);

    // Unlocked with nothing new: the tick after unlocking still repaints once.
    click (rig.scope);
    click (rig.scope);
    const auto n = repaints.count;
    rig.scope.timerCallback();
    rig.scope.timerCallback();
    EXPECT_EQ (repaints.count, n + 1);
}

TEST (Scope, TheSpectrumPeaksAtTheSineFrequency)
{
    ScopeRig rig;
    rig.left.push (sineFrame (16.0, 1.0f));
    rig.right.push (sineFrame (40.0, 0.01f));
    rig.scope.timerCallback();

    const auto& l = rig.scope.spectrumL;
    const auto& r = rig.scope.spectrumR;
    const auto peakL = (int) (std::max_element (l.begin(), l.begin() + 256) - l.begin());
    const auto peakR = (int) (std::max_element (r.begin(), r.begin() + 256) - r.begin());
    EXPECT_EQ (peakL, 16);
    EXPECT_EQ (peakR, 40);

    // A unit sine reads about -6 dB (half the window's sum), 0.01 is 40 dB lower.
    EXPECT_NEAR (l[16], (160.0f - 6.02f) / 160.0f, 0.01f);
    EXPECT_NEAR (r[40], (160.0f - 46.02f) / 160.0f, 0.01f);
    EXPECT_LT (l[100], 0.5f);

    for (auto v : l)
        ASSERT_TRUE (v >= 0.0f && v <= 1.0f);

    // Drawn: the left trace rises highest in the column of bin 16 (x = 16 W / 255).
    const auto image = renderComponent (rig.scope);
    const auto peakColumn = juce::roundToInt (16.0 * 180.0 / 255.0);
    const auto peakRow = topmostRow (image, peakColumn, isOrangeish, 91, 180);
    const auto farRow = topmostRow (image, 150, isLit, 91, 180);
    ASSERT_NE (peakRow, -1);
    EXPECT_LT (peakRow, 179 - 0.9 * 90);
    EXPECT_GT (farRow, peakRow + 30);

    // The waveform: a unit sine spans 0.49 of the upper half around H/4.
    int highest = 180, lowest = -1;
    for (int x = 0; x < 180; ++x)
        for (int y = 0; y < 90; ++y)
            if (isOrangeish (image.getPixelAt (x, y)))
            {
                highest = juce::jmin (highest, y);
                lowest = juce::jmax (lowest, y);
            }
    EXPECT_NEAR (highest, 45 - 0.49 * 90, 2.0);
    EXPECT_NEAR (lowest, 45 + 0.49 * 90, 2.0);
}

TEST (Scope, PaintsAtAnySizeAndWithOddSamples)
{
    ScopeRig rig;
    auto frame = sineFrame (3.0, 20.0f); // far beyond full scale
    frame[7] = std::numeric_limits<float>::quiet_NaN();
    frame[8] = std::numeric_limits<float>::infinity();
    rig.left.push (frame);
    rig.scope.timerCallback();

    for (auto v : rig.scope.spectrumL)
        ASSERT_TRUE (std::isfinite (v) && v >= 0.0f && v <= 1.0f);

    for (auto size : { juce::Point<int> (180, 180), { 0, 0 }, { 1, 1 }, { 2000, 30 } })
    {
        rig.scope.setSize (size.x, size.y);
        renderComponent (rig.scope);
    }

    // Intensity 0: outline and waveforms vanish, the spectra lie on the bottom row.
    rig.scope.setSize (180, 180);
    rig.scope.intensity = 0.0f;
    const auto image = renderComponent (rig.scope);
    for (int y = 0; y < 178; ++y)
        for (int x = 0; x < 180; ++x)
            ASSERT_EQ (image.getPixelAt (x, y).getARGB(), juce::Colours::black.getARGB()) << x << "," << y;
    EXPECT_NE (image.getPixelAt (90, 179).getARGB(), juce::Colours::black.getARGB());
}

// With the processor: a held note's triggered frames reach the scope.
TEST (Scope, ShowsTheProcessorsOutput)
{
    ProcessorRig rig;
    Scope scope (rig.proc);
    scope.stopTimer();

    rig.renderHeld ({ 69 }, 48000);
    ASSERT_GT (rig.proc.scopeFifos[0].getNumReady(), 0);
    ASSERT_GT (rig.proc.scopeFifos[1].getNumReady(), 0);

    scope.timerCallback();

    const auto peak = [] (const std::array<float, 512>& s)
    {
        float p = 0.0f;
        for (auto x : s)
            p = juce::jmax (p, std::abs (x));
        return p;
    };

    EXPECT_GT (peak (scope.samplesL), 0.01f);
    EXPECT_GT (peak (scope.samplesR), 0.01f);
}

// Not a check: a picture of the scope with the editor's colours, for people
// to look at, written where KORVANE_SCREENSHOT_DIR says.
TEST (Scope, Screenshot)
{
    const auto* dir = std::getenv ("KORVANE_SCREENSHOT_DIR");

    if (dir == nullptr)
        GTEST_SKIP() << "set KORVANE_SCREENSHOT_DIR to write displays-scope.png";

    OATheme theme;
    ScopeRig rig;
    rig.scope.backgroundColour = theme.getBg (1.0f);
    rig.scope.traceColourL = theme.getMain (2.0f);
    rig.scope.traceColourR = OAPallet::buildColour (theme.pallets[theme.currentTheme].accent, 8.0f);
    rig.scope.frameColour = theme.getBg (1.0f);

    auto left = sineFrame (3.0, 0.8f);
    auto right = sineFrame (6.0, 0.4f, 1.0);
    for (int i = 0; i < ScopeFifo::frameSize; ++i)
        right[(size_t) i] += 0.2f * (float) std::sin (juce::MathConstants<double>::twoPi * 45.0 * i / ScopeFifo::frameSize);
    rig.left.push (left);
    rig.right.push (right);
    rig.scope.timerCallback();

    const auto image = renderComponent (rig.scope);
    juce::File file (juce::File (dir).getChildFile ("displays-scope.png"));
    file.deleteFile();
    juce::FileOutputStream out (file);
    ASSERT_TRUE (out.openedOk());
    EXPECT_TRUE (juce::PNGImageFormat().writeImageToStream (image.rescaled (360, 360, juce::Graphics::lowResamplingQuality), out));
}
