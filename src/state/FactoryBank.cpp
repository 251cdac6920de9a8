#include "FactoryBank.h"

#include "diagnostics/Notices.h"
#include "OAFileIO.h"

#include <FactoryPatchData.h>

#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FactoryBank
{
namespace
{
    juce::String lastError()
    {
        return juce::String::fromUTF8 (std::strerror (errno));
    }

    /** True when anything at all has that name: a folder, a file, a link
        (even one that points nowhere). */
    bool nameIsTaken (const juce::File& f)
    {
        struct stat info {};
        return ::lstat (f.getFullPathName().toRawUTF8(), &info) == 0;
    }

    const juce::String stagingPrefix = juce::String (".") + folderName + ".";

    /** A hidden sibling of the "Factory" folder, unique to this process and call. */
    juce::File stagingFolderIn (const juce::File& patchFolder)
    {
        static std::atomic<unsigned int> counter { 0 };
        return patchFolder.getChildFile (stagingPrefix + juce::String::toHexString ((juce::int64) ::getpid()) + "-"
                                         + juce::String ((int) counter.fetch_add (1)) + ".part");
    }

    /** Staging folders that a start which no longer runs left behind (killed
        part way through its copy). Those of live processes are left alone. */
    void removeAbandonedStaging (const juce::File& patchFolder)
    {
        for (const auto& f : patchFolder.findChildFiles (juce::File::findDirectories, false, stagingPrefix + "*.part"))
        {
            const auto pidText = f.getFileName().substring (stagingPrefix.length()).upToFirstOccurrenceOf ("-", false, false);

            if (pidText.isEmpty() || ! pidText.containsOnly ("0123456789abcdef"))
                continue;

            const auto pid = (pid_t) pidText.getHexValue64();

            if (pid > 0 && pid != ::getpid() && ::kill (pid, 0) != 0 && errno == ESRCH)
                f.deleteRecursively();
        }
    }

    std::vector<Document> readEmbedded()
    {
        std::vector<Document> docs;

        for (int i = 0; i < FactoryPatchData::namedResourceListSize; ++i)
        {
            int size = 0;
            const auto* data = FactoryPatchData::getNamedResource (FactoryPatchData::namedResourceList[i], size);
            docs.push_back ({ juce::String::fromUTF8 (FactoryPatchData::originalFilenames[i]), data, size });
        }

        std::sort (docs.begin(), docs.end(), [] (const Document& a, const Document& b) { return a.fileName < b.fileName; });
        return docs;
    }
}

const std::vector<Document>& documents()
{
    static const auto docs = readEmbedded();
    return docs;
}

InstallResult installInto (const juce::File& patchFolder)
{
    InstallResult result;
    const auto target = patchFolder.getChildFile (folderName);

    if (nameIsTaken (target))
    {
        result.outcome = Outcome::alreadyThere;
        return result;
    }

    if (const auto created = patchFolder.createDirectory(); created.failed())
    {
        result.problem = "the patch folder can't be created: " + created.getErrorMessage();
        return result;
    }

    removeAbandonedStaging (patchFolder);

    const auto staging = stagingFolderIn (patchFolder);

    if (::mkdir (staging.getFullPathName().toRawUTF8(), 0777) != 0)
    {
        result.problem = lastError();
        return result;
    }

    for (const auto& doc : documents())
    {
        const auto written = OAFileIO::writeNewFile (staging.getChildFile (doc.fileName), doc.data, (size_t) doc.size);

        if (written.failed())
        {
            result.problem = written.getErrorMessage();
            staging.deleteRecursively();
            return result;
        }
    }

    OAFileIO::syncFolder (staging);

    if (::rename (staging.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) != 0)
    {
        const auto error = errno;
        const auto problem = lastError();
        staging.deleteRecursively();

        // Another instance (a second plug-in, a second app) got there first.
        if (error == EEXIST || error == ENOTEMPTY || error == ENOTDIR || error == EISDIR)
        {
            result.outcome = Outcome::alreadyThere;
            return result;
        }

        result.problem = problem;
        return result;
    }

    OAFileIO::syncFolder (patchFolder);
    result.outcome = Outcome::copied;
    result.filesCopied = (int) documents().size();
    return result;
}

juce::String failureText (const juce::File& patchFolder, const juce::String& problem)
{
    return "Korvane couldn't put its factory sounds into " + patchFolder.getChildFile (folderName).getFullPathName()
         + " (" + problem + "). Everything else works as usual; they'll be copied on a later start, once the patch "
           "folder can be written to.";
}

void installWhenMissing (const juce::File& patchFolder)
{
    if (nameIsTaken (patchFolder.getChildFile (folderName)) || juce::MessageManager::getInstanceWithoutCreating() == nullptr)
        return;

    juce::MessageManager::callAsync ([patchFolder]
    {
        const auto result = installInto (patchFolder);

        if (result.outcome != Outcome::failed)
            return;

        // Every plug-in instance of a session would say it again.
        static std::set<juce::String> told;

        if (told.insert (patchFolder.getFullPathName()).second)
            Notices::show ("Uhh..", failureText (patchFolder, result.problem), "Okay...");
    });
}
}
