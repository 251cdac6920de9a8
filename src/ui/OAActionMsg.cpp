#include "OAActionMsg.h"

OAActionMsg::OAActionMsg (juce::String senderName, juce::String actionName, int actionValue)
    : message (senderName + "." + actionName + "." + juce::String (actionValue)),
      sender (std::move (senderName)),
      action (std::move (actionName)),
      value (actionValue)
{
}
