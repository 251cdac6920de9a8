// The message-of-the-day screen: its request, the start-up decision, its
// buttons, layout and drawing.

#include "LoopbackServer.h"
#include "UiTestSupport.h"
#include "editor/OAMotdScreen.h"

#include <gtest/gtest.h>

#include <iostream>

#include <cstdlib>

namespace
{
    /** Restores the base URL that new screens use. */
    struct BaseUrlGuard
    {
        ~BaseUrlGuard() { OAMotdScreen::setBaseUrl (saved); }
        const juce::String saved = OAMotdScreen::getBaseUrl();
    };

    bool hasBuiltInTexts (const OAMotdScreen& s)
    {
        return s.headline == "motd" && s.bodyText == "Can't reach OrbelAudio Servers..."
            && s.moreInfoUrl == OAMotdMessage().moreInfoUrl && s.tag == "unset";
    }
}

TEST (MotdScreen, BuiltInTextsAndTheRequestAddress)
{
    OAMotdScreen screen;
    EXPECT_TRUE (hasBuiltInTexts (screen));
    EXPECT_EQ (screen.productKey, "korvane");
    EXPECT_EQ (screen.requestUrl, juce::String (OAMotdScreen::defaultBaseUrl) + "korvane.txt");
    EXPECT_TRUE (screen.requestUrl.startsWith ("https://"));

    OAMotdScreen other ("http://127.0.0.1:9/motd/");
    EXPECT_EQ (other.requestUrl, "http://127.0.0.1:9/motd/korvane.txt");

    BaseUrlGuard guard;
    OAMotdScreen::setBaseUrl ("http://127.0.0.1:9/x/");
    OAMotdScreen redirected;
    EXPECT_EQ (redirected.requestUrl, "http://127.0.0.1:9/x/korvane.txt");
}

TEST (MotdScreen, RepliesFromALoopbackServer)
{
    keepLoopbackDirect();

    struct Case { const char* what; int status; std::string body; LoopbackServer::Mode mode; bool taken; };
    const Case cases[] {
        { "a good reply", 200, "Welcome|New patches are out|https://example.invalid/n|t42", LoopbackServer::Mode::answer, true },
        { "404", 404, "Welcome|New patches are out|https://example.invalid/n|t42", LoopbackServer::Mode::answer, false },
        { "three fields", 200, "Welcome|New|t42", LoopbackServer::Mode::answer, false },
        { "five fields", 200, "a|b|c|d|e", LoopbackServer::Mode::answer, false },
        { "oversize", 200, "Welcome|" + std::string (OAMotdMessage::maxBodyBytes, 'x') + "|u|t42", LoopbackServer::Mode::answer, false },
        { "trickle", 200, {}, LoopbackServer::Mode::trickleBody, false },
        { "silent", 200, {}, LoopbackServer::Mode::silent, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        LoopbackServer server (c.status, c.body, c.mode);
        ASSERT_TRUE (server.isListening());

        OAMotdScreen screen (server.baseUrl());
        const auto start = juce::Time::getMillisecondCounterHiRes();
        screen.requestMotd();
        const auto elapsed = juce::Time::getMillisecondCounterHiRes() - start;

        EXPECT_EQ (server.firstRequestLine(), "GET /korvane.txt HTTP/1.1");
        std::cout << "  the window waited " << juce::roundToInt (elapsed) << " ms (bound " << OAMotdMessage::totalTimeoutMs << " ms)\n";
        if (c.mode != LoopbackServer::Mode::answer)
        {
            EXPECT_TRUE (server.holding) << "the request ended only because the server let go";
        }

        if (c.taken)
        {
            EXPECT_EQ (screen.headline, "Welcome");
            EXPECT_EQ (screen.bodyText, "New patches are out");
            EXPECT_EQ (screen.moreInfoUrl, "https://example.invalid/n");
            EXPECT_EQ (screen.tag, "t42");
        }
        else
        {
            EXPECT_TRUE (hasBuiltInTexts (screen));
        }
    }

    EXPECT_TRUE (OAMotdMessage::waitForAbandonedFetches (5000));
}

TEST (MotdScreen, AnUnreachableServerKeepsTheBuiltInTexts)
{
    keepLoopbackDirect();
    int port = 0;
    {
        juce::StreamingSocket probe;
        ASSERT_TRUE (probe.createListener (0, "127.0.0.1"));
        port = probe.getBoundPort();
    }

    OAMotdScreen screen ("http://127.0.0.1:" + juce::String (port) + "/");
    screen.requestMotd();
    EXPECT_TRUE (hasBuiltInTexts (screen));
}

TEST (MotdScreen, ShowsAtStartOnlyForANewMessageWithUpdatesOn)
{
    struct Case { const char* headline; const char* tag; const char* stored; bool updates; bool shows; };
    const Case cases[] {
        { "Welcome", "t42", "x", true, true },      // new message
        { "Welcome", "t42", "x", false, false },    // updates off
        { "Welcome", "t42", "t42", true, false },   // already dismissed
        { "unset", "t43", "x", true, false },       // headed "unset"
        { "motd", "unset", "x", true, true },       // unreachable server, never dismissed
        { "motd", "unset", "unset", true, false },  // ... and once dismissed
        { "Welcome", "t42", "T42", true, true },    // tags compare exactly
    };

    for (const auto& c : cases)
    {
        OAMotdScreen screen;
        screen.headline = c.headline;
        screen.tag = c.tag;
        EXPECT_EQ (screen.showsAtStart (c.stored, c.updates), c.shows) << c.headline << " " << c.tag << " " << c.stored << " " << c.updates;
    }
}

TEST (MotdScreen, OkSendsTheTagAndMoreInfoOpensOnlyPlainWebLinks)
{
    OAMotdScreen screen;
    ActionRecorder recorder;
    screen.addActionListener (&recorder);
    juce::StringArray opened;
    screen.openLink = [&opened] (const juce::URL& url) { opened.add (url.toString (true)); };

    screen.tag = "t42";
    screen.okButton.triggerClick();
    ASSERT_TRUE (runMessagesUntil ([&] { return recorder.messages.size() == 1; }));
    EXPECT_EQ (recorder.messages[0], "motd.t42.-1");

    struct Case { const char* link; bool opens; };
    const Case cases[] {
        { "https://example.invalid/news?id=3&x=%20#top", true },
        { "http://example.invalid/", true },
        { "https://example.invalid/a\"; touch /tmp/owned; \"", false },
        { "https://example.invalid/$(touch /tmp/owned)", false },
        { "https://example.invalid/`id`", false },
        { "https://example.invalid/a b", false },
        { "https://example.invalid/\\", false },
        { "https://example.invalid/\n", false },
        { "/usr/bin/xterm", false },
        { "file:///etc/passwd", false },
        { "javascript:alert(1)", false },
        { "", false },
    };

    for (const auto& c : cases)
    {
        EXPECT_EQ (OAMotdScreen::isOpenableLink (c.link), c.opens) << c.link;

        opened.clear();
        screen.moreInfoUrl = c.link;
        screen.buttonClicked (&screen.moreInfoButton);
        EXPECT_EQ (opened.size(), c.opens ? 1 : 0) << c.link;
        if (c.opens)
        {
            EXPECT_EQ (opened[0], c.link);
        }
    }

    EXPECT_EQ (recorder.messages.size(), 1) << "more info sends nothing";
    screen.removeActionListener (&recorder);
}

TEST (MotdScreen, TheBoxIsCentredWithTheButtonsUnderTheText)
{
    OAMotdScreen screen;
    screen.setBounds (0, 0, 1119, 700);
    screen.centreBox (1119, 700);

    EXPECT_EQ (screen.boxBounds.width, 373);
    EXPECT_EQ (screen.boxBounds.height, 233);
    EXPECT_EQ (screen.boxBounds.x, 559 - 186);
    EXPECT_EQ (screen.boxBounds.y, 350 - 116);
    EXPECT_EQ (screen.okButton.getBounds(), juce::Rectangle<int> (373 + 186, 234 + 233 - 38, 100, 32));
    EXPECT_EQ (screen.moreInfoButton.getBounds(), juce::Rectangle<int> (373 + 186 - 100, 234 + 233 - 38, 100, 32));
    EXPECT_TRUE (screen.okButton.isVisible());
    EXPECT_TRUE (screen.moreInfoButton.isVisible());
    EXPECT_EQ (screen.okButton.getButtonText(), "ok");
    EXPECT_EQ (screen.moreInfoButton.getButtonText(), "more info");
}

TEST (MotdScreen, DrawsTheDimmedEditorTheBoxAndTheTexts)
{
    OAMotdScreen screen;
    screen.setBounds (0, 0, 1119, 700);
    screen.centreBox (1119, 700);
    screen.boxColour = juce::Colour (0xff303848);
    screen.textColour = juce::Colour (0xffe8c060);
    screen.headline = "Welcome";
    screen.bodyText = "New patches are out.\nHave a look at the browser.";

    const auto image = renderComponent (screen);

    // Outside the box: black at half opacity over nothing.
    EXPECT_NEAR (image.getPixelAt (20, 20).getAlpha(), 128, 2);
    EXPECT_EQ (image.getPixelAt (20, 20).getRed(), 0);

    // The box, with text-coloured pixels in the headline and body rows.
    EXPECT_EQ (image.getPixelAt (screen.boxBounds.x + 3, screen.boxBounds.y + screen.boxBounds.height - 3), screen.boxColour);

    const auto textPixels = [&] (int top, int bottom)
    {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = screen.boxBounds.x; x < screen.boxBounds.x + screen.boxBounds.width; ++x)
            {
                const auto p = image.getPixelAt (x, y);
                n += (p.getRed() > 150 && p.getGreen() > 110 && p.getBlue() < 140) ? 1 : 0;
            }
        return n;
    };

    EXPECT_GT (textPixels (screen.boxBounds.y + 5, screen.boxBounds.y + 30), 20) << "headline";
    EXPECT_GT (textPixels (screen.boxBounds.y + 30, screen.boxBounds.y + 130), 40) << "body";

    if (const auto* dir = std::getenv ("KORVANE_SCREENSHOT_DIR"))
    {
        juce::Image shot (juce::Image::ARGB, 1119, 700, true);
        {
            juce::Graphics g (shot);
            g.fillAll (juce::Colour (0xff1c2028)); // a stand-in for the editor underneath
            g.drawImageAt (image, 0, 0);
        }
        juce::File file (juce::File (dir).getChildFile ("displays-motd.png"));
        file.deleteFile();
        juce::FileOutputStream out (file);
        ASSERT_TRUE (out.openedOk());
        EXPECT_TRUE (juce::PNGImageFormat().writeImageToStream (shot, out));
    }
}
