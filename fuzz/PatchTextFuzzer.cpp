// Patch document text through replaceState, as a patch file is loaded.

#include "FuzzHarness.h"
#include "FuzzSetup.h"

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    FuzzSetup::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    FuzzSetup::failIfNotEmpty (FuzzHarness::runPatchText (FuzzHarness::reusableProcessor(), data, size));
    return 0;
}
