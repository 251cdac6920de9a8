#pragma once

// Process set-up shared by the fuzz targets: a private home folder, the
// framework initialised once for the whole run, and notices swallowed (a
// refused input is the normal case here, not news).

#include "diagnostics/Notices.h"

#include <juce_events/juce_events.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize (int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size);

namespace FuzzSetup
{
    inline void initialise()
    {
        static std::string home = "/tmp/korvane-fuzz-home-XXXXXX";

        if (mkdtemp (home.data()) == nullptr)
            std::abort();

        setenv ("HOME", home.c_str(), 1);
        std::atexit ([] { juce::File (home).deleteRecursively(); });

        // Lives until the process ends; libFuzzer exits without unwinding.
        static auto* framework = new juce::ScopedJuceInitialiser_GUI();
        juce::ignoreUnused (framework);

        Notices::setHandler ([] (const Notice&) {});
    }

    /** Stops the run with the failure text, which libFuzzer reports as a crash. */
    inline void failIfNotEmpty (const juce::String& failure)
    {
        if (failure.isEmpty())
            return;

        fprintf (stderr, "\nfuzz check failed: %s\n", failure.toRawUTF8());
        std::abort();
    }
}

