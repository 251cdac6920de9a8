#pragma once

#include <juce_core/juce_core.h>

#include <functional>

/** A notice for the user: title, text and the text of the button that
    closes it. A notice may also offer to do something: then actionButton is
    the text of a second button, shown first, that runs action. */
struct Notice
{
    juce::String title, text, button;
    juce::String actionButton;
    std::function<void()> action;
};

/** Where the program's notices go. The app shows them as asynchronous
    message boxes without icon; headless programs (the renderer, the tests)
    install a handler that prints or records them instead (a recording
    handler can press the action button by calling the notice's action). */
namespace Notices
{
    using Handler = std::function<void (const Notice&)>;

    /** Shows a notice through the current handler (message thread only). */
    void show (const juce::String& title, const juce::String& text, const juce::String& button);

    /** A notice with two buttons: actionButton runs action, button only closes it. */
    void offer (const juce::String& title, const juce::String& text,
                const juce::String& actionButton, std::function<void()> action, const juce::String& button);

    /** Replaces the handler; an empty handler restores the message-box one. */
    void setHandler (Handler handler);

    /** A handler that writes "title: text" to stderr, for headless programs. */
    Handler toStandardError();
}
