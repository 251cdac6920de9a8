#pragma once

#include <array>

namespace RandomWords
{
    static constexpr int numWords = 1000;

    /** Common English words in alphabetical order (ignoring letter case),
        all lower case except a few proper words; random patch names are
        made from them. */
    const std::array<const char*, numWords>& getWords() noexcept;
}
