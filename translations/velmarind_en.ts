<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>vm::RunHandler</name>
    <message>
        <source>不明なエラーが発生しました。</source>
        <translation>An unknown error occurred.</translation>
    </message>
    <message>
        <source>ファイル %1 を作成できません</source>
        <translation>Cannot create file %1</translation>
    </message>
</context>
<context>
    <name>vm::TClientsTab</name>
    <message>
        <source>この1時間にアクセスしたブラウザと、転送中のファイル</source>
        <translation>Browsers that made requests in the last hour, and files being transferred</translation>
    </message>
    <message>
        <source>アドレス</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>時刻</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>リクエスト</source>
        <translation>Request</translation>
    </message>
    <message>
        <source>ログイン</source>
        <translation>Login</translation>
    </message>
    <message>
        <source>ログインをすべて取り消す</source>
        <translation>Revoke all logins</translation>
    </message>
    <message>
        <source>ログインしたブラウザはすべて、もう一度パスワードの入力が必要になります。</source>
        <translation>Every browser that logged in will have to enter the password again.</translation>
    </message>
    <message>
        <source>不要</source>
        <translation>Not needed</translation>
    </message>
    <message>
        <source>済み</source>
        <translation>Logged in</translation>
    </message>
    <message>
        <source>未</source>
        <translation>Not logged in</translation>
    </message>
    <message>
        <source>ダウンロード</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>アップロード</source>
        <translation>Upload</translation>
    </message>
    <message>
        <source>済み（QRコード）</source>
        <translation>Logged in (QR code)</translation>
    </message>
</context>
<context>
    <name>vm::TFormDiag1</name>
    <message>
        <source>選択</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>名前を入力してください。</source>
        <translation>Please enter a name.</translation>
    </message>
    <message>
        <source>名前に「;;」は使えません。</source>
        <translation>A name cannot contain &quot;;;&quot;.</translation>
    </message>
    <message>
        <source>名前に改行などの制御文字は使えません。</source>
        <translation>A name cannot contain line breaks or other control characters.</translation>
    </message>
    <message>
        <source>名前「%1」はほかの共有フォルダが使っています。</source>
        <translation>The name &quot;%1&quot; is used by another shared folder.</translation>
    </message>
    <message>
        <source>パスを入力してください。</source>
        <translation>Please enter a path.</translation>
    </message>
    <message>
        <source>パスに「;;」は使えません。</source>
        <translation>A path cannot contain &quot;;;&quot;.</translation>
    </message>
    <message>
        <source>パスに改行などの制御文字は使えません。</source>
        <translation>A path cannot contain line breaks or other control characters.</translation>
    </message>
    <message>
        <source>パス「%1」は「/」から始まるフォルダの場所で入力してください。</source>
        <translation>Please enter the path &quot;%1&quot; as a folder location starting with &quot;/&quot;.</translation>
    </message>
    <message>
        <source>フォルダ「%1」が見つかりません。</source>
        <translation>The folder &quot;%1&quot; cannot be found.</translation>
    </message>
    <message>
        <source>フォルダを選択してください</source>
        <translation>Select a folder</translation>
    </message>
    <message>
        <source>パス</source>
        <translation>Path</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>フォルダ「%1」を読む権限がありません。読めるフォルダを選んでください。</source>
        <translation>You may not read folder &quot;%1&quot;. Choose a folder you can read.</translation>
    </message>
</context>
<context>
    <name>vm::TFormHide</name>
    <message>
        <source>設定の変更が保存されていません。保存してから終了しますか？</source>
        <translation>The changed settings have not been saved. Save them before quitting?</translation>
    </message>
    <message>
        <source>保存して終了</source>
        <translation>Save and quit</translation>
    </message>
    <message>
        <source>保存せずに終了</source>
        <translation>Quit without saving</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>「%1」にテキストファイル「%2」が作られました（%3 から）</source>
        <translation>The text file &quot;%2&quot; was created in &quot;%1&quot; (from %3)</translation>
    </message>
    <message>
        <source>フォルダを開く</source>
        <translation>Open folder</translation>
    </message>
    <message>
        <source>「%1」を開くプログラムを起動できません（xdg-open が見つかりません）。</source>
        <translation>No program can be started to open &quot;%1&quot; (xdg-open was not found).</translation>
    </message>
    <message>
        <source>「%1」を開くプログラムを起動できませんでした（xdg-open が失敗しました）。</source>
        <translation>No program could be started to open &quot;%1&quot; (xdg-open failed).</translation>
    </message>
    <message>
        <source>Velmarind: 公開停止中
</source>
        <translation>Velmarind: not sharing
</translation>
    </message>
    <message>
        <source>このPCのURL（クリックでコピー）</source>
        <translation>This PC&apos;s URLs (click to copy)</translation>
    </message>
    <message>
        <source>終了(&amp;F)</source>
        <translation>&amp;Quit</translation>
    </message>
    <message>
        <source>設定(&amp;S)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>URL(&amp;U)</source>
        <translation>Open &amp;URL</translation>
    </message>
    <message>
        <source>「%1」にフォルダ「%2」が作られました（%3 から）</source>
        <translation>Folder &quot;%2&quot; was created in &quot;%1&quot; (from %3)</translation>
    </message>
    <message>
        <source>「%1」の「%2」がごみ箱に移されました（%3 から）</source>
        <translation>&quot;%2&quot; in &quot;%1&quot; was moved to the trash (from %3)</translation>
    </message>
    <message>
        <source>「%1」の「%2」ほか %3 個がごみ箱に移されました（%4 から）</source>
        <translation>&quot;%2&quot; and %3 more in &quot;%1&quot; were moved to the trash (from %4)</translation>
    </message>
    <message>
        <source>「%1」の「%2」が「%3」に名前を変えられました（%4 から）</source>
        <translation>&quot;%2&quot; in &quot;%1&quot; was renamed to &quot;%3&quot; (from %4)</translation>
    </message>
    <message numerus="yes">
        <source>「%1」に %n 個のファイルが届きました（%2 から）</source>
        <translation>
            <numerusform>%n file arrived in &quot;%1&quot; (from %2)</numerusform>
            <numerusform>%n files arrived in &quot;%1&quot; (from %2)</numerusform>
        </translation>
    </message>
    <message>
        <source>QRコード(&amp;Q)</source>
        <translation>&amp;QR code</translation>
    </message>
</context>
<context>
    <name>vm::TFormQr</name>
    <message>
        <source>Velmarind QRコード</source>
        <translation>Velmarind QR code</translation>
    </message>
    <message>
        <source>スマートフォンのカメラで読み取ってください</source>
        <translation>Scan this with your phone's camera</translation>
    </message>
    <message>
        <source>公開していません。</source>
        <translation>Nothing is being served.</translation>
    </message>
</context>
<context>
    <name>vm::TFormSet</name>
    <message>
        <source>閲覧のみ</source>
        <translation>View only</translation>
    </message>
    <message>
        <source>一覧の表示とダウンロードだけができます。</source>
        <translation>Browsers can list and download only.</translation>
    </message>
    <message>
        <source>閲覧とアップロード</source>
        <translation>View and upload</translation>
    </message>
    <message>
        <source>一覧の表示、ダウンロード、アップロード、テキストの作成ができます。</source>
        <translation>Browsers can list, download, upload and create text files.</translation>
    </message>
    <message>
        <source>完全</source>
        <translation>Full</translation>
    </message>
    <message>
        <source>閲覧とアップロードに加えて、ごみ箱への削除、名前の変更、フォルダの作成ができます。</source>
        <translation>View and upload, and also move to the trash, rename and create folders.</translation>
    </message>
    <message>
        <source>アップロードのみ</source>
        <translation>Upload only</translation>
    </message>
    <message>
        <source>アップロードとテキストの作成だけができます。一覧には何も表示されません。</source>
        <translation>Browsers can upload and create text files only; the list shows nothing.</translation>
    </message>
    <message>
        <source>共有フォルダ</source>
        <translation>Shared folders</translation>
    </message>
    <message>
        <source>パスワード</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>システム</source>
        <translation>System</translation>
    </message>
    <message>
        <source>接続</source>
        <translation>Connections</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>パス</source>
        <translation>Path</translation>
    </message>
    <message>
        <source>追加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>編集</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>削除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>上へ</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>下へ</source>
        <translation>Down</translation>
    </message>
    <message>
        <source>ドットで始まるファイルも公開する</source>
        <translation>Also share files whose names start with a dot</translation>
    </message>
    <message>
        <source>「.」で始まる名前のファイルとフォルダも、一覧に出し、ダウンロードできるようにします。</source>
        <translation>Files and folders whose names start with &quot;.&quot; are listed and can be downloaded too.</translation>
    </message>
    <message>
        <source>URLにアクセスする時にパスワードが必要になります。&#x3000;</source>
        <translation>Browsers need the password to open the URL.</translation>
    </message>
    <message>
        <source>パスワード入力を有効</source>
        <translation>Require a password</translation>
    </message>
    <message>
        <source>パスワード：</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>PC起動時に自動的に実行</source>
        <translation>Start automatically when I log in</translation>
    </message>
    <message>
        <source>Port番号の変更は、OKですぐに反映されます。</source>
        <translation>A new port number takes effect as soon as you press OK.</translation>
    </message>
    <message>
        <source>このPCの別名（カンマ区切り）:</source>
        <translation>Other names of this PC (comma-separated):</translation>
    </message>
    <message>
        <source>このPCのアドレスとホスト名のほかに、ここに書いた名前（例: nas.local）でもアクセスを受け付けます。</source>
        <translation>Besides this PC&apos;s addresses and host name, requests to the names given here (for example nas.local) are accepted too.</translation>
    </message>
    <message>
        <source>このPCのURL:</source>
        <translation>This PC&apos;s URLs:</translation>
    </message>
    <message>
        <source>ファイルマネージャー:</source>
        <translation>File managers:</translation>
    </message>
    <message>
        <source>ファイルマネージャーなど WebDAV に対応したアプリで共有フォルダを開くアドレスです。</source>
        <translation>The address that opens the shared folders in file managers and other apps that speak WebDAV.</translation>
    </message>
    <message>
        <source>コピー</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>選んだURLがQRコードになります。</source>
        <translation>The URL you select is shown as the QR code.</translation>
    </message>
    <message>
        <source>表示言語:</source>
        <translation>Language:</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>スマートフォンで読み取るとURLを開けます</source>
        <translation>Scan with a phone to open the URL</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>ネットワーク上の名前で開くURLです。Android では開けないことがあるため、QRコードにはIPアドレスのURLを使います。</source>
        <translation>The URL by the name on the network. Android often cannot open such names, so the QR code uses an IP address URL.</translation>
    </message>
    <message>
        <source>avahi-daemon が動いていないため、このPCを名前（.local）では見つけられません。</source>
        <translation>avahi-daemon is not running, so this PC cannot be found by its name (.local).</translation>
    </message>
    <message>
        <source>このPCを名前（.local）で公開できません: %1</source>
        <translation>This PC cannot be announced by its name (.local): %1</translation>
    </message>
    <message>
        <source>公開停止中: </source>
        <translation>Not sharing: </translation>
    </message>
    <message>
        <source>HTTP Port「%1」は使えません。%2から%3までの番号を入力してください。</source>
        <translation>The HTTP port &quot;%1&quot; cannot be used. Please enter a number from %2 to %3.</translation>
    </message>
    <message>
        <source>パスワード入力を有効にするときは、パスワードを入力してください。</source>
        <translation>Please enter a password to require one.</translation>
    </message>
    <message>
        <source>このPCの別名「%1」は使えません。英数字と「-」「.」「_」で書いた名前をカンマで区切って入力してください。</source>
        <translation>The name &quot;%1&quot; cannot be used. Please enter names made of letters, digits, &quot;-&quot;, &quot;.&quot; and &quot;_&quot;, separated by commas.</translation>
    </message>
    <message>
        <source>設定を保存しましたが、公開していません。
</source>
        <translation>The settings were saved, but nothing is shared.
</translation>
    </message>
    <message>
        <source>通知領域（トレイ）が見つからないため、この画面を閉じると最小化します。Velmarind はこの画面から操作できます。</source>
        <translation>There is no notification area (tray), so closing this window minimizes it. Velmarind is controlled from this window.</translation>
    </message>
    <message>
        <source>権限</source>
        <translation>Permission</translation>
    </message>
    <message>
        <source>アップロードしたファイルの名前をそのまま使う</source>
        <translation>Keep the names of uploaded files</translation>
    </message>
    <message>
        <source>オフのときは「__vupd_img_」と日時の名前で保存します。同じ名前のファイルがあるときは「名前 (2)」のように別の名前にし、上書きはしません。</source>
        <translation>When off, uploads are saved as &quot;__vupd_img_&quot; and the date and time. A name already taken becomes &quot;name (2)&quot;; no file is replaced.</translation>
    </message>
    <message>
        <source>Velmarind 設定</source>
        <translation>Velmarind Settings</translation>
    </message>
    <message>
        <source>設定の変更が保存されていません。保存しますか？</source>
        <translation>The changed settings are not saved. Save them?</translation>
    </message>
    <message>
        <source>保存する</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>保存しない</source>
        <translation>Don't save</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>まず「追加」で、ブラウザに公開するフォルダを選んでください。</source>
        <translation>First choose a folder to share with browsers: press Add.</translation>
    </message>
    <message>
        <source>プログラムフォルダ: %1</source>
        <translation>Program folder: %1</translation>
    </message>
    <message>
        <source>設定（velmarind.ini, dirlst.ini）はこのフォルダに保存されます。</source>
        <translation>The settings (velmarind.ini, dirlst.ini) are saved in this folder.</translation>
    </message>
    <message>
        <source>HTTPポート：</source>
        <translation>HTTP port:</translation>
    </message>
    <message>
        <source>URLを開く</source>
        <translation>Open URL</translation>
    </message>
    <message>
        <source>オンにすると、URLにアクセスする時にパスワードが必要になります。</source>
        <translation>When ticked, browsers need a password to open the URL.</translation>
    </message>
    <message>
        <source>フォルダ「%1」が見つかりません。</source>
        <translation>The folder &quot;%1&quot; cannot be found.</translation>
    </message>
    <message>
        <source>ネットワークにつながっていません。このPCのブラウザでだけ開けます。</source>
        <translation>This PC is not connected to a network. Only a browser on this PC can open the URL.</translation>
    </message>
    <message>
        <source>設定はこの実行中だけ有効です。ファイル %1 を作成できないため、終了すると失われます。Velmarind をインストールするか、自分のフォルダにコピーしてから起動してください。</source>
        <translation>The settings hold only until Velmarind ends: file %1 cannot be created, so they are lost then. Install Velmarind, or copy it into a folder of your own, and start it from there.</translation>
    </message>
    <message>
        <source>ファイル %1 を作成できません</source>
        <translation>Cannot create file %1</translation>
    </message>
</context>
<context>
    <name>vm::TSignInQr</name>
    <message>
        <source>新しいコード</source>
        <translation>New code</translation>
    </message>
    <message>
        <source>表示中のコードを使えなくして、新しいコードを作ります。</source>
        <translation>Makes the code shown unusable and shows a new one.</translation>
    </message>
    <message>
        <source>パスワードなしで1回ログインできるコード</source>
        <translation>Logs a phone in once, without the password</translation>
    </message>
    <message>
        <source>有効期限: あと %1:%2</source>
        <translation>Valid for %1:%2 more</translation>
    </message>
</context>
<context>
    <name>vm::TTaTrayIcon</name>
    <message>
        <source>（クリック: %1）</source>
        <translation>(Click: %1)</translation>
    </message>
</context>
</TS>
