// Writes the factory bank: one .kvn document per recipe (tools/factory/
// Recipes.cpp), built in a fresh processor and saved with its own savePatch,
// so the files are exactly what Korvane writes. Files in the folder that no
// recipe names any more are removed. `make factory` runs it on
// resources/factory.
//
//   korvane-make-factory OUT-FOLDER
#include "FactoryRecipes.h"

#include "diagnostics/Notices.h"

#include <juce_events/juce_events.h>

#include <iostream>
#include <set>

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: korvane-make-factory OUT-FOLDER" << std::endl;
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juce;
    Notices::setHandler (Notices::toStandardError());

    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String::fromUTF8 (argv[1]));

    if (! folder.createDirectory())
    {
        std::cerr << "korvane-make-factory: cannot create " << folder.getFullPathName() << std::endl;
        return 1;
    }

    std::set<juce::String> written;

    for (const auto& recipe : Factory::recipes())
    {
        const auto& name = recipe.name;

        // A name becomes a file name and the text before its first "." the patch name.
        if (name.isEmpty() || name.trim() != name || name.containsAnyOf ("./\\~") || written.count (name) > 0)
        {
            std::cerr << "korvane-make-factory: unusable or repeated patch name '" << name << "'" << std::endl;
            return 1;
        }

        if (Factory::writeRecipe (recipe, folder) == juce::File())
        {
            std::cerr << "korvane-make-factory: could not write " << name << std::endl;
            return 1;
        }

        written.insert (name);
    }

    for (const auto& file : folder.findChildFiles (juce::File::findFiles, false, "*.kvn"))
        if (written.count (file.getFileNameWithoutExtension()) == 0)
            file.deleteFile();

    std::cout << written.size() << " patches written to " << folder.getFullPathName() << std::endl;
    return 0;
}
