// The test host's own X11 work, kept apart from the rest: the X headers'
// macros (None, Bool, Status...) clash with names elsewhere.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "HostX11.h"

#include <atomic>
#include <iostream>

namespace
{
    std::atomic<int> xErrors { 0 }, unknownPropertyNames { 0 };

    // A host keeps running through X errors (Xlib's default handler would end
    // the process at the first one); every one is counted and the first few
    // printed. A property asked for by a name the display does not know
    // (atom None, BadAtom) is counted apart: the window-manager names are
    // only known to a display that runs a window manager.
    int countXError (::Display*, XErrorEvent* event)
    {
        if (event->error_code == BadAtom && event->resourceid == 0)
        {
            ++unknownPropertyNames;
            return 0;
        }

        if (xErrors++ < 20)
            std::cout << "     X error: code " << (int) event->error_code << ", request " << (int) event->request_code
                      << "." << (int) event->minor_code << ", resource " << (unsigned long) event->resourceid << std::endl;
        return 0;
    }
}

namespace HostX11
{
    void countXErrors()
    {
        juce::XWindowSystem::getInstance(); // loads the X symbols
        juce::X11Symbols::getInstance()->xSetErrorHandler (countXError);
    }

    int xErrorCount() { return xErrors.load(); }
    int unknownPropertyNameCount() { return unknownPropertyNames.load(); }

    juce::Image grabWindow (void* nativeHandle, juce::Rectangle<int> area)
    {
        auto* display = juce::XWindowSystem::getInstance()->getDisplay();
        auto* x = juce::X11Symbols::getInstance();

        if (display == nullptr || nativeHandle == nullptr || area.isEmpty())
            return {};

        juce::XWindowSystemUtilities::ScopedXLock xLock;
        x->xSync (display, False);

        // On a server without compositing the window's pixels include those
        // of the child windows a plug-in embeds in it.
        auto* ximage = x->xGetImage (display, (::Window) (juce::pointer_sized_uint) nativeHandle, area.getX(), area.getY(),
                                     (unsigned int) area.getWidth(), (unsigned int) area.getHeight(), AllPlanes, ZPixmap);

        if (ximage == nullptr)
            return {};

        juce::Image image (juce::Image::RGB, area.getWidth(), area.getHeight(), false);
        {
            juce::Image::BitmapData pixels (image, juce::Image::BitmapData::writeOnly);

            for (int yy = 0; yy < area.getHeight(); ++yy)
                for (int xx = 0; xx < area.getWidth(); ++xx)
                {
                    const auto p = XGetPixel (ximage, xx, yy);
                    pixels.setPixelColour (xx, yy, juce::Colour ((juce::uint8) ((p & ximage->red_mask) >> 16),
                                                                 (juce::uint8) ((p & ximage->green_mask) >> 8),
                                                                 (juce::uint8) (p & ximage->blue_mask)));
                }
        }

        x->xDestroyImage (ximage);
        return image;
    }
}
