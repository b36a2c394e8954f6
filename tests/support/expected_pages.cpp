#include "support/expected_pages.h"

#include "web/sjis_texts.h"

namespace vmtest {

using vm::Sjis;

namespace {

constexpr char kViewport[] =
    R"(<meta name="viewport" content="width=device-width, initial-scale=1">)";

// The opening lines of the login, text and blank pages (the first two fitted to a phone's
// screen and given the style sheet and the page script for their kind), then the given lines.
std::vector<std::string> PlainPage(const std::vector<std::string>& rest, bool phone,
                                   const std::string& scriptKind = "",
                                   const std::string& headEnd = "") {
  std::vector<std::string> lines = {
      R"(<HTML>)",
      R"(<HEAD>)",
      R"(<meta http-equiv="Content-Type" content="text/html; charset=Shift_JIS">)",
  };
  if (phone) lines.push_back(kViewport);
  if (!scriptKind.empty()) {
    // The login page loads them by the names that are served before a login.
    const bool login = scriptKind == "login";
    lines.push_back(std::string(R"(<link rel="stylesheet" type="text/css" href=")") +
                    (login ? "vm-style" : "vcom.css") + R"(">)");
    lines.push_back(std::string(R"(<script type="text/javascript" src=")") +
                    (login ? "vm-script" : "vcom.js") + R"(" data-page=")" + scriptKind +
                    R"("></script>)");
  }
  if (!headEnd.empty()) lines.push_back(headEnd);
  lines.insert(lines.end(), {
                                R"(<TITLE>Velmarind</TITLE>)",
                                R"(</HEAD>)",
                                R"(<BODY>)",
                                R"(<center><h1>Velmarind</h1></center><hr>)",
                            });
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

}  // namespace

std::vector<std::string> ExpectedLoginForm(bool wrongPassword, const std::string& stamp,
                                           int waitSeconds) {
  std::vector<std::string> lines = PlainPage(
      {}, true, "login",
      waitSeconds ? R"(<meta name="velmarind-wait" content=")" + std::to_string(waitSeconds) + R"(">)"
                  : "");
  if (wrongPassword) {
    lines.push_back(
        Sjis(R"(<font color="red" size="+1"><b>パスワードが正しくありません</b></font><br>)"));
  }
  const std::vector<std::string> rest = {
      R"~(<form name="mform" action="login.html" method="POST" onsubmit="return cmd_go()">)~",
      R"(<input type="hidden" name="pw" value="">)",
      R"(<b style="font-size:15pt">Password:</b><input type="password" name="passwd" value="" size=30  style="font-size:15pt">)",
      R"(<input type="submit" value="LOGIN" style="font-size:15pt">)",
      R"(<input type="hidden" name="tt" value=")" + stamp + R"(">)",
      R"(</form>)",
      R"(</BODY>)",
      R"(<script language="JavaScript">)",
      R"(<!--)",
      R"~(function cmd_go())~",
      R"({)",
      R"(   mform.pw.value=str2hex(mform.passwd.value);)",
      R"(   mform.passwd.value="";)",
      R"(   return true;)",
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
  const std::string target = "index.html?tt=" + stamp;
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
  if (links.empty()) lines.push_back(Sjis("<p>このPCはまだフォルダを公開していません。</p>"));
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

// The text-creation page with the values of the dirname and dirpath fields, the shown name and
// the file name as they must appear.
std::vector<std::string> ExpectedTextPage(const std::string& dirValue, const std::string& shownName,
                                          const std::string& fname, const std::string& pathValue) {
  return PlainPage(
      {
          R"(<form name="mform" action="blank.html" method="POST" accept-charset="UTF-8">)",
          R"(<input type="hidden" name="menu" value="newtext">)",
          R"(<input type="hidden" name="_charset_">)",
          R"(<input type="hidden" name="dirname" value=")" + dirValue + R"(">)",
          R"(<input type="hidden" name="dirpath" value=")" + pathValue + R"(">)",
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
          R"(<span id="vmsg" role="alert" style="font-size:13pt;color:red"></span>)",
          R"(</form>)",
          R"(</BODY>)",
          R"(<script language="JavaScript">)",
          R"(<!--)",
          R"(var busy=false;)",
          R"~(function cmd_go(){)~",
          Sjis(R"~(   if(busy||!confirm("登録しますか?")) return;)~"),
          R"~(   if(!window.fetch){ mform.submit(); return; })~",
          R"~(   var data=new FormData(mform);)~",
          R"~(   data.set("_charset_","UTF-8");)~",
          R"~(   data.set("tbody",mform.tbody.value.replace(/\r\n|\r|\n/g,"\r\n"));)~",
          R"(   busy=true;)",
          R"~(   show_msg("");)~",
          R"~(   fetch("blank.html",{method:"POST",body:new URLSearchParams(data)}).then(function(r){)~",
          R"~(      if(r.headers.get("X-Velmarind-Saved")===null){)~",
          R"(         busy=false;)",
          R"~(         show_msg(refusal(r.headers.get("X-Velmarind-Refused")));)~",
          R"~(      }else if(window.opener&&!window.opener.closed){)~",
          R"~(         window.opener.location.reload();)~",
          R"~(         close();)~",
          R"~(      }else location.replace("index.html");)~",
          R"~(   },function(){ busy=false; show_msg(refusal("")); });)~",
          R"(})",
          R"~(function refusal(why){)~",
          Sjis(
              R"~(   var texts={NoFolder:"保存先のフォルダが見つかりません",BadName:"このファイル名は使えません",CannotWrite:"ファイルを書き込めませんでした"};)~"),
          Sjis(R"~(   return texts.hasOwnProperty(why)?texts[why]:"保存できませんでした";)~"),
          R"(})",
          R"~(function show_msg(text){)~",
          R"~(   document.getElementById("vmsg").textContent=text;)~",
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
      },
      true, "text");
}

std::vector<std::string> ExpectedBlankPage() {
  return PlainPage(
      {
          R"(</BODY>)",
          R"(<script language="JavaScript">)",
          R"(<!--)",
          R"~(if(window.opener) window.opener.location.reload();)~",
          R"~(close();)~",
          R"(//-->)",
          R"(</script>)",
          R"(</HTML>)",
      },
      false);
}

std::vector<std::string> ExpectedGoHomePage(const std::string& url) {
  return {
      R"(<HTML>)",
      R"(<HEAD>)",
      R"(<meta http-equiv="Content-Type" content="text/html; charset=Shift_JIS">)",
      R"(<TITLE>Velmarind</TITLE>)",
      R"(<meta http-equiv="Refresh" content="0; url=)" + url + R"(">)",
      R"(</HEAD>)",
      R"(<BODY>)",
      R"(<a href=")" + url + R"(">)" + url + R"(</a>)",
      R"(</BODY>)",
      R"(</HTML>)",
  };
}

}  // namespace vmtest
