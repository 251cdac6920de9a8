#include "diagnostics/Notices.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cstdlib>
#include <string>

// Each test process gets a fresh, empty home folder so that nothing a test does
// reaches the developer's own ~/OrbelAudio or ~/.config.
static std::string makeTemporaryHome()
{
    std::string pattern = "/tmp/korvane-test-home-XXXXXX";
    if (mkdtemp (pattern.data()) == nullptr)
        std::abort();
    setenv ("HOME", pattern.c_str(), 1);
    return pattern;
}

int main (int argc, char** argv)
{
    const auto home = makeTemporaryHome();
    testing::InitGoogleTest (&argc, argv);

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        Notices::setHandler (Notices::toStandardError()); // tests never open message boxes
        result = RUN_ALL_TESTS();
    }

    juce::File (home).deleteRecursively();
    return result;
}
