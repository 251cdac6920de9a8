#pragma once

namespace Korvane
{
    /** The program's version text, written into patches and the settings file. */
    inline constexpr const char* versionText = "25.9.26";
}
