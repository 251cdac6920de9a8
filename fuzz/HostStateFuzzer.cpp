// Host-state bytes through setStateInformation, as the wrapper restores them.

#include "FuzzHarness.h"
#include "FuzzSetup.h"

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    FuzzSetup::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    FuzzSetup::failIfNotEmpty (FuzzHarness::runHostState (FuzzHarness::reusableProcessor(), data, size));
    return 0;
}
