// What browsers may do in a shared folder: one mode per share, chosen in the settings window.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace vm {

enum class TShareMode {
  ViewOnly,    // list and download
  ViewUpload,  // also upload files and create texts: the default
  Full,        // also delete (to the trash), rename and create folders
  UploadOnly,  // a drop box: upload and create texts; nothing is listed or downloaded
};

// A share whose name has no mode of its own has this one.
inline constexpr TShareMode kDefaultShareMode = TShareMode::ViewUpload;

// Modes by share name (system text); shares not in it have kDefaultShareMode.
using TShareModes = std::map<std::string, TShareMode, std::less<>>;

// The mode of the share of that name.
inline TShareMode ShareModeOf(const TShareModes& modes, std::string_view shareName) {
  const auto found = modes.find(shareName);
  return found == modes.end() ? kDefaultShareMode : found->second;
}

}  // namespace vm
