#pragma once

#include <juce_core/juce_core.h>

#include <optional>

/** The message of the day: four texts that keep their built-in values until a
    well-formed reply from the server replaces all four at once. */
class OAMotdMessage
{
public:
    juce::String headline { "motd" };
    juce::String bodyText { "Can't reach OrbelAudio Servers..." };
    juce::String moreInfoUrl { "https://orbelaudio.github.io/" };
    juce::String tag { "unset" };

    static constexpr int connectionTimeoutMs = 1000;
    /** The whole request (connection, headers and body) ends within this. */
    static constexpr int totalTimeoutMs = 2000;
    /** A longer body is refused. */
    static constexpr size_t maxBodyBytes = 4096;

    /** Takes a reply: only status 200 with a body of exactly four "|"-separated
        fields (headline|text|link|tag, taken as they are, nothing trimmed)
        replaces the texts. Returns whether it did. */
    bool applyResponse (int statusCode, const juce::String& body);

    /** The reply body as text, as the framework reads a stream as a string
        (UTF-16 after its byte-order mark, UTF-8 otherwise); nothing when the
        UTF-8 is not well-formed, which the framework's strings cannot hold
        safely. */
    static std::optional<juce::String> decodeBody (const void* data, size_t numBytes);

    /** Fetches url and applies the reply. Blocks for at most totalTimeoutMs
        (and a little for the thread to start); a failed, late or oversize
        fetch leaves the texts alone. */
    void request (const juce::URL& url);

    struct Reply
    {
        int statusCode = 0;
        juce::MemoryBlock body;
    };

    /** A GET of url (parameters in the address) on a worker thread, waited
        for at most timeoutMs. Nothing when there was no reply in time, no
        connection or a body longer than maxBytes. A fetch given up on is
        cancelled and its thread ends by itself soon after. */
    static std::optional<Reply> fetch (const juce::URL& url, int timeoutMs, size_t maxBytes);

    /** Waits until the threads of fetches given up on have ended; false
        when some still run after maxWaitMs. For orderly shut-downs (tests). */
    static bool waitForAbandonedFetches (int maxWaitMs);
};
