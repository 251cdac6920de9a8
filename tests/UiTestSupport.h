#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace juce
{
    // The framework's own step of its dispatch loop (the library is built
    // without modal loops, so runDispatchLoopUntil is not there).
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

/** Lets X errors pass as the standalone app does (the framework installs
    its handlers only there); a test process otherwise keeps Xlib's default
    handler, which ends the process at the first one, and windows on a
    display without a window manager raise some. Call before putting a
    component on the desktop. */
void ignoreXErrorsLikeTheStandalone();

/** Delivers pending messages (action messages, async updates, clicks) until
    the condition holds; false when it still does not after maxWaitMs. */
template <typename Condition>
bool runMessagesUntil (Condition condition, int maxWaitMs = 5000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) maxWaitMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;

        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
    }

    return true;
}

/** Delivers whatever is pending now. */
inline void runPendingMessages()
{
    for (int i = 0; i < 1000 && juce::dispatchNextMessageOnSystemQueue (true); ++i) {}
}

/** The component drawn on its own into a fresh transparent image. */
inline juce::Image renderComponent (juce::Component& component)
{
    juce::Image image (juce::Image::ARGB, juce::jmax (1, component.getWidth()), juce::jmax (1, component.getHeight()), true);
    juce::Graphics g (image);
    component.paintEntireComponent (g, true);
    return image;
}

/** Counts the repaints a component asks for: every repaint() of a visible
    component reaches its cached image first. */
struct RepaintCounter : juce::CachedComponentImage
{
    void paint (juce::Graphics&) override {}
    bool invalidateAll() override { ++count; return false; }
    bool invalidate (const juce::Rectangle<int>&) override { ++count; return false; }
    void releaseResources() override {}

    int count = 0;
};

/** Makes the component visible and counts its repaints from now on (the
    component owns the counter). */
inline RepaintCounter& countRepaints (juce::Component& component)
{
    auto* counter = new RepaintCounter();
    component.setVisible (true);
    component.setCachedComponentImage (counter);
    counter->count = 0;
    return *counter;
}

/** Collects the texts an action broadcaster sends. */
struct ActionRecorder : juce::ActionListener
{
    void actionListenerCallback (const juce::String& message) override { messages.add (message); }
    juce::StringArray messages;
};
