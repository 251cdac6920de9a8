// Standard MIDI files, read as korvane-render reads them and played through
// the processor with the file's own play head.

#include "FuzzHarness.h"
#include "FuzzSetup.h"

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    FuzzSetup::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    FuzzSetup::failIfNotEmpty (FuzzHarness::runMidiFile (FuzzHarness::reusableProcessor(), data, size));
    return 0;
}
