#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <functional>

/** The output stage's last resort: a block that holds a NaN or an infinity
    despite everything before it (a shape's formula, a filter driven past its
    limits, a denormal storm) goes out as silence instead of into the host's
    mix. A block of finite samples is never touched. The audio thread only
    counts; the message thread writes what it counted to the log. */
class OutputGuard : private juce::Timer
{
public:
    using Reporter = std::function<void (const juce::String& line)>;

    /** reporter receives one log line per occurrence, on the message thread. */
    explicit OutputGuard (Reporter reporter);
    ~OutputGuard() override;

    /** Audio thread: clears the first numChannels channels of the block and
        returns true when one of their samples is not finite. Never
        allocates, locks or logs. */
    bool silenceIfNotFinite (juce::AudioBuffer<float>& buffer, int numChannels) noexcept;

    /** Blocks silenced since construction. */
    juce::uint32 getSilencedBlocks() const noexcept { return silenced.load (std::memory_order_relaxed); }

    /** Message thread: hands the reporter a line for the blocks silenced
        since the last call, if any. Runs twice a second on its own, and
        before a bug report is written. */
    void reportNewOccurrences();

private:
    void timerCallback() override { reportNewOccurrences(); }

    std::atomic<juce::uint32> silenced { 0 };
    juce::uint32 reported = 0;
    Reporter reporter;

    JUCE_DECLARE_NON_COPYABLE (OutputGuard)
};
