#pragma once
// Where "update.ini" lives: the working directory of the moment.

#include <string>
#include <string_view>

// The path of "update.ini" in workingDirectory; empty when there is no usable
// working directory (the settings then keep their defaults and are not saved).
// At the root the name follows the slash directly: "/update.ini".
std::string SettingsFilePath(std::string_view workingDirectory);
