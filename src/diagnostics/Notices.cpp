#include "Notices.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>

namespace
{
    void showMessageBox (const Notice& notice)
    {
        juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::NoIcon, notice.title, notice.text, notice.button);
    }

    Notices::Handler& currentHandler()
    {
        static Notices::Handler handler;
        return handler;
    }
}

void Notices::show (const juce::String& title, const juce::String& text, const juce::String& button)
{
    const Notice notice { title, text, button };

    if (auto& handler = currentHandler())
        handler (notice);
    else
        showMessageBox (notice);
}

void Notices::setHandler (Handler handler)
{
    currentHandler() = std::move (handler);
}

Notices::Handler Notices::toStandardError()
{
    return [] (const Notice& notice) { std::cerr << notice.title << ": " << notice.text << std::endl; };
}
