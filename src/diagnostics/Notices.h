#pragma once

#include <juce_core/juce_core.h>

#include <functional>

/** A notice for the user: title, text and the text of its one button. */
struct Notice
{
    juce::String title, text, button;
};

/** Where the program's notices go. The app shows them as asynchronous
    message boxes without icon; headless programs (the renderer, the tests)
    install a handler that prints or records them instead. */
namespace Notices
{
    using Handler = std::function<void (const Notice&)>;

    /** Shows a notice through the current handler (message thread only). */
    void show (const juce::String& title, const juce::String& text, const juce::String& button);

    /** Replaces the handler; an empty handler restores the message-box one. */
    void setHandler (Handler handler);

    /** A handler that writes "title: text" to stderr, for headless programs. */
    Handler toStandardError();
}
