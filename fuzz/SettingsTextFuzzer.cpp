// Settings file text, read as the processor reads it when it is made.

#include "FuzzHarness.h"
#include "FuzzSetup.h"

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    FuzzSetup::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    FuzzSetup::failIfNotEmpty (FuzzHarness::runSettingsText (data, size));
    return 0;
}
