// To be completed: the request, drawing, layout and the two buttons (members and interface only so far).
#include "OAMotdScreen.h"

OAMotdScreen::OAMotdScreen() = default;
OAMotdScreen::~OAMotdScreen() = default;

void OAMotdScreen::requestMotd() {}
void OAMotdScreen::paint (juce::Graphics&) {}
void OAMotdScreen::resized() {}
void OAMotdScreen::buttonClicked (juce::Button*) {}
