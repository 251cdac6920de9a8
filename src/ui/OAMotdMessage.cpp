#include "OAMotdMessage.h"

#include "processor/OAStringTools.h"

bool OAMotdMessage::applyResponse (int statusCode, const juce::String& body)
{
    if (statusCode != 200)
        return false;

    const auto fields = OAStringTools::split (body, "|");

    if (fields.size() != 4)
        return false;

    headline = fields[0];
    bodyText = fields[1];
    moreInfoUrl = fields[2];
    tag = fields[3];
    return true;
}

void OAMotdMessage::request (const juce::URL& url)
{
    juce::StringPairArray responseHeaders;
    int statusCode = 0;

    const auto options = juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inAddress)
                             .withConnectionTimeoutMs (connectionTimeoutMs)
                             .withResponseHeaders (&responseHeaders)
                             .withStatusCode (&statusCode);

    const auto stream = url.createInputStream (options);

    if (stream == nullptr)
        return;

    applyResponse (statusCode, stream->readEntireStreamAsString());
}
