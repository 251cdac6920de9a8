#pragma once

#include "net/OAMotdMessage.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

/** The message of the day in a box over the dimmed editor, with "ok" (sends
    "motd.<tag>.-1", on which the editor stores the tag) and "more info"
    (opens moreInfoUrl). Until a request succeeds it shows its built-in
    texts. */
class OAMotdScreen : public juce::Component,
                     public juce::Button::Listener,
                     public juce::ActionBroadcaster
{
public:
    static constexpr const char* defaultBaseUrl = "https://orbelaudio.github.io/motd/";

    /** baseUrl is the folder of the message files, ending in "/"; the
        request goes to baseUrl + productKey + ".txt". */
    explicit OAMotdScreen (const juce::String& baseUrl = getBaseUrl());
    ~OAMotdScreen() override;

    /** The base URL that screens built from now on use (message thread);
        defaultBaseUrl until set. Lets tests point the editor's screen at a
        server of their own. */
    static void setBaseUrl (const juce::String& newBaseUrl);
    static juce::String getBaseUrl();

    /** Fetches requestUrl and, for a well-formed reply, replaces the four
        texts. Blocks the calling (message) thread for at most
        OAMotdMessage::totalTimeoutMs. */
    void requestMotd();

    /** Whether the editor opens on this screen: the "updates" setting is on
        and the message is not the one last dismissed (storedTag, the
        "motdTag" setting), nor headed "unset". */
    bool showsAtStart (const juce::String& storedTag, bool updatesOn) const;

    /** Centres a box of a third of the editor's width and height within
        the screen (which covers the editor) and lays out the buttons. */
    void centreBox (int editorWidth, int editorHeight);

    /** Only plain web links are opened: http or https, with none of the
        characters a shell would act on (the framework hands the link to
        a shell). */
    static bool isOpenableLink (const juce::String& link);

    void paint (juce::Graphics& g) override;
    void resized() override;
    void buttonClicked (juce::Button* button) override;

    juce::String productKey { "korvane" };
    juce::Colour textColour { juce::Colours::white };
    juce::Colour boxColour { juce::Colours::darkslategrey };
    juce::TextButton okButton { "ok" };
    juce::TextButton moreInfoButton { "more info" };

    // The message; built-in values until a reply replaces all four.
    juce::String headline { OAMotdMessage().headline };
    juce::String bodyText { OAMotdMessage().bodyText };
    juce::String moreInfoUrl { OAMotdMessage().moreInfoUrl };
    juce::String tag { OAMotdMessage().tag };

    juce::String requestUrl;

    /** The message box within the screen; the editor centres it. */
    struct BoxBounds
    {
        int height = 0, width = 0, x = 0, y = 0;
    };

    BoxBounds boxBounds;

    /** Opens a link that passed isOpenableLink; the default browser unless
        replaced (tests record instead). */
    std::function<void (const juce::URL&)> openLink = [] (const juce::URL& url) { url.launchInDefaultBrowser(); };

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OAMotdScreen)
};
