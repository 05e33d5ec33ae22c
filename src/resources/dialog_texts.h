#pragma once
// The texts of the modal dialogs, by resource id.

#include <string_view>

#include "platform/host.h"

inline constexpr std::string_view kCommFailureText =
    "Communication with the radio has failed. Since a programming operation was interrupted the radio may not "
    "function properly. Check for proper power and interface connections. Cycle the power on the radio and retry "
    "the programming operation.";
inline constexpr std::string_view kUpdateDoneText = "Flash Update Successfuly Completed !";
inline constexpr std::string_view kVerifyDoneText = "File and Firmware Sucessfully Verified";
inline constexpr std::string_view kNoErrorCheckText =
    "File Processing Complete! \r\n\r\nThere is no way to determine if Flash Updating was successful because error "
    "checking was turned off.";
inline constexpr std::string_view kVerifyFailedText =
    "The selected file does not match the contents of the radio's Flash Memory system. You may be using the wrong "
    "RUF file for comparison. Cycle the power on the radio and confirm the firmware revision and try again. You may "
    "want to reprogram and reverify.";
inline constexpr std::string_view kUpdateFailedText =
    "Unable to update the radio's Flash Memory with the selected file. Confirm that the radio is connected and "
    "powered and that the update file is a valid Rom Update File (RUF) for this radio.";
inline constexpr std::string_view kPersonalityText =
    "The Merrow with Extended Memory can store multiple radio programs onboard the radio. Please select which memory "
    "location you would like to use to store this program. Or you can press CANCEL to abort this update.";

struct DialogText {
  std::string_view caption;
  std::string_view text;
};

constexpr DialogText DialogTextOf(int resourceId) {
  switch (resourceId) {
    case kDialogCommFailure: return {"Error Encountered", kCommFailureText};
    case kDialogUpdateDone: return {"Flash Update", kUpdateDoneText};
    case kDialogVerifyDone: return {"Flash Verification", kVerifyDoneText};
    case kDialogNoErrorCheck: return {"Flash Loader", kNoErrorCheckText};
    case kDialogVerifyFailed: return {"Dialog", kVerifyFailedText};
    case kDialogUpdateFailed: return {"Dialog", kUpdateFailedText};
    case kDialogPersonality: return {"Merrow - Extended Memory", kPersonalityText};
    default: return {"", ""};
  }
}
