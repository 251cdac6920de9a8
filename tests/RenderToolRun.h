#pragma once

#include <juce_core/juce_core.h>

#include <cstdlib>
#include <sys/wait.h>

/** korvane-render as a user runs it: a separate process, its exit code and
    what it prints. */
struct RenderToolRun
{
    int exitCode = -1;
    juce::String out, err;

    juce::String lastLine() const
    {
        auto lines = juce::StringArray::fromLines (out.trimEnd());
        return lines.isEmpty() ? juce::String() : lines[lines.size() - 1];
    }

    /** The text quoted for the shell. */
    static juce::String quote (const juce::String& s)
    {
        return "'" + s.replace ("'", "'\\''") + "'";
    }

    /** Runs the renderer with args; its output is caught in two files next
        to captureBase, removed again afterwards. */
    static RenderToolRun start (const juce::StringArray& args, const juce::File& captureBase)
    {
        juce::String command (quote (KORVANE_RENDER_EXE));

        for (const auto& a : args)
            command << " " << quote (a);

        const auto outFile = captureBase.getSiblingFile (captureBase.getFileName() + ".stdout");
        const auto errFile = captureBase.getSiblingFile (captureBase.getFileName() + ".stderr");
        command << " >" << quote (outFile.getFullPathName()) << " 2>" << quote (errFile.getFullPathName())
                << " </dev/null";

        RenderToolRun run;
        const auto status = std::system (command.toRawUTF8());
        run.exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : -1;
        run.out = outFile.loadFileAsString();
        run.err = errFile.loadFileAsString();
        outFile.deleteFile();
        errFile.deleteFile();
        return run;
    }
};
