// Content types by file extension: the built-in list, the system's registrations, look-ups.
#include "http/mime_table.h"

#include <fstream>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "platform/exception.h"
#include "platform/sjis.h"

namespace vm {
namespace {

// Where the system registers extension-to-type mappings.
constexpr const char* kSystemMimeTypesFile = "/etc/mime.types";
constexpr const char* kUnknownType = "application/octet-stream";

std::string WithLeadingDot(std::string extension) {
  if (extension.empty() || extension[0] != '.') extension.insert(0, ".");
  return extension;
}

// Positions of the extension=type lines by lower-cased extension (first line of each).
using LineIndex = std::unordered_map<std::string, size_t>;

// Sets the list's extension=type line for the extension: replaced where it stands, else appended.
void SetLineValue(std::vector<std::string>& lines, LineIndex& index, const std::string& extension,
                  const std::string& type) {
  const auto found = index.find(extension);
  if (found != index.end()) {
    lines[found->second] = extension + "=" + type;
    return;
  }
  index.emplace(extension, lines.size());
  lines.push_back(extension + "=" + type);
}

// Amends the list from a mime.types file: lines "type ext1 ext2 ...", "#" starts a comment.
// A missing or unreadable file registers nothing.
void ApplySystemRegistrations(std::vector<std::string>& lines, const std::string& path) {
  if (path.empty()) return;
  std::ifstream file(path);
  if (!file) return;
  LineIndex index;
  for (size_t i = 0; i < lines.size(); ++i) {
    index.emplace(LowerAscii(lines[i].substr(0, lines[i].find('='))), i);
  }
  std::string line;
  while (std::getline(file, line)) {
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream fields(line);
    std::string type;
    if (!(fields >> type)) continue;
    std::string extension;
    while (fields >> extension) SetLineValue(lines, index, WithLeadingDot(LowerAscii(extension)), type);
  }
}

std::vector<std::string> BuildLines(const std::string& mimeTypesFile) {
  std::vector<std::string> lines = BuiltInMimeLines();
  ApplySystemRegistrations(lines, mimeTypesFile);
  return lines;
}

// The extension of a file name: from the last "." of its last path component, lower-cased.
std::string ExtensionOf(const std::string& fileName) {
  const size_t separator = fileName.find_last_of("/:");
  const size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return std::string();
  return LowerAscii(fileName.substr(dot));
}

}  // namespace

const std::vector<std::string>& BuiltInMimeLines() {
  // The order matters: for an extension listed twice the first line wins.
  static const std::vector<std::string> kLines = {
    ".aiff=audio/x-aiff", ".au=audio/basic", ".mid=midi/mid", ".mp3=audio/x-mpg",
    ".m3u=audio/x-mpegurl", ".qcp=audio/vnd.qcelp", ".ra=audio/x-realaudio", ".wav=audio/x-wav",
    ".gsm=audio/x-gsm", ".wax=audio/x-ms-wax", ".wma=audio/x-ms-wma", ".ram=audio/x-pn-realaudio",
    ".mjf=audio/x-vnd.AudioExplosion.MjuiceMediaFile", ".bmp=image/bmp", ".gif=image/gif",
    ".jpg=image/jpeg", ".jpeg=image/jpeg", ".jpe=image/jpeg", ".pict=image/x-pict",
    ".png=image/x-png", ".svg=image/svg-xml", ".tif=image/x-tiff", ".rf=image/vnd.rn-realflash",
    ".rp=image/vnd.rn-realpix", ".ico=image/x-icon", ".art=image/x-jg", ".pntg=image/x-macpaint",
    ".qtif=image/x-quicktime", ".sgi=image/x-sgi", ".targa=image/x-targa", ".xbm=image/xbm",
    ".psd=image/x-psd", ".pnm=image/x-portable-anymap", ".pbm=image/x-portable-bitmap",
    ".pgm=image/x-portable-graymap", ".ppm=image/x-portable-pixmap", ".rgb=image/x-rgb",
    ".xbm=image/x-xbitmap", ".xpm=image/x-xpixmap", ".xwd=image/x-xwindowdump", ".323=text/h323",
    ".xml=text/xml", ".uls=text/iuls", ".txt=text/plain", ".rtx=text/richtext",
    ".wsc=text/scriptlet", ".rt=text/vnd.rn-realtext", ".htt=text/webviewhtml",
    ".htc=text/x-component", ".vcf=text/x-vcard", ".avi=video/x-msvideo", ".flc=video/flc",
    ".mpeg=video/x-mpeg2a", ".mov=video/quicktime", ".rv=video/vnd.rn-realvideo",
    ".ivf=video/x-ivf", ".wm=video/x-ms-wm", ".wmp=video/x-ms-wmp", ".wmv=video/x-ms-wmv",
    ".wmx=video/x-ms-wmx", ".wvx=video/x-ms-wvx", ".rms=video/vnd.rn-realvideo-secure",
    ".asx=video/x-ms-asf-plugin", ".movie=video/x-sgi-movie", ".wmd=application/x-ms-wmd",
    ".wms=application/x-ms-wms", ".wmz=application/x-ms-wmz", ".p12=application/x-pkcs12",
    ".p7b=application/x-pkcs7-certificates", ".p7r=application/x-pkcs7-certreqresp",
    ".qtl=application/x-quicktimeplayer", ".rtsp=application/x-rtsp",
    ".swf=application/x-shockwave-flash", ".sit=application/x-stuffit", ".tar=application/x-tar",
    ".man=application/x-troff-man", ".urls=application/x-url-list",
    ".zip=application/x-zip-compressed", ".cdf=application/x-cdf",
    ".fml=application/x-file-mirror-list", ".fif=application/fractals",
    ".spl=application/futuresplash", ".hta=application/hta", ".hqx=application/mac-binhex40",
    ".doc=application/msword", ".pdf=application/pdf", ".p10=application/pkcs10",
    ".p7m=application/pkcs7-mime", ".p7s=application/pkcs7-signature",
    ".cer=application/x-x509-ca-cert", ".crl=application/pkix-crl", ".ps=application/postscript",
    ".sdp=application/x-sdp", ".setpay=application/set-payment-initiation",
    ".setreg=application/set-registration-initiation", ".smil=application/smil",
    ".ssm=application/streamingmedia", ".xfdf=application/vnd.adobe.xfdf",
    ".fdf=application/vnd.fdf", ".xls=application/x-msexcel",
    ".sst=application/vnd.ms-pki.certstore", ".pko=application/vnd.ms-pki.pko",
    ".cat=application/vnd.ms-pki.seccat", ".stl=application/vnd.ms-pki.stl",
    ".rmf=application/vnd.rmf", ".rm=application/vnd.rn-realmedia",
    ".rnx=application/vnd.rn-realplayer", ".rjs=application/vnd.rn-realsystem-rjs",
    ".rmx=application/vnd.rn-realsystem-rmx", ".rmp=application/vnd.rn-rn_music_package",
    ".rsml=application/vnd.rn-rsml", ".vsl=application/x-cnet-vsl", ".z=application/x-compress",
    ".tgz=application/x-compressed", ".dir=application/x-director", ".gz=application/x-gzip",
    ".uin=application/x-icq", ".hpf=application/x-icq-hpf", ".pnq=application/x-icq-pnq",
    ".scm=application/x-icq-scm", ".ins=application/x-internet-signup", ".iii=application/x-iphone",
    ".latex=application/x-latex", ".nix=application/x-mix-transfer", ".wbmp=image/vnd.wap.wbmp",
    ".wml=text/vnd.wap.wml", ".wmlc=application/vnd.wap.wmlc", ".wmls=text/vnd.wap.wmlscript",
    ".wmlsc=application/vnd.wap.wmlscriptc", ".css=text/css", ".htm=text/html", ".html=text/html",
    ".shtml=server-parsed-html", ".xml=text/xml", ".sgm=text/sgml", ".sgml=text/sgml",
  };
  return kLines;
}

TIdMimeTable::TIdMimeTable() : TIdMimeTable(kSystemMimeTypesFile) {}

TIdMimeTable::TIdMimeTable(const std::string& mimeTypesFile) { LoadFromStrings(BuildLines(mimeTypesFile)); }

std::string TIdMimeTable::GetFileMIMEType(const std::string& fileName) const {
  const std::string extension = ExtensionOf(fileName);
  if (const auto found = index_.find(extension); found != index_.end()) return types_[found->second];
  if (extensions_.empty()) {
    // An emptied table answers from a fresh build rather than from nothing; the
    // table itself stays untouched, as connection threads read it without a lock.
    const TIdMimeTable rebuilt;
    if (const auto found = rebuilt.index_.find(extension); found != rebuilt.index_.end())
      return rebuilt.types_[found->second];
  }
  return kUnknownType;
}

void TIdMimeTable::AddMimeType(const std::string& extension, const std::string& mimeType) {
  if (extension.empty()) throw Exception("Extension is empty");
  if (mimeType.empty()) throw Exception("Mimetype is empty");
  const std::string key = WithLeadingDot(LowerAscii(extension));
  if (index_.count(key) != 0) throw Exception("Extension already exits");
  index_.emplace(key, extensions_.size());
  extensions_.push_back(key);
  types_.push_back(LowerAscii(mimeType));
}

void TIdMimeTable::LoadFromStrings(const std::vector<std::string>& lines) {
  extensions_.clear();
  types_.clear();
  index_.clear();
  for (const std::string& line : lines) {
    const size_t equals = line.find('=');
    const std::string extension = LowerAscii(line.substr(0, equals));
    const std::string type = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    // Skipped rather than thrown: one bad registration must not stop the server.
    if (extension.empty() || type.empty()) continue;
    if (index_.count(WithLeadingDot(extension)) != 0) continue;
    AddMimeType(extension, type);
  }
}

}  // namespace vm
