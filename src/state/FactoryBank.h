#pragma once

#include <juce_core/juce_core.h>

#include <vector>

/** The factory sounds that ship with Korvane: patch documents embedded in
    the binary, and their first-start copy into the patch folder. */
namespace FactoryBank
{
    /** The patch folder's subfolder that holds them. */
    inline const char* const folderName = "Factory";

    struct Document
    {
        juce::String fileName; // "<patch name>.kvn"
        const char* data;
        int size;
    };

    /** The embedded patch documents, in file name order. */
    const std::vector<Document>& documents();

    enum class Outcome
    {
        alreadyThere, // something named "Factory" exists: nothing was written
        copied,       // the folder was created with every document in it
        failed        // nothing was written (see problem)
    };

    struct InstallResult
    {
        Outcome outcome = Outcome::failed;
        int filesCopied = 0;
        juce::String problem;
    };

    /** Copies the bank into patchFolder / "Factory" unless something of that
        name is there already, so a file is never overwritten and a patch the
        user deleted stays deleted until the whole folder is gone. All or
        nothing: the documents are written into a hidden folder beside it,
        which becomes "Factory" in one rename; a failure leaves no folder, and
        the next start tries again. The patch folder is created when missing.
        Message thread. */
    InstallResult installInto (const juce::File& patchFolder);

    /** For the app and the plug-ins when they start: when patchFolder /
        "Factory" is missing, installInto runs on the message thread once
        the run loop is going (so a processor that is only built to be
        inspected, as the LV2 bundle's description tool does, writes nothing).
        A failure is told once per run and folder with a notice; the program
        carries on. Costs one file-system check when the folder is there. */
    void installWhenMissing (const juce::File& patchFolder);

    /** The notice's text for a failed install. */
    juce::String failureText (const juce::File& patchFolder, const juce::String& problem);
}
