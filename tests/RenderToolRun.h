#pragma once

// Runs korvane-render as a user does: a separate process with its own exit
// code, output and files, in a scratch folder of the test's own.

#include <juce_core/juce_core.h>

#include <cstdlib>
#include <map>

#include <sys/wait.h>

namespace RenderToolRun
{
struct Run
{
    int exitCode = -1;
    juce::String out, err;

    juce::String lastLine() const
    {
        auto lines = juce::StringArray::fromLines (out.trimEnd());
        return lines.isEmpty() ? juce::String() : lines[lines.size() - 1];
    }
};

/** A scratch folder per test, removed afterwards. */
struct Scratch
{
    Scratch() { dir.createDirectory(); }
    ~Scratch() { dir.deleteRecursively(); }

    juce::File file (const juce::String& name) const { return dir.getChildFile (name); }

    /** Files in the folder other than the ones the test made itself. */
    juce::StringArray leftovers (const juce::StringArray& expected) const
    {
        juce::StringArray names;

        for (const auto& f : dir.findChildFiles (juce::File::findFiles, false))
            if (! expected.contains (f.getFileName()))
                names.add (f.getFileName());

        return names;
    }

    juce::File dir { juce::File::createTempFile ("korvane-render-test") };
};

inline juce::String quote (const juce::String& s)
{
    return "'" + s.replace ("'", "'\\''") + "'";
}

/** Runs the renderer with args; its output is caught in two files next to
    captureBase, removed again afterwards. */
inline Run start (const juce::StringArray& args, const juce::File& captureBase)
{
    juce::String command (quote (KORVANE_RENDER_EXE));

    for (const auto& a : args)
        command << " " << quote (a);

    const auto outFile = captureBase.getSiblingFile (captureBase.getFileName() + ".stdout");
    const auto errFile = captureBase.getSiblingFile (captureBase.getFileName() + ".stderr");
    command << " >" << quote (outFile.getFullPathName()) << " 2>" << quote (errFile.getFullPathName())
            << " </dev/null";

    Run run;
    const auto status = std::system (command.toRawUTF8());
    run.exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : -1;
    run.out = outFile.loadFileAsString();
    run.err = errFile.loadFileAsString();
    outFile.deleteFile();
    errFile.deleteFile();
    return run;
}

inline Run render (const Scratch& scratch, const juce::StringArray& args)
{
    return start (args, scratch.dir);
}

inline std::map<juce::String, juce::String> keyValues (const juce::String& line)
{
    std::map<juce::String, juce::String> values;

    for (const auto& token : juce::StringArray::fromTokens (line, " ", ""))
        values[token.upToFirstOccurrenceOf ("=", false, false)] = token.fromFirstOccurrenceOf ("=", false, false);

    return values;
}
}
