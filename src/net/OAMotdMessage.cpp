#include "OAMotdMessage.h"

#include "state/OAStringTools.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

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
    if (const auto reply = fetch (url, totalTimeoutMs, maxBodyBytes))
        if (const auto text = decodeBody (reply->body.getData(), reply->body.getSize()))
            applyResponse (reply->statusCode, *text);
}

namespace
{
    std::atomic<int> fetchesRunning { 0 };

    /** What a fetch's worker and its waiting caller share; the worker keeps
        it alive after the caller has given up. */
    struct FetchState
    {
        FetchState (const juce::URL& u, size_t cap) : url (u), maxBytes (cap) {}

        const juce::URL url;
        const size_t maxBytes;
        juce::WaitableEvent done;

        std::mutex lock; // guards everything below
        juce::WebInputStream* stream = nullptr;
        bool abandoned = false;
        std::optional<OAMotdMessage::Reply> reply;
    };

    void runFetch (FetchState& state)
    {
        auto stream = std::make_unique<juce::WebInputStream> (state.url, false);
        stream->withConnectionTimeout (OAMotdMessage::connectionTimeoutMs);

        {
            const std::lock_guard<std::mutex> sl (state.lock);

            if (state.abandoned)
                return;

            state.stream = stream.get();
        }

        std::optional<OAMotdMessage::Reply> reply;

        if (stream->connect (nullptr))
        {
            OAMotdMessage::Reply r;
            r.statusCode = stream->getStatusCode();
            bool tooLong = false;
            char chunk[256];

            for (;;)
            {
                const auto n = stream->read (chunk, (int) sizeof (chunk));

                if (n <= 0)
                    break;

                if (r.body.getSize() + (size_t) n > state.maxBytes)
                {
                    tooLong = true;
                    break;
                }

                r.body.append (chunk, (size_t) n);

                const std::lock_guard<std::mutex> sl (state.lock);
                if (state.abandoned)
                    break;
            }

            // A transfer cut short (by the server, a stall or a cancel) is no reply.
            if (! tooLong && r.statusCode > 0 && ! stream->isError())
                reply = std::move (r);
        }

        const std::lock_guard<std::mutex> sl (state.lock);
        state.stream = nullptr; // the caller no longer reaches it
        state.reply = std::move (reply);
    }
}

std::optional<OAMotdMessage::Reply> OAMotdMessage::fetch (const juce::URL& url, int timeoutMs, size_t maxBytes)
{
    auto state = std::make_shared<FetchState> (url, maxBytes);

    try
    {
        ++fetchesRunning;
        std::thread ([state]
        {
            runFetch (*state);
            state->done.signal();
            --fetchesRunning;
        }).detach();
    }
    catch (const std::system_error&)
    {
        --fetchesRunning;
        return std::nullopt; // no thread to be had: no message
    }

    const auto finished = state->done.wait ((double) juce::jmax (0, timeoutMs));

    const std::lock_guard<std::mutex> sl (state->lock);

    if (! finished)
    {
        // Late: stop the transfer and leave the worker to end by itself.
        state->abandoned = true;

        if (state->stream != nullptr)
            state->stream->cancel();

        return std::nullopt;
    }

    return std::move (state->reply);
}

bool OAMotdMessage::waitForAbandonedFetches (int maxWaitMs)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) juce::jmax (0, maxWaitMs);

    while (fetchesRunning.load() > 0)
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;

        juce::Thread::sleep (5);
    }

    return true;
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
