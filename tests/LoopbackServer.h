#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include <sys/socket.h>

/** A one-connection-at-a-time HTTP server on 127.0.0.1 that answers every
    request with the same reply, holds the connection without answering, or
    trickles its reply (headers or body) a few bytes at a time, faster than
    a stalled transfer but never ending. A held or trickled connection lasts
    until the client goes or the server is destroyed, so a client without a
    bound of its own never returns; otherwise the server stops by itself
    after a few seconds. */
class LoopbackServer
{
public:
    enum class Mode
    {
        answer,          // the whole reply at once
        silent,          // reads the request, then says nothing
        trickleHeaders,  // a status line, then header lines for ever
        trickleBody      // headers announcing a long body, then the body a little at a time
    };

    LoopbackServer (int status, std::string body, Mode howToReply = Mode::answer)
        : replyStatus (status), replyBody (std::move (body)), mode (howToReply)
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
    juce::URL url (const juce::String& path) const { return juce::URL (baseUrl() + path.substring (1)); }
    juce::String baseUrl() const { return "http://127.0.0.1:" + juce::String (port()) + "/"; }

    juce::String firstRequestLine() const
    {
        const juce::ScopedLock sl (lock);
        return requestLine;
    }

    /** True while a connection is held open without a complete reply. */
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

            const auto head = "HTTP/1.1 " + juce::String (replyStatus) + " Reply\r\n";

            switch (mode)
            {
                case Mode::answer:
                {
                    const auto reply = head + "Content-Type: text/plain\r\n"
                                              "Content-Length: " + juce::String ((int) replyBody.size()) + "\r\n"
                                              "Connection: close\r\n\r\n";
                    send (*client, reply.toStdString());
                    send (*client, replyBody); // byte for byte
                    break;
                }

                case Mode::silent:
                    // Until the test ends: a client that does not give up
                    // by itself hangs the test instead of passing.
                    holding = true;
                    while (! stop)
                        juce::Thread::sleep (10);
                    holding = false;
                    break;

                case Mode::trickleHeaders:
                case Mode::trickleBody:
                {
                    holding = true;
                    const bool body = mode == Mode::trickleBody;

                    if (body)
                        send (*client, (head + "Content-Type: text/plain\r\nContent-Length: 1000000\r\n\r\n").toStdString());
                    else
                        send (*client, head.toStdString());

                    // About 600 bytes a second, in small pieces.
                    for (int n = 0; ! stop; ++n)
                    {
                        const auto piece = body ? std::string ("a|b|c|d-trickle-trickle-trickle.")
                                                : ("X-Pad-" + std::to_string (n) + ": trickle-trickle-trickle\r\n");

                        if (! send (*client, piece))
                            break;

                        juce::Thread::sleep (50);
                    }

                    holding = false;
                    break;
                }
            }
        }

        listener.close();
    }

    /** False once the client has gone; never raises SIGPIPE. */
    static bool send (juce::StreamingSocket& client, const std::string& bytes)
    {
        size_t done = 0;

        while (done < bytes.size())
        {
            const auto n = ::send (client.getRawSocketHandle(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);

            if (n <= 0)
                return false;

            done += (size_t) n;
        }

        return true;
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
    const Mode mode;

    juce::StreamingSocket listener;
    bool listening = false;
    std::atomic<bool> stop { false };
    juce::CriticalSection lock;
    juce::String requestLine;
    std::thread thread;
};

/** Connections to the test server must not go through a proxy from the environment. */
inline void keepLoopbackDirect()
{
    setenv ("no_proxy", "127.0.0.1", 1);
    setenv ("NO_PROXY", "127.0.0.1", 1);
}
