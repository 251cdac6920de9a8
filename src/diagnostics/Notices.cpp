#include "Notices.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>

namespace
{
    void showMessageBox (const Notice& notice)
    {
        if (! notice.action)
        {
            juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::NoIcon, notice.title, notice.text, notice.button);
            return;
        }

        // With two buttons the first answers 1 (and Return), the second 0 (and Escape).
        const auto options = juce::MessageBoxOptions()
                                 .withIconType (juce::MessageBoxIconType::NoIcon)
                                 .withTitle (notice.title)
                                 .withMessage (notice.text)
                                 .withButton (notice.actionButton)
                                 .withButton (notice.button);

        juce::AlertWindow::showAsync (options, [action = notice.action] (int result) {
            if (result == 1)
                action();
        });
    }

    Notices::Handler& currentHandler()
    {
        static Notices::Handler handler;
        return handler;
    }

    void deliver (const Notice& notice)
    {
        if (auto& handler = currentHandler())
            handler (notice);
        else
            showMessageBox (notice);
    }
}

void Notices::show (const juce::String& title, const juce::String& text, const juce::String& button)
{
    deliver ({ title, text, button, {}, {} });
}

void Notices::offer (const juce::String& title, const juce::String& text,
                     const juce::String& actionButton, std::function<void()> action, const juce::String& button)
{
    deliver ({ title, text, button, actionButton, std::move (action) });
}

void Notices::setHandler (Handler handler)
{
    currentHandler() = std::move (handler);
}

Notices::Handler Notices::toStandardError()
{
    return [] (const Notice& notice) { std::cerr << notice.title << ": " << notice.text << std::endl; };
}
