#include "LoopbackServer.h"
#include "net/OAMotdMessage.h"

#include <gtest/gtest.h>

#include <iostream>

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
    LoopbackServer server (200, "a|b|c|d", LoopbackServer::Mode::silent);
    ASSERT_TRUE (server.isListening());

    OAMotdMessage m;
    m.request (server.url ("/korvane.txt"));

    EXPECT_TRUE (server.holding) << "the request ended only because the server let go";
    expectTexts (m, builtIn);
}

// The request is bounded as a whole: a server that keeps sending, slowly but
// never stalling, is cut off at the bound, not when it stops by itself
// (after 8 s), and its partial reply is not taken.
TEST (MotdFetch, ATricklingServerIsCutOffWithinTheBound)
{
    keepLoopbackDirect();

    for (auto mode : { LoopbackServer::Mode::trickleHeaders, LoopbackServer::Mode::trickleBody })
    {
        SCOPED_TRACE (mode == LoopbackServer::Mode::trickleHeaders ? "headers" : "body");
        LoopbackServer server (200, {}, mode);
        ASSERT_TRUE (server.isListening());

        OAMotdMessage m;
        const auto start = juce::Time::getMillisecondCounterHiRes();
        m.request (server.url ("/korvane.txt"));
        const auto elapsed = juce::Time::getMillisecondCounterHiRes() - start;

        EXPECT_TRUE (server.holding) << "the request ended only because the server stopped";
        // Reported, not judged: timing is no pass/fail matter here.
        std::cout << "  gave up after " << juce::roundToInt (elapsed) << " ms (bound " << OAMotdMessage::totalTimeoutMs << " ms)\n";
        expectTexts (m, builtIn);
    }

    // The worker threads given up on end by themselves.
    EXPECT_TRUE (OAMotdMessage::waitForAbandonedFetches (5000));
}

TEST (MotdFetch, BodiesLongerThanTheCapAreRefused)
{
    keepLoopbackDirect();

    const auto bodyOfSize = [] (size_t size)
    {
        std::string body ("h|b|u|");
        body += std::string (size - body.size(), 't');
        return body;
    };

    struct Case { size_t size; bool taken; };
    const Case cases[] { { OAMotdMessage::maxBodyBytes, true },
                         { OAMotdMessage::maxBodyBytes + 1, false },
                         { 1000000, false } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ((int) c.size);
        LoopbackServer server (200, bodyOfSize (c.size));
        ASSERT_TRUE (server.isListening());

        OAMotdMessage m;
        m.request (server.url ("/korvane.txt"));

        if (c.taken)
        {
            EXPECT_EQ (m.headline, "h");
            EXPECT_EQ (m.tag.length(), (int) c.size - 6);
        }
        else
        {
            expectTexts (m, builtIn);
        }
    }
}

TEST (MotdFetch, FetchGivesTheStatusAndBodyOfAnyReply)
{
    keepLoopbackDirect();
    LoopbackServer server (404, "not here");
    ASSERT_TRUE (server.isListening());

    const auto reply = OAMotdMessage::fetch (server.url ("/korvane.txt"), OAMotdMessage::totalTimeoutMs, OAMotdMessage::maxBodyBytes);
    ASSERT_TRUE (reply.has_value());
    EXPECT_EQ (reply->statusCode, 404);
    EXPECT_EQ (reply->body.toString(), "not here");
}
