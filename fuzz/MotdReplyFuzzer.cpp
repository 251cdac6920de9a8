// Message-of-the-day replies: status and body through applyResponse.

#include "FuzzHarness.h"
#include "FuzzSetup.h"

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    FuzzSetup::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    FuzzSetup::failIfNotEmpty (FuzzHarness::runMotdReply (data, size));
    return 0;
}
