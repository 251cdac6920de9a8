#include "OAMotdScreen.h"

#include "ui/OAActionMsg.h"

namespace
{
    juce::String& baseUrlForNewScreens()
    {
        static juce::String url { OAMotdScreen::defaultBaseUrl };
        return url;
    }
}

OAMotdScreen::OAMotdScreen (const juce::String& baseUrl)
    : requestUrl (baseUrl + productKey + ".txt")
{
    for (auto* b : { &okButton, &moreInfoButton })
    {
        addAndMakeVisible (*b);
        b->addListener (this);
    }
}

OAMotdScreen::~OAMotdScreen()
{
    okButton.removeListener (this);
    moreInfoButton.removeListener (this);
}

void OAMotdScreen::setBaseUrl (const juce::String& newBaseUrl)
{
    baseUrlForNewScreens() = newBaseUrl;
}

juce::String OAMotdScreen::getBaseUrl()
{
    return baseUrlForNewScreens();
}

void OAMotdScreen::requestMotd()
{
    OAMotdMessage message;
    message.headline = headline;
    message.bodyText = bodyText;
    message.moreInfoUrl = moreInfoUrl;
    message.tag = tag;

    message.request (juce::URL (requestUrl));

    headline = message.headline;
    bodyText = message.bodyText;
    moreInfoUrl = message.moreInfoUrl;
    tag = message.tag;
    repaint();
}

bool OAMotdScreen::showsAtStart (const juce::String& storedTag, bool updatesOn) const
{
    if (headline == "unset" || tag == storedTag)
        return false;

    return updatesOn;
}

void OAMotdScreen::centreBox (int editorWidth, int editorHeight)
{
    boxBounds.width = editorWidth / 3;
    boxBounds.height = editorHeight / 3;
    boxBounds.x = getWidth() / 2 - editorWidth / 6;
    boxBounds.y = getHeight() / 2 - editorHeight / 6;
    resized();
}

bool OAMotdScreen::isOpenableLink (const juce::String& link)
{
    if (! (link.startsWith ("https://") || link.startsWith ("http://")) || link.length() > 2048)
        return false;

    // Letters, digits and the URL punctuation that means nothing to a shell
    // inside double quotes; no quote, backslash, dollar, backtick or space.
    return link.containsOnly ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                              "-._~:/?#[]@!&'()*+,;=%");
}

void OAMotdScreen::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black.withAlpha (0.5f));

    g.setColour (boxColour);
    g.fillRect (boxBounds.x, boxBounds.y, boxBounds.width, boxBounds.height);

    g.setColour (textColour);
    g.setFont (32.0f);
    g.drawFittedText (headline, boxBounds.x, boxBounds.y + 16, boxBounds.width, 10, juce::Justification::centred, 1);

    g.setFont (16.0f);
    g.drawFittedText (bodyText, boxBounds.x, boxBounds.y + 30, boxBounds.width, 100, juce::Justification::centred, 32);
}

void OAMotdScreen::resized()
{
    const auto centreX = boxBounds.x + boxBounds.width / 2;
    const auto buttonY = boxBounds.y + boxBounds.height - 38;

    okButton.setBounds (centreX, buttonY, 100, 32);
    moreInfoButton.setBounds (centreX - 100, buttonY, 100, 32);
}

void OAMotdScreen::buttonClicked (juce::Button* button)
{
    if (button == &okButton)
    {
        sendActionMessage (OAActionMsg ("motd", tag, -1).message);
    }
    else if (button == &moreInfoButton)
    {
        // The link comes from the server: only plain web links are opened.
        if (isOpenableLink (moreInfoUrl) && openLink)
            openLink (juce::URL (moreInfoUrl));
    }
}
