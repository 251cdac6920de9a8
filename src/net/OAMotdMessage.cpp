#include "OAMotdMessage.h"

#include "state/OAStringTools.h"

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

    juce::MemoryBlock body;
    stream->readIntoMemoryBlock (body);

    if (const auto text = decodeBody (body.getData(), body.getSize()))
        applyResponse (statusCode, *text);
}

std::optional<juce::String> OAMotdMessage::decodeBody (const void* data, size_t numBytes)
{
    const auto* bytes = static_cast<const juce::uint8*> (data);
    const auto isUtf16 = numBytes >= 2 && ((bytes[0] == 0xff && bytes[1] == 0xfe) || (bytes[0] == 0xfe && bytes[1] == 0xff));

    if (! isUtf16 && ! OAStringTools::isWellFormedUtf8 (data, numBytes))
        return std::nullopt;

    // The framework's decoder looks at the byte after the text when nothing
    // follows a byte-order mark, so the text gets a terminating zero here.
    juce::MemoryBlock terminated (data, numBytes);
    terminated.append ("", 1);
    return juce::String::createStringFromData (terminated.getData(), (int) numBytes);
}
