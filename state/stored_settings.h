// The settings as "velmarind.ini" and "dirlst.ini" keep them: the one place that spells their
// names and keys, the read that LoadSettings and the settings window share, and the write of the
// window's OK.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "state/main_state.h"

namespace vm {

// The configuration files in the program folder, and the section of the settings file.
inline constexpr char kSettingsFile[] = "velmarind.ini";
inline constexpr char kSharedFolderFile[] = "dirlst.ini";
inline constexpr char kSettingsSection[] = "COMMON";
// Keys of the settings file.
inline constexpr char kPortKey[] = "HTTP_PORT";
inline constexpr char kAutoRunKey[] = "AUTO_RUN";
inline constexpr char kPassFlagKey[] = "PASS_FLG";
inline constexpr char kPasswordKey[] = "PASSWORD";  // hex text
// Host names the server also answers under (comma-separated), and whether names starting with
// "." are published ("1").
inline constexpr char kExtraHostsKey[] = "HOSTS";
inline constexpr char kPublishDotFilesKey[] = "PUBLISH_DOT_FILES";
// The modes of the shares that do not have the default one: "hexname:word" items joined by ","
// (the name as hex text, so that any name survives the file; "dirlst.ini" keeps its format).
inline constexpr char kShareModesKey[] = "SHARE_MODES";
// Whether uploads keep the browser's file name ("1") instead of a stamped one.
inline constexpr char kKeepUploadNamesKey[] = "UPLOAD_KEEP_NAMES";
// The language of the windows: "ja", "en", or anything else (none) for the locale's.
inline constexpr char kLanguageKey[] = "LANGUAGE";
// Whether the shares are also served to file managers (WebDAV): on unless "0".
inline constexpr char kWebDavKey[] = "WEBDAV";
// Whether the desktop's QR code carries a one-time sign-in code while a password is required
// (anything but "0" is on), and how long such a code is valid, in seconds (1 to the default).
// The settings window edits neither: they are written by hand and kept by its OK.
inline constexpr char kQrSignInKey[] = "QR_SIGNIN";
inline constexpr char kSignInSecondsKey[] = "QR_SIGNIN_SECONDS";
// The port when none is configured, or the configured text is not a whole number.
inline constexpr int kDefaultPort = 80;
// The port a first start writes: ports below 1024 need privileges an ordinary user lacks.
inline constexpr int kFirstStartPort = 8080;

// Edited settings took effect for this run, but the files could not be written: the settings
// are lost when the program ends. Path() names the file that could not be written.
class ESettingsNotSaved : public EFCreateError {
 public:
  explicit ESettingsNotSaved(const EFCreateError& cause)
      : EFCreateError(cause.Message(), cause.Path()) {}
};

// Everything the settings window edits, as the files hold it.
struct TStoredSettings {
  int Port = kDefaultPort;
  int AutoRun = 0;  // 1 = start at log-in; other numbers read from the file are kept
  bool PassFlag = false;
  std::string Password;  // plain, system text
  std::vector<std::string> ExtraHosts;
  bool PublishDotFiles = false;
  bool KeepUploadNames = false;
  TLanguageChoice Language = TLanguageChoice::Auto;
  bool WebDav = true;
  bool QrSignIn = true;
  std::chrono::seconds SignInValidity = TSignInTokens::kDefaultValidity;
  TSharedFolderList SharedFolders;  // "name;;path", each path with its final "/"
  TShareModes ShareModes;           // by share name; only shares that are listed count

  bool operator==(const TStoredSettings&) const = default;
};

// Reads both files of the program folder; missing files and keys give the defaults.
TStoredSettings ReadStoredSettings(const std::string& programFolder);

// Stores edited settings in two steps, so that a caller can do something between writing and
// replacing (move the listener) and give up without a trace. The constructor writes the new
// files beside the old ones: "dirlst.ini" always, "velmarind.ini" only when one of its keys
// changes, and then only the changed ones (port and start flag go together, as do the password
// flag and the password). It throws EFCreateError, leaving nothing, when either cannot be written.
class TSettingsWrite {
 public:
  TSettingsWrite(const std::string& programFolder, const TStoredSettings& edited);
  ~TSettingsWrite();  // removes what was not committed
  TSettingsWrite(const TSettingsWrite&) = delete;
  TSettingsWrite& operator=(const TSettingsWrite&) = delete;

  // Puts the written files in place of the old ones (throws EFCreateError).
  void Commit();

 private:
  class TStagedFile;
  std::vector<TStagedFile> staged_;
};

// Both steps at once.
void WriteStoredSettings(const std::string& programFolder, const TStoredSettings& edited);

// A first start: when the folder has no "velmarind.ini", writes one with kFirstStartPort.
// True when it wrote one; throws EFCreateError when it could not.
bool WriteFirstStartSettings(const std::string& programFolder);

// Reads "dirlst.ini": one entry per line (CR LF, lone CR or LF end a line; a zero byte ends
// the text). A missing file gives an empty list.
std::vector<std::string> ReadSharedFolderFile(const std::string& path);
// Rewrites "dirlst.ini" whole: each entry followed by CR LF.
void WriteSharedFolderFile(const std::string& path, const std::vector<std::string>& entries);

// The word a mode is stored as ("view", "upload", "full", "dropbox"), and back; nothing for an
// unknown word.
const char* ShareModeWord(TShareMode mode);
std::optional<TShareMode> ShareModeFromWord(std::string_view word);
// The value of kShareModesKey for the modes of the listed shares that differ from the default,
// and back (unreadable items are skipped).
std::string JoinShareModes(const TShareModes& modes, const TSharedFolderList& folders);
TShareModes SplitShareModes(const std::string& text);

// "a.example, b.lan,," -> {"a.example", "b.lan"}: each name trimmed, empty ones dropped.
std::vector<std::string> SplitHostList(const std::string& text);
// The names joined by separator.
std::string JoinHostList(const std::vector<std::string>& hosts, const std::string& separator);

}  // namespace vm
