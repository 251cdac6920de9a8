#include "net/OAMotdMessage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace
{
    struct Texts
    {
        juce::String headline, bodyText, moreInfoUrl, tag;
    };

    Texts textsOf (const OAMotdMessage& m)
    {
        return { m.headline, m.bodyText, m.moreInfoUrl, m.tag };
    }

    void expectTexts (const OAMotdMessage& m, const Texts& t)
    {
        EXPECT_EQ (m.headline, t.headline);
        EXPECT_EQ (m.bodyText, t.bodyText);
        EXPECT_EQ (m.moreInfoUrl, t.moreInfoUrl);
        EXPECT_EQ (m.tag, t.tag);
    }

    const Texts builtIn { "motd", "Can't reach OrbelAudio Servers...", "https://orbelaudio.github.io/", "unset" };
}

TEST (Motd, BuiltInTexts)
{
    OAMotdMessage m;
    expectTexts (m, builtIn);
    EXPECT_TRUE (m.moreInfoUrl.startsWith ("https://"));
}

TEST (Motd, OnlyStatus200WithExactlyFourFieldsReplacesTheTexts)
{
    struct Case { int status; const char* body; bool applied; Texts expected; };
    const Case cases[] {
        { 200, "Welcome|New patches|https://example.invalid/n|t42", true,  { "Welcome", "New patches", "https://example.invalid/n", "t42" } },
        // nothing is trimmed: the line end after the tag belongs to the tag
        { 200, " Hi |Two\r\nlines| u |t42\r\n",                      true,  { " Hi ", "Two\r\nlines", " u ", "t42\r\n" } },
        { 200, "|||",                                                true,  { "", "", "", "" } },
        { 200, "a|b|c",                                              false, builtIn },
        { 200, "a|b|c|d|e",                                          false, builtIn },
        { 200, "a|b|c|d|",                                           false, builtIn },
        { 200, "",                                                   false, builtIn },
        { 404, "a|b|c|t42",                                          false, builtIn },
        { 500, "a|b|c|t42",                                          false, builtIn },
        { 201, "a|b|c|t42",                                          false, builtIn },
        { 0,   "a|b|c|t42",                                          false, builtIn },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.status) + " " + juce::String (c.body).quoted());
        OAMotdMessage m;
        EXPECT_EQ (m.applyResponse (c.status, c.body), c.applied);
        expectTexts (m, c.expected);
    }
}

TEST (Motd, AMalformedReplyKeepsTheTextsOfAnEarlierOne)
{
    OAMotdMessage m;
    ASSERT_TRUE (m.applyResponse (200, "h|b|u|t1"));
    const auto earlier = textsOf (m);

    EXPECT_FALSE (m.applyResponse (200, "x|y|z"));
    EXPECT_FALSE (m.applyResponse (404, "x|y|z|t2"));
    expectTexts (m, earlier);
}

//==============================================================================
namespace
{
    /** A one-connection-at-a-time HTTP server on 127.0.0.1 that answers every
        request with the same reply, or holds the connection without answering.
        It stops by itself after a few seconds at the latest. */
    class LoopbackServer
    {
    public:
        LoopbackServer (int status, std::string body, bool answer = true)
            : replyStatus (status), replyBody (std::move (body)), answers (answer)
        {
            listening = listener.createListener (0, "127.0.0.1");
            thread = std::thread ([this] { serve(); });
        }

        ~LoopbackServer()
        {
            stop = true;
            thread.join();
        }

        bool isListening() const { return listening; }
        int port() const { return listener.getBoundPort(); }
        juce::URL url (const juce::String& path) const { return juce::URL ("http://127.0.0.1:" + juce::String (port()) + path); }

        juce::String firstRequestLine() const
        {
            const juce::ScopedLock sl (lock);
            return requestLine;
        }

        std::atomic<bool> holding { false };

    private:
        void serve()
        {
            const auto giveUpAt = juce::Time::getMillisecondCounter() + 8000;

            while (listening && ! stop && juce::Time::getMillisecondCounter() < giveUpAt)
            {
                if (listener.waitUntilReady (true, 50) != 1)
                    continue;

                std::unique_ptr<juce::StreamingSocket> client (listener.waitForNextConnection());

                if (client == nullptr)
                    continue;

                const auto request = readRequest (*client, giveUpAt);

                {
                    const juce::ScopedLock sl (lock);
                    if (requestLine.isEmpty())
                        requestLine = request.upToFirstOccurrenceOf ("\r\n", false, false);
                }

                if (! answers)
                {
                    // Accept, read the request and then say nothing until told to stop.
                    holding = true;
                    while (! stop && juce::Time::getMillisecondCounter() < giveUpAt)
                        juce::Thread::sleep (10);
                    holding = false;
                    continue;
                }

                const auto& bodyBytes = replyBody; // sent byte for byte
                const auto reply = "HTTP/1.1 " + juce::String (replyStatus) + " Reply\r\n"
                                   "Content-Type: text/plain\r\n"
                                   "Content-Length: " + juce::String ((int) bodyBytes.size()) + "\r\n"
                                   "Connection: close\r\n\r\n";
                client->write (reply.toRawUTF8(), (int) reply.getNumBytesAsUTF8());
                client->write (bodyBytes.data(), (int) bodyBytes.size());
            }

            listener.close();
        }

        static juce::String readRequest (juce::StreamingSocket& client, juce::uint32 giveUpAt)
        {
            juce::MemoryBlock received;
            char chunk[1024];

            while (juce::Time::getMillisecondCounter() < giveUpAt)
            {
                if (client.waitUntilReady (true, 50) != 1)
                    continue;

                const auto n = client.read (chunk, (int) sizeof (chunk), false);

                if (n <= 0)
                    break;

                received.append (chunk, (size_t) n);

                if (received.toString().contains ("\r\n\r\n"))
                    break;
            }

            return received.toString();
        }

        const int replyStatus;
        const std::string replyBody;
        const bool answers;

        juce::StreamingSocket listener;
        bool listening = false;
        std::atomic<bool> stop { false };
        juce::CriticalSection lock;
        juce::String requestLine;
        std::thread thread;
    };

    /** Connections to the test server must not go through a proxy from the environment. */
    void keepLoopbackDirect()
    {
        setenv ("no_proxy", "127.0.0.1", 1);
        setenv ("NO_PROXY", "127.0.0.1", 1);
    }
}

// The body is read as the framework reads a stream as text, but UTF-8 that
// is not well-formed is refused before it becomes a string.
TEST (Motd, BodiesAreDecodedAsTextOrRefused)
{
    const std::string utf16 ("\xff\xfe" "a\0|\0b\0|\0c\0|\0d\0", 16);
    const std::string utf8WithMark ("\xef\xbb\xbf" "a|b|c|d");
    const std::string overlong ("a|b|c|\xc1\xbd");

    EXPECT_EQ (OAMotdMessage::decodeBody (utf16.data(), utf16.size()).value_or ("<refused>"), "a|b|c|d");
    EXPECT_EQ (OAMotdMessage::decodeBody (utf8WithMark.data(), utf8WithMark.size()).value_or ("<refused>"), "a|b|c|d");
    EXPECT_FALSE (OAMotdMessage::decodeBody (overlong.data(), overlong.size()).has_value());
    EXPECT_EQ (OAMotdMessage::decodeBody ("", 0).value_or ("<refused>"), "");

    // Nothing after the mark, in a block of exactly its size (the framework's
    // decoder read the byte after it; AddressSanitizer builds see that).
    const juce::MemoryBlock onlyMark ("\xef\xbb\xbf", 3);
    EXPECT_EQ (OAMotdMessage::decodeBody (onlyMark.getData(), onlyMark.getSize()).value_or ("<refused>"), "");
}

TEST (MotdFetch, RepliesFromALoopbackServer)
{
    keepLoopbackDirect();

    struct Case { const char* what; int status; const char* body; Texts expected; };
    const Case cases[] {
        { "200 with four fields", 200, "Welcome|New patches|https://example.invalid/n|t42", { "Welcome", "New patches", "https://example.invalid/n", "t42" } },
        { "404 with four fields", 404, "Welcome|New patches|https://example.invalid/n|t42", builtIn },
        { "200 with three fields", 200, "Welcome|New patches|t42", builtIn },
        { "200 with five fields", 200, "Welcome|New|patches|https://example.invalid/n|t42", builtIn },
        { "200 with an overlong form", 200, "Wel\xc1\xbd" "come|New patches|https://example.invalid/n|t42", builtIn },
        { "200 with non-ASCII text", 200, "Gr\xc3\xbc\xc3\x9f" "e|\xe2\x99\xaa|https://example.invalid/n|t43",
          { juce::String::fromUTF8 ("Gr\xc3\xbc\xc3\x9f" "e"), juce::String::fromUTF8 ("\xe2\x99\xaa"), "https://example.invalid/n", "t43" } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        LoopbackServer server (c.status, c.body);
        ASSERT_TRUE (server.isListening());

        OAMotdMessage m;
        m.request (server.url ("/korvane.txt"));

        EXPECT_EQ (server.firstRequestLine(), "GET /korvane.txt HTTP/1.1");
        expectTexts (m, c.expected);
    }
}

TEST (MotdFetch, NoServerKeepsTheBuiltInTexts)
{
    keepLoopbackDirect();

    // A port that was just free: nothing listens there any more.
    int port = 0;
    {
        juce::StreamingSocket probe;
        ASSERT_TRUE (probe.createListener (0, "127.0.0.1"));
        port = probe.getBoundPort();
    }

    OAMotdMessage m;
    m.request (juce::URL ("http://127.0.0.1:" + juce::String (port) + "/korvane.txt"));
    expectTexts (m, builtIn);
}

// A server that accepts and then never answers must not keep the caller (the
// editor's constructor, on the message thread) waiting for it.
TEST (MotdFetch, ASilentServerIsGivenUpOn)
{
    keepLoopbackDirect();
    LoopbackServer server (200, "a|b|c|d", false);
    ASSERT_TRUE (server.isListening());

    OAMotdMessage m;
    m.request (server.url ("/korvane.txt"));

    EXPECT_TRUE (server.holding) << "the request ended only because the server let go";
    expectTexts (m, builtIn);
}
