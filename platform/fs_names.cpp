// The file-system name boundary: Shift_JIS system texts on one side, UTF-8 Linux names on the
// other, converted one "/"-separated component at a time.
//
// Splitting a system text at "/" is safe: 0x2F is never the second byte of a CP932 character
// (trail bytes are 0x40-0x7E and 0x80-0xFC), and never part of a multibyte UTF-8 sequence.
// 0x5C ("\") is a trail byte (表 is 95 5C), so it is never treated as a separator here.
//
// Ambiguity: a component kept in its native bytes may also read as valid CP932 ("é" is C3 A9,
// which CP932 reads as the half-width katakana ﾃｩ). Going back to disk, the reading that names
// an existing entry wins; when both or neither do, the CP932 reading wins, because that is the
// form every name the system made itself has.
#include "platform/fs_names.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/iconv_converter.h"

namespace vm {

namespace {

// Descriptors are per thread, so conversions on several connection threads never share one.
IconvConverter& Utf8ToCp932() {
  thread_local IconvConverter converter("CP932", "UTF-8");
  return converter;
}

IconvConverter& Cp932ToUtf8() {
  thread_local IconvConverter converter("UTF-8", "CP932");
  return converter;
}

// Length of the well-formed UTF-8 sequence at text[i] (1-4), or 0 when the bytes there are not
// one: a stray continuation byte, a cut-off sequence, an overlong form, a surrogate, or a value
// past U+10FFFF.
size_t Utf8SequenceAt(std::string_view text, size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  size_t len;
  unsigned min;
  unsigned cp;
  if (b < 0x80) {
    return 1;
  } else if (b >= 0xC2 && b <= 0xDF) {
    len = 2, min = 0x80, cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3, min = 0x800, cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4, min = 0x10000, cp = b & 0x07;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t len = Utf8SequenceAt(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

bool EntryExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Calls visit(component, nativePrefix) for each non-empty "/"-separated component, where
// nativePrefix is the native path resolved so far, and joins the results with "/": leading,
// trailing and doubled slashes survive unchanged. visit returns {shown, native}; the result
// is the joined shown parts.
template <typename Visit>
std::string MapComponents(std::string_view path, Visit visit) {
  std::string shown;
  std::string native;
  shown.reserve(path.size() * 3 / 2);
  size_t begin = 0;
  while (true) {
    const size_t slash = path.find('/', begin);
    const std::string_view part =
        path.substr(begin, slash == std::string_view::npos ? slash : slash - begin);
    if (!part.empty()) {
      auto [shownPart, nativePart] = visit(part, native);
      shown += shownPart;
      native += nativePart;
    }
    if (slash == std::string_view::npos) break;
    shown.push_back('/');
    native.push_back('/');
    begin = slash + 1;
  }
  return shown;
}

struct Parts {
  std::string shown;
  std::string native;
};

enum class Tiebreak { kShiftJis, kLikelyNative };

// The native bytes of one system component; prefix is the native path resolved so far.
// When the disk cannot tell the two readings apart (both or neither exist), tiebreak decides.
std::string ComponentToNative(std::string_view component, const std::string& prefix,
                              Tiebreak tiebreak) {
  std::string raw(component);
  std::optional<std::string> decoded = ShiftJisToUtf8Strict(component);
  if (!decoded) return raw;
  if (*decoded == raw) return raw;
  // Both readings are possible: the raw bytes may be a name kept native (even one that is
  // not valid UTF-8, as older Latin-1 names are). Whichever names an existing entry wins.
  const bool decodedExists = EntryExists(prefix + *decoded);
  if (decodedExists && tiebreak == Tiebreak::kShiftJis) return *decoded;
  const bool rawExists = EntryExists(prefix + raw);
  if (decodedExists != rawExists) return decodedExists ? *decoded : raw;
  // Only the native-keeping rule puts valid UTF-8 of a text CP932 cannot hold into a system
  // text; the CP932 reading of such bytes (ﾃｩ for é) is almost never what was written.
  if (tiebreak == Tiebreak::kLikelyNative && !decodedExists && IsValidUtf8(raw) &&
      !Utf8ToShiftJis(raw)) {
    return raw;
  }
  return *decoded;
}

}  // namespace

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::optional<std::string> Utf8ToShiftJis(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  std::optional<std::string> sjis = Utf8ToCp932().Convert(utf8);
  // CP932 maps some characters one way only ("〜" U+301C and "～" U+FF5E both become 81 60,
  // "¥" becomes 5C). Such a name could not be found again, so it counts as not representable.
  if (!sjis || Cp932ToUtf8().Convert(*sjis) != std::optional<std::string>(std::string(utf8))) {
    return std::nullopt;
  }
  return sjis;
}

std::optional<std::string> ShiftJisToUtf8Strict(std::string_view sjis) {
  if (IsAscii(sjis)) return std::string(sjis);
  return Cp932ToUtf8().Convert(sjis);
}

std::string ToValidUtf8(std::string_view bytes) {
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const size_t len = Utf8SequenceAt(bytes, i);
    if (len == 0) {
      out.append(kReplacement);
      ++i;
    } else {
      out.append(bytes.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::string NativeToSystem(std::string_view native) {
  if (IsAscii(native)) return std::string(native);
  return MapComponents(native, [](std::string_view part, const std::string&) {
    std::optional<std::string> sjis = Utf8ToShiftJis(part);
    return Parts{sjis ? *sjis : std::string(part), std::string(part)};
  });
}

std::string SystemToNative(std::string_view system) {
  if (IsAscii(system)) return std::string(system);
  return MapComponents(system, [](std::string_view part, const std::string& prefix) {
    std::string native = ComponentToNative(part, prefix, Tiebreak::kShiftJis);
    return Parts{native, native};
  });
}

std::string NewEntryNativeName(std::string_view systemName) {
  std::optional<std::string> decoded = ShiftJisToUtf8Strict(systemName);
  return decoded ? *decoded : std::string(systemName);
}

// The disk decides as in SystemToNative; where it cannot (a display name, a path not yet
// created), a likely native name is shown as itself. Bytes that are not UTF-8 at all are
// shown with replacement characters.
std::string SystemToDisplayUtf8(std::string_view system) {
  if (IsAscii(system)) return std::string(system);
  return MapComponents(system, [](std::string_view part, const std::string& prefix) {
    std::string native = ComponentToNative(part, prefix, Tiebreak::kLikelyNative);
    std::string shown = ToValidUtf8(native);
    return Parts{std::move(shown), std::move(native)};
  });
}

std::string DisplayUtf8ToSystem(std::string_view utf8) { return NativeToSystem(utf8); }

std::string WithFinalSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path.push_back('/');
  return path;
}

}  // namespace vm
