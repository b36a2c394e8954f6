// Each share's mode, enforced by every document whatever a page shows: the listing (and the mode
// it names), downloads, uploads and new texts; where shares nest the innermost decides, and a
// link takes the mode of the share it leads into.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/text_helpers.h"
#include "support/served_core.h"

namespace vm {
namespace {

using vmtest::THttpAnswer;
using vmtest::TServedCore;

constexpr char kBoundary[] = "----mode";

THttpAnswer Post(const TServedCore& served, const std::string& target, const std::string& type,
                 const std::string& body) {
  return vmtest::SplitAnswer(served.Exchange(
      "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
      "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
}

THttpAnswer Upload(const TServedCore& served, const std::string& share) {
  const std::string dash = std::string("--") + kBoundary;
  const std::string body =
      dash + "\r\nContent-Disposition: form-data; name=\"menu\"\r\n\r\nupdimg\r\n" + dash +
      "\r\nContent-Disposition: form-data; name=\"ifile\"; filename=\"u.txt\"\r\n"
      "Content-Type: text/plain\r\n\r\nup\r\n" + dash +
      "\r\nContent-Disposition: form-data; name=\"dirname\"\r\n\r\n" + HexEncode(share) + "\r\n" +
      dash + "--\r\n";
  return Post(served, "/velmarind/index.html",
              std::string("multipart/form-data; boundary=") + kBoundary, body);
}

THttpAnswer NewText(const TServedCore& served, const std::string& share) {
  return Post(served, "/velmarind/blank.html", "application/x-www-form-urlencoded",
              "menu=newtext&dirname=" + HexEncode(share) + "&fname=t.txt&tbody=text");
}

// How many records a listing holds (each begins ";;D::" or ";;F::").
int Records(const std::string& body) {
  int count = 0;
  for (size_t at = body.find(";;F::"); at != std::string::npos; at = body.find(";;F::", at + 1)) {
    ++count;
  }
  for (size_t at = body.find(";;D::"); at != std::string::npos; at = body.find(";;D::", at + 1)) {
    ++count;
  }
  return count;
}

TEST(ShareModes, EveryDocumentKeepsToTheModeWhereTheObjectLies) {
  vmtest::TTempFolder temp;
  struct TShare {
    const char* name;
    const char* mode;  // as stored; "" for none (the default)
    const char* header;
    bool lists, downloads, adds;
  };
  const TShare shares[] = {
      {"View", "view", "view", true, true, false},
      {"Upload", "", "upload", true, true, true},
      {"Full", "full", "full", true, true, true},
      {"Drop", "dropbox", "dropbox", false, false, true},
  };
  std::vector<std::string> list;
  std::string modes = "SHARE_MODES=";
  for (const TShare& share : shares) {
    const std::string folder = temp.MakeSubfolder(share.name);
    vmtest::WriteFileBytes(folder + "f.txt", "f");
    list.push_back(std::string(share.name) + ";;" + folder);
    if (*share.mode) modes += HexEncode(share.name) + ":" + share.mode + ",";
  }
  const TServedCore served(list, modes + "\r\n");
  for (const TShare& share : shares) {
    const std::string folder = temp.Path() + share.name + "/";
    const THttpAnswer listing = served.Get("/velmarind/script.html?pid=m1&name=" +
                                           HexEncode(share.name) + "&path=" + HexEncode(folder));
    EXPECT_EQ(listing.Header("X-Velmarind-Mode"), share.header) << share.name;
    EXPECT_EQ(Records(listing.body), share.lists ? 1 : 0) << share.name;
    EXPECT_EQ(listing.Header("X-Velmarind-Folder"), "") << share.name;  // a drop box is there
    EXPECT_EQ(served.Get("/velmarind/download.html?file=" + HexEncode(folder + "f.txt")).statusLine,
              share.downloads ? "HTTP/1.1 200 OK" : "HTTP/1.1 500 Internal Server Error")
        << share.name;
    const THttpAnswer text = NewText(served, share.name);
    EXPECT_EQ(text.Header("X-Velmarind-Refused"), share.adds ? "" : "NotAllowed") << share.name;
    Upload(served, share.name);
    int entries = 0;
    for (const std::string& name : temp.List(share.name)) entries += name != "f.txt";
    EXPECT_EQ(entries, share.adds ? 2 : 0) << share.name;  // the text and the upload
  }
}

TEST(ShareModes, TheInnermostShareDecidesAndLinksTakeTheModeOfTheirTarget) {
  vmtest::TTempFolder temp;
  const std::string outer = temp.MakeSubfolder("outer");
  ASSERT_EQ(mkdir((outer + "drop").c_str(), 0755), 0);
  vmtest::WriteFileBytes(outer + "drop/private.txt", "p");
  const std::string full = temp.MakeSubfolder("full");
  ASSERT_EQ(symlink((outer + "drop/private.txt").c_str(), (full + "link.txt").c_str()), 0);
  const TServedCore served({"Outer;;" + outer, "Drop;;" + outer + "drop/", "Full;;" + full},
                           "SHARE_MODES=" + HexEncode("Outer") + ":full," + HexEncode("Drop") +
                               ":dropbox," + HexEncode("Full") + ":full\r\n");
  const std::string inner = "/velmarind/script.html?pid=m1&name=" + HexEncode("Outer") + "&path=";
  // Reached through the outer share, the drop box is still a drop box.
  const THttpAnswer listing = served.Get(inner + HexEncode(outer + "drop/"));
  EXPECT_EQ(listing.Header("X-Velmarind-Mode"), "dropbox");
  EXPECT_EQ(Records(listing.body), 0);
  EXPECT_EQ(served.Get("/velmarind/download.html?file=" + HexEncode(outer + "drop/private.txt"))
                .statusLine,
            "HTTP/1.1 500 Internal Server Error");
  // A link in a full share into the drop box is neither listed nor followed.
  EXPECT_EQ(Records(served.Get(inner + HexEncode(full)).body), 0);
  EXPECT_EQ(served.Get("/velmarind/download.html?file=" + HexEncode(full + "link.txt")).statusLine,
            "HTTP/1.1 500 Internal Server Error");
  // The drop box's own folder is not moved away through the outer share.
  const std::string form = "dir=" + HexEncode(outer) + "&items=" + HexEncode("drop");
  EXPECT_EQ(Post(served, "/velmarind/vm-trash", "application/x-www-form-urlencoded", form)
                .Header("X-Velmarind-Refused"),
            "NotAllowed");
}

}  // namespace
}  // namespace vm
