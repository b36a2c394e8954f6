#!/usr/bin/env bash
# The file-manager door (WebDAV) against real clients, on loopback: litmus (all five suites),
# permissions per share mode and hostile inputs with curl, an rclone round trip with Japanese and
# emoji names, and gvfs (gio) on a private session bus. Usage: tests/dav/run.sh BUILD_FOLDER
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
source "$here/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/velmarind-dav.XXXXXX")
passed=0 failed=0
cleanup() { stop_program; rm -rf "$work"; }
trap cleanup EXIT

# Stops the program and counts a sanitizer's report in what it wrote as a failure.
stop_checked() {
  local folder=$1
  stop_program
  check "no sanitizer report ($(basename "$folder"))" \
    bash -c "! grep -E 'ERROR: (Address|Leak)Sanitizer|runtime error' '$folder/program.err'"
}

check() {  # NAME COMMAND...
  local name=$1; shift
  if "$@" > "$work/check.log" 2>&1; then
    passed=$((passed + 1)); echo "ok - $name"
  else
    failed=$((failed + 1)); echo "not ok - $name"; sed 's/^/    /' "$work/check.log" | tail -20
  fi
}

# --- The permissions of each mode, and the hostile inputs ------------------------------------
SHARES="full:full view:view plain drop:dropbox other:full nested:view:full/nested outer:full:.."
start_program "$build" "$work/one" || exit 1
for share in full view plain drop other; do
  printf 'x' > "$work/one/data/$share/existing.txt"
  : > "$work/one/data/$share/empty.txt"
  mkdir -p "$work/one/data/$share/sub"
done
echo secret > "$work/one/data/full/.hidden"
printf 'binary' > "$work/one/data/full/$(printf '\xff').bin"
ln -s /etc "$work/one/data/full/out"
host="127.0.0.1:$PORT"

status() {  # METHOD PATH [curl arguments...]: the status code of the answer ("000" for none)
  local method=$1 path=$2; shift 2
  curl -s --path-as-is -o "$work/body" -w '%{http_code}' -X "$method" "$@" "$BASE$path"
}
expect() {  # EXPECTED METHOD PATH [curl arguments...]
  local expected=$1; shift
  local got
  got=$(status "$@")
  [[ "$got" == "$expected" ]] || { echo "expected $expected, got $got"; cat "$work/body"; return 1; }
}
lockprop='<?xml version="1.0"?><D:lockinfo xmlns:D="DAV:"><D:lockscope><D:exclusive/></D:lockscope><D:locktype><D:write/></D:locktype></D:lockinfo>'
patch='<?xml version="1.0"?><D:propertyupdate xmlns:D="DAV:" xmlns:Z="urn:z"><D:set><D:prop><Z:a>1</Z:a></D:prop></D:set></D:propertyupdate>'
dest() { echo "Destination: http://$host/velmarind-dav/$1"; }

# expected method path [arguments]: one row per rule of the share modes.
while IFS='|' read -r expected method path args; do
  [[ -z "$expected" || "$expected" == \#* ]] && continue
  eval "arguments=($args)"
  check "$method $path -> $expected" expect "$expected" "$method" "$path" "${arguments[@]}"
done <<ROWS
# view: reads only
207|PROPFIND|/view/|-H 'Depth: 1'
200|GET|/view/existing.txt|
403|PUT|/view/new.txt|--data-binary x
403|MKCOL|/view/newdir|
403|DELETE|/view/existing.txt|
403|PROPPATCH|/view/existing.txt|--data-binary '$patch'
403|LOCK|/view/new.txt|--data-binary '$lockprop'
# the default: reads, and new names, never replacing (an empty file may be filled)
201|PUT|/plain/new.txt|--data-binary x
403|PUT|/plain/existing.txt|--data-binary y
204|PUT|/plain/empty.txt|--data-binary y
201|MKCOL|/plain/newdir|
403|DELETE|/plain/existing.txt|
403|MOVE|/plain/existing.txt|-H '$(dest plain/moved.txt)'
403|COPY|/plain/existing.txt|-H '$(dest plain/copied.txt)'
207|PROPPATCH|/plain/existing.txt|--data-binary '$patch'
201|LOCK|/plain/locknew.txt|--data-binary '$lockprop'
# full: everything, within the share
204|PUT|/full/existing.txt|--data-binary y
201|COPY|/full/existing.txt|-H '$(dest full/copied.txt)'
201|MOVE|/full/copied.txt|-H '$(dest full/sub/moved.txt)'
204|DELETE|/full/sub/moved.txt|
201|MKCOL|/full/newdir|
405|MKCOL|/full/newdir|
409|PUT|/full/nodir/new.txt|--data-binary x
# drop box: new names only, nothing shown
403|GET|/drop/existing.txt|
404|PROPFIND|/drop/existing.txt|-H 'Depth: 0'
201|PUT|/drop/new.txt|--data-binary x
403|PUT|/drop/existing.txt|--data-binary y
403|MKCOL|/drop/newdir|
403|DELETE|/drop/existing.txt|
201|PUT|/full/chunked.bin|-T /etc/hostname -H "Transfer-Encoding: chunked"
# names: hidden, control and direction characters, bytes that are not UTF-8 on disk
404|GET|/full/.hidden|
403|PUT|/full/.new|--data-binary x
403|PUT|/full/a%01b.txt|--data-binary x
403|PUT|/full/%E2%80%AEtxt.exe|--data-binary x
200|GET|/full/%FF.bin|
# traversal, in the address and in Destination
400|GET|/full/../../etc/passwd|
400|GET|/full/%2e%2e/%2e%2e/etc/passwd|
400|GET|/full/..%2f..%2fetc%2fpasswd|
404|GET|/full/out/passwd|
404|PROPFIND|/full/out/|-H 'Depth: 1'
400|MOVE|/full/existing.txt|-H 'Destination: http://$host/velmarind-dav/full/../../../tmp/x'
403|MOVE|/full/existing.txt|-H 'Destination: http://$host/etc/x'
502|MOVE|/full/existing.txt|-H 'Destination: http://elsewhere.example/velmarind-dav/full/x'
403|MOVE|/full/existing.txt|-H '$(dest other/x)'
403|COPY|/full/sub|-H '$(dest full/sub/inner)'
403|DELETE|/full/nested|
403|MOVE|/full/nested|-H '$(dest full/moved-share)'
403|PUT|/full/nested/new.txt|--data-binary x
# the program's own files, in a share of the folder around it
404|GET|/outer/app/velmarind.ini|
404|PROPFIND|/outer/app/|-H 'Depth: 0'
403|DELETE|/outer/data|
# whole trees, shares themselves, the root
403|PROPFIND|/full/|-H 'Depth: infinity'
403|DELETE|/full/|
403|MKCOL|/newshare|
403|LOCK|/full/|--data-binary '$lockprop'
# other sites and names
403|PROPFIND|/full/|-H 'Origin: http://evil.example' -H 'Depth: 0'
403|OPTIONS|/full/|-H 'Origin: http://evil.example' -H 'Access-Control-Request-Method: PUT'
421|PROPFIND|/full/|-H 'Host: evil.example' -H 'Depth: 0'
ROWS

# XML bodies: entities refused, size and nesting bounded, properties bounded.
bomb='<?xml version="1.0"?><!DOCTYPE d [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]><D:propfind xmlns:D="DAV:"><D:prop><D:x>&c;</D:x></D:prop></D:propfind>'
external='<?xml version="1.0"?><!DOCTYPE d [<!ENTITY e SYSTEM "file:///etc/passwd">]><D:propfind xmlns:D="DAV:"><D:prop>&e;</D:prop></D:propfind>'
deep=$(python3 -c 'print("<D:propfind xmlns:D=\"DAV:\">" + "<D:x>"*200 + "</D:x>"*200 + "</D:propfind>")')
python3 -c 'print("<D:propfind xmlns:D=\"DAV:\"><D:prop>" + "<D:x/>"*60000 + "</D:prop></D:propfind>")' > "$work/large.xml"
python3 -c 'print("<D:propertyupdate xmlns:D=\"DAV:\" xmlns:Z=\"urn:z\"><D:set><D:prop><Z:big>" + "v"*20000 + "</Z:big></D:prop></D:set></D:propertyupdate>")' > "$work/bigvalue.xml"
check "entity expansion (a bomb) is refused" expect 400 PROPFIND /full/ -H 'Depth: 0' --data-binary "$bomb"
check "external entities are refused" expect 400 PROPFIND /full/ -H 'Depth: 0' --data-binary "$external"
check "deep nesting is refused" expect 400 PROPFIND /full/ -H 'Depth: 0' --data-binary "$deep"
check "a body past the bound is refused" expect 413 PROPFIND /full/ -H 'Depth: 0' --data-binary @"$work/large.xml"
check "a huge property value is not stored" bash -c "[[ \$(curl -s -X PROPPATCH --data-binary @'$work/bigvalue.xml' '$BASE/full/existing.txt') == *'507 Insufficient Storage'* ]]"

# Locks held by strangers: nothing changes without the token.
token=$(curl -s -D - -o /dev/null -X LOCK --data-binary "$lockprop" "$BASE/full/locked.txt" |
        tr -d '\r' | sed -n 's/^Lock-Token: <\(.*\)>$/\1/p')
check "a lock is granted" test -n "$token"
check "PUT on a stranger's lock" expect 423 PUT /full/locked.txt --data-binary x
check "DELETE on a stranger's lock" expect 423 DELETE /full/locked.txt
check "MOVE of a stranger's lock" expect 423 MOVE /full/locked.txt -H "$(dest full/taken.txt)"
check "MOVE onto a stranger's lock" expect 423 MOVE /full/existing.txt -H "$(dest full/locked.txt)"
check "a second exclusive lock" expect 423 LOCK /full/locked.txt --data-binary "$lockprop"
check "UNLOCK with a wrong token" expect 409 UNLOCK /full/locked.txt -H 'Lock-Token: <opaquelocktoken:nope>'
check "PUT with a false token" expect 412 PUT /full/locked.txt --data-binary x -H 'If: (<opaquelocktoken:nope>)'
check "PUT with the token" expect 204 PUT /full/locked.txt --data-binary x -H "If: (<$token>)"
check "UNLOCK with the token" expect 204 UNLOCK /full/locked.txt -H "Lock-Token: <$token>"

check "a file manager's connection is kept between answers" bash -c "
  curl -sv -o /dev/null -o /dev/null -X PROPFIND -H 'Depth: 1' '$BASE/view/' '$BASE/view/' 2>&1 | grep -q 'Re-using'"
check "the program's own folder is not listed" bash -c "! curl -s -X PROPFIND -H 'Depth: 1' '$BASE/outer/' | grep -q '/outer/app/'"
check "the drop box lists nothing" bash -c "! curl -s -X PROPFIND -H 'Depth: 1' '$BASE/drop/' | grep -q existing"
check "DELETE went to the trash" test -e "$work/one/user-data/Trash/files/moved.txt"
check "an interrupted PUT leaves nothing" bash -c "
  (printf 'PUT /velmarind-dav/full/cut.bin HTTP/1.1\r\nHost: $host\r\nContent-Length: 100000\r\n\r\nabc'; sleep 1) |
    timeout 20 python3 -c 'import socket,sys; s=socket.create_connection((\"127.0.0.1\",$PORT)); s.sendall(sys.stdin.buffer.read()); s.close()'
  ! ls -A '$work/one/data/full' | grep -q cut"
check "a large PUT arrives whole (pieces of the receive, the last one short)" bash -c "head -c 20000000 /dev/urandom >'$work/large.bin' &&
  curl -sf -T '$work/large.bin' '$BASE/full/large.bin' && cmp '$work/large.bin' '$work/one/data/full/large.bin'"
stop_checked "$work/one"

# --- Password on, and the door closed ---------------------------------------------------------
SHARES="full:full"
start_program "$build" "$work/two" "PASS_FLG=1" "PASSWORD=$(printf 'pass' | od -An -tx1 | tr -d ' \n')" || exit 1
check "no password: 401 with a Basic challenge" bash -c "curl -s -i -X PROPFIND -H 'Depth: 0' '$BASE/full/' | grep -q '^WWW-Authenticate: Basic'"
check "a wrong password" expect 401 PROPFIND /full/ -H 'Depth: 0' -u any:wrong
check "the password, any user name" expect 207 PROPFIND /full/ -H 'Depth: 0' -u someone:pass
check "the address is admitted, as by the login page" expect 207 PROPFIND /full/ -H 'Depth: 0'
stop_checked "$work/two"
start_program "$build" "$work/three" "WEBDAV=0" || exit 1
check "WEBDAV=0: the door's methods get no answer" expect 000 PROPFIND /full/ -H 'Depth: 0'
check "WEBDAV=0: its path is an ordinary document again" bash -c "curl -s '$BASE/full/' | grep -qi '<html'"
stop_checked "$work/three"

# --- litmus, all five suites ------------------------------------------------------------------
SHARES="full:full"
start_program "$build" "$work/litmus" || exit 1
for suite in basic copymove props locks http; do
  check "litmus $suite" bash -c "cd '$work' && TESTS=$suite timeout 300 litmus '$BASE/full/' > litmus-$suite.log 2>&1; status=\$?;
    grep -E 'summary|FAIL|WARN' litmus-$suite.log; grep -q '0 failed' litmus-$suite.log && ! grep -q WARNING litmus-$suite.log && [[ \$status == 0 ]]"
done

# --- rclone: a tree with Japanese and emoji names in and out, exactly ---------------------------
tree="$work/tree"
mkdir -p "$tree/写真/夏" "$tree/emoji 😀" "$tree/空 のフォルダ"
head -c 300000 /dev/urandom > "$tree/写真/夏/海の写真.jpg"
printf 'こんにちは\n' > "$tree/写真/日本語のファイル.txt"
head -c 70000 /dev/urandom > "$tree/emoji 😀/🎉 party #1 (final).bin"
printf 'a%%b+c' > "$tree/percent%20+plus&amp.txt"
export RCLONE_CONFIG_VM_TYPE=webdav RCLONE_CONFIG_VM_URL="$BASE/full/" RCLONE_CONFIG_VM_VENDOR=other
export RCLONE_CONFIG=/dev/null
check "rclone copies the tree in" timeout 120 rclone copy --create-empty-src-dirs "$tree" vm:tree
check "rclone check finds no difference" timeout 120 rclone check "$tree" vm:tree
check "rclone copies it back out, byte for byte" bash -c "timeout 120 rclone copy --create-empty-src-dirs vm:tree '$work/back' && diff -r '$tree' '$work/back'"

# --- gvfs on a private session bus ------------------------------------------------------------
if command -v gio > /dev/null && command -v dbus-run-session > /dev/null; then
  echo gio > "$work/gio.txt"
  mkdir -p -m 700 "$work/gio/run"
  uri="dav://127.0.0.1:$PORT/velmarind-dav/full"
  # gvfs keeps its metadata and caches in the test's own folder, never the user's.
  check "gio mounts, lists, copies, renames and deletes" timeout 120 env GIO_USE_VOLUME_MONITOR=unix \
    XDG_DATA_HOME="$work/gio/data" XDG_CACHE_HOME="$work/gio/cache" XDG_CONFIG_HOME="$work/gio/config" \
    XDG_RUNTIME_DIR="$work/gio/run" \
    dbus-run-session -- bash -c "set -e; gio mount '$uri/'; gio list '$uri/' | grep -q tree
      gio copy '$work/gio.txt' '$uri/gio.txt'; gio rename '$uri/gio.txt' renamed.txt
      [[ \$(gio cat '$uri/renamed.txt') == gio ]]; gio remove '$uri/renamed.txt'
      ! gio info '$uri/renamed.txt' 2>/dev/null; gio mount -u '$uri/'"
else
  echo "skipped - gio or dbus-run-session missing"
fi

stop_checked "$work/litmus"
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
