#include "support/expected_pages.h"

#include "web/sjis_texts.h"

namespace vmtest {

using vm::Sjis;

namespace {

// The opening lines of the login, text and blank pages, then the given lines.
std::vector<std::string> PlainPage(const std::vector<std::string>& rest) {
  std::vector<std::string> lines = {
      R"(<HTML>)",
      R"(<HEAD>)",
      R"(<meta http-equiv="Content-Type" content="text/html; charset=Shift_JIS">)",
      R"(<TITLE>Velmarind</TITLE>)",
      R"(</HEAD>)",
      R"(<BODY>)",
      R"(<center><h1>Velmarind</h1></center><hr>)",
  };
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

}  // namespace

std::vector<std::string> ExpectedLoginForm(bool wrongPassword, const std::string& stamp) {
  std::vector<std::string> lines = PlainPage({});
  if (wrongPassword) {
    lines.push_back(
        Sjis(R"(<font color="red" size="+1"><b>パスワードが正しくありません</b></font><br>)"));
  }
  const std::vector<std::string> rest = {
      R"(<form name="mform" action="login.html" method="GET">)",
      R"(<input type="hidden" name="pw" value="">)",
      R"(<b style="font-size:15pt">Password:</b><input type="password" name="passwd" value="" size=30  style="font-size:15pt">)",
      R"~(<input type="button" onclick="cmd_go()" value="LOGIN" style="font-size:15pt">)~",
      R"(<input type="hidden" name="tt" value=")" + stamp + R"(">)",
      R"(</form>)",
      R"(</BODY>)",
      R"(<script language="JavaScript">)",
      R"(<!--)",
      R"~(function cmd_go())~",
      R"({)",
      R"(   mform.pw.value=str2hex(mform.passwd.value);)",
      R"(   mform.passwd.value="";)",
      R"(   mform.submit();)",
      R"(})",
      R"(function str2hex(sval){)",
      "\t"
      R"(var hexStr= "";)",
      "\t"
      R"(for ( var i=0; i<sval.length; i++ ) {)",
      R"(      hexStr += sval.charCodeAt(i).toString(16).toUpperCase();)",
      "\t"
      R"(})",
      "\t"
      R"(return hexStr;)",
      R"(})",
      R"(//-->)",
      R"(</script>)",
      R"(</HTML>)",
  };
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

std::vector<std::string> ExpectedLoginDonePage(const std::string& baseUrl,
                                               const std::string& stamp) {
  const std::string target = baseUrl + "index.html?tt=" + stamp;
  return {
      R"(<HTML>)",
      R"(<HEAD>)",
      R"(<meta http-equiv="Content-Type" content="text/html; charset=Shift_JIS">)",
      R"(<meta http-equiv="Refresh" content="0; url=)" + target + R"(">)",
      R"(<TITLE>Velmarind</TITLE>)",
      R"(</HEAD>)",
      R"(<BODY>)",
      R"(<center><h1>Velmarind</h1></center><hr>)",
      Sjis(R"(<font color="green" size="+1"><b>ログイン完了</b></font><br>)"),
      R"(<p><a href=")" + target + R"(">)" + baseUrl + R"(</a></p>)",
      R"(</BODY>)",
      R"(</HTML>)",
  };
}

std::vector<std::string> ExpectedIndexPage(const std::vector<std::string>& links) {
  std::vector<std::string> lines = {
      R"(<HTML>)",
      R"(<HEAD>)",
      R"(<meta http-equiv="Content-Type" content="text/html; charset=Shift_JIS">)",
      R"(<TITLE>Velmarind</TITLE>)",
      R"(<link rel="stylesheet" type="text/css" href="vcom.css">)",
      R"(<script type="text/javascript" src="vcom.js"></script>)",
      R"(</HEAD>)",
      R"(<BODY>)",
      R"(<center><h1>Velmarind</h1></center><hr>)",
  };
  lines.insert(lines.end(), links.begin(), links.end());
  const std::vector<std::string> rest = {
      R"(<hr>)",
      R"(<form name="mform" action="index.html" method="POST" enctype="multipart/form-data" style="display:none;">)",
      R"(<input type="hidden" name="menu" value="updimg">)",
      R"(<b style="font-size:13pt">Upload:</b><input type="file" name="ifile" size=50>)",
      R"(<input type="hidden" name="dirname" value="" style="font-size:13pt">)",
      Sjis(R"(<input type="submit" value="送信" style="font-size:13pt">)"),
      Sjis(
          R"~(&nbsp; &nbsp; <input type="button" onclick="cmd_text()" value="テキスト作成" style="font-size:13pt">)~"),
      R"(<hr></form>)",
      R"(<div id="m1"><div>)",
      R"(</BODY>)",
      R"(</HTML>)",
  };
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

std::string IndexLink(const std::string& hexName, const std::string& hexPath,
                      const std::string& text) {
  return "&nbsp;&nbsp;<a class=\"sh1\" href=\"javascript:exf('m1','" + hexName + "','" + hexPath +
         "')\">" + text + "</a>";
}

// The text-creation page with the values of lines 10, 11 and 13 as they must appear.
std::vector<std::string> ExpectedTextPage(const std::string& dirValue, const std::string& shownName,
                                          const std::string& fname) {
  return PlainPage({
      R"(<form name="mform" action="blank.html" method="POST">)",
      R"(<input type="hidden" name="menu" value="newtext">)",
      R"(<input type="hidden" name="dirname" value=")" + dirValue + R"(">)",
      R"(<p style="font-size:13pt"><b>)" + shownName + R"(</b></p>)",
      Sjis(R"(<b style="font-size:13pt">ファイル名：</b>)"),
      R"(<input type="text" name="fname" value=")" + fname +
          R"(" size=50 style="font-size:13pt"><br>)",
      R"(<textarea name="tbody" cols="100" rows="30" style="font-size:11pt"></textarea><br>)",
      Sjis(R"~(<input type="button" onclick="cmd_go()" value="保存" style="font-size:13pt">)~"),
      R"(&nbsp; &nbsp; &nbsp; )",
      Sjis(
          R"~(<input type="button" onclick="cmd_clear()" value="クリア" style="font-size:13pt">)~"),
      R"(&nbsp; &nbsp; &nbsp; )",
      Sjis(
          R"~(<input type="button" onclick="cmd_can()" value="キャンセル" style="font-size:13pt">)~"),
      R"(</form>)",
      R"(</BODY>)",
      R"(<script language="JavaScript">)",
      R"(<!--)",
      R"~(function cmd_go(){)~",
      Sjis(R"~(   if(!confirm("登録しますか?")) return;)~"),
      R"~(   mform.submit();)~",
      R"(})",
      R"~(function cmd_clear(){)~",
      R"~(    mform.reset();)~",
      R"(})",
      R"~(function cmd_can(){)~",
      R"~(    close();)~",
      R"(})",
      R"(//-->)",
      R"(</script>)",
      R"(</HTML>)",
  });
}

std::vector<std::string> ExpectedBlankPage() {
  return PlainPage({
      R"(</BODY>)",
      R"(<script language="JavaScript">)",
      R"(<!--)",
      R"~(if(window.opener) window.opener.location.reload();)~",
      R"~(close();)~",
      R"(//-->)",
      R"(</script>)",
      R"(</HTML>)",
  });
}

}  // namespace vmtest
