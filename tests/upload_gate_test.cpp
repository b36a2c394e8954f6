// A refused upload is dropped before it is kept: a large body aimed at a share that takes no
// files once filled the disk as "pastdata.txt" before it was refused.
#include "web/upload_gate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/text_helpers.h"
#include "support/file_size_limit.h"
#include "support/multipart.h"
#include "support/page_lines.h"
#include "support/served_core.h"

namespace vm {
namespace {

using vmtest::Multipart;
using vmtest::TFormPart;

const TFormPart kMenu{"name=\"menu\"", "updimg"};
TFormPart Field(const std::string& name, const std::string& value) {
  return {"name=\"" + name + "\"", value};
}
TFormPart File(size_t size) { return {"name=\"ifile\"; filename=\"f\"", std::string(size, 'f')}; }
// The body's start up to offset bytes past the first place of marker.
std::string Cut(const std::string& body, const std::string& marker, size_t offset) {
  return body.substr(0, body.find(marker) + offset);
}

// From the fields at a body's start: what is sure to be refused, and nothing that may yet be
// taken (a value cut short, a folder named after the files).
TEST(UploadGate, TheBodysFirstFieldsRefuseOnlyWhatIsSureToBeRefused) {
  vmtest::TTempFolder temp;
  const std::string view = temp.MakeSubfolder("view");
  ASSERT_EQ(mkdir((view + "drop").c_str(), 0755), 0);
  TStateSnapshot state;
  state.SharedFolders = std::make_shared<const TSharedFolderList>(TSharedFolderList{
      "View;;" + view, "Drop;;" + view + "drop/", "Full;;" + temp.MakeSubfolder("full"),
      "Plain;;" + temp.MakeSubfolder("plain")});
  state.Settings.ShareModes = {{"View", TShareMode::ViewOnly},
                               {"Drop", TShareMode::UploadOnly},
                               {"Full", TShareMode::Full},
                               {"Plain", TShareMode::ViewOnly}};
  const std::string viewHex = HexEncode("View");
  struct Row {
    const char* label;
    std::string start;
    TPostRefusal refusal;
  };
  const Row rows[] = {
      {"a view-only share named first",
       Multipart({kMenu, Field("dirname", HexEncode("Plain")), File(100)}),
       TPostRefusal::NotAllowed},
      {"a share that is not there", Multipart({kMenu, Field("dirname", HexEncode("No")), File(9)}),
       TPostRefusal::NoFolder},
      {"a folder inside it that is a drop box",
       Multipart({kMenu, Field("dirname", viewHex), Field("dirpath", HexEncode(view + "drop/")),
                  File(9)}),
       TPostRefusal::None},
      {"no folder path yet, and a drop box inside the share",
       Cut(Multipart({kMenu, Field("dirname", viewHex), File(99), Field("dirpath", "")}), "fff", 9),
       TPostRefusal::None},
      {"a share that takes files", Multipart({kMenu, Field("dirname", HexEncode("Full")), File(9)}),
       TPostRefusal::None},
      {"the folder after the files", Multipart({kMenu, File(100), Field("dirname", viewHex)}),
       TPostRefusal::None},
      {"a name cut short", Cut(Multipart({kMenu, Field("dirname", viewHex + "00")}), viewHex, 4),
       TPostRefusal::None},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RefusalFromBodyStart(state, row.start), row.refusal) << row.label;
  }
}

// Through the server: refused from the head when the query names the folder (the body is never
// read), or as soon as the body's first fields do; never written, never kept.
TEST(UploadGate, ARefusedUploadIsDroppedUnwritten) {
  vmtest::TTempFolder temp;
  const std::string view = temp.MakeSubfolder("view");
  const vmtest::TServedCore served({"View;;" + view, "Full;;" + temp.MakeSubfolder("full")},
                                   "SHARE_MODES=" + HexEncode("View") + ":view\r\n");
  const std::string head =
      "Host: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=----b0undary\r\n";
  const std::string fieldsFirst =
      Multipart({kMenu, Field("dirname", HexEncode("View")), File(6 << 20)});
  struct Row {
    const char* label;
    std::string request;
    std::string refusal;
  };
  const Row rows[] = {
      {"1 GiB announced, the query names a view-only share",
       "POST /velmarind/index.html?dirname=" + HexEncode("View") + " HTTP/1.1\r\n" + head +
           "Expect: 100-continue\r\nContent-Length: 1073741824\r\n\r\n",
       "NotAllowed"},
      {"the query names no share there",
       "POST /velmarind/index.html?dirname=" + HexEncode("Gone") + " HTTP/1.1\r\n" + head +
           "Content-Length: " + std::to_string(fieldsFirst.size()) + "\r\n\r\n" + fieldsFirst,
       "NoFolder"},
      {"past memory, the first fields name a view-only share",
       "POST /velmarind/index.html HTTP/1.1\r\n" + head +
           "Content-Length: " + std::to_string(fieldsFirst.size()) + "\r\n\r\n" + fieldsFirst,
       "NotAllowed"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    // Any byte of the body written to a file would fail the request.
    const vmtest::TFileSizeLimit full(64 * 1024);
    const vmtest::THttpAnswer answer = vmtest::SplitAnswer(served.Exchange(row.request));
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(answer.Header("X-Velmarind-Refused"), row.refusal);
    EXPECT_FALSE(vmtest::FileExists(served.ProgramFolder() + "pastdata.txt"));
    EXPECT_EQ(temp.List("view"), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace vm
