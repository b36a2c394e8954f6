// One request of the file-manager door being answered: what every method needs (the resolved
// shares, the locks and properties, the body, the answers), shared by the method files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dav/dav_href.h"
#include "dav/dav_locks.h"
#include "dav/dav_properties.h"
#include "dav/dav_resource.h"
#include "dav/dav_server.h"

namespace vm {

class TDavExchange {
 public:
  TDavExchange(TDavCall& call, TDavLockTable& locks, TDavPropertyStore& properties,
               const TStateSnapshot& snapshot, TDavPath path);

  TDavCall& Call;
  TDavLockTable& Locks;
  TDavPropertyStore& Properties;
  const TStateSnapshot& Snapshot;
  const TDavResolver Resolver;
  const TDavPath Path;

  TIdHTTPRequestInfo& Request() { return Call.Request; }
  TIdHTTPResponseInfo& Response() { return Call.Response; }
  std::string Header(std::string_view name) const;

  // The status line's code and reason.
  void Status(int code);
  // An answer without content.
  void Empty(int code);
  // A refusal or failure: the code and a sentence saying why, as plain text.
  void Refuse(int code, std::string_view why);
  // The answer to a resolve fault: what a reader or a writer sees.
  void RefuseFault(TResolveFault fault, bool writing);
  // An XML answer (the declaration is added).
  void AnswerXml(int code, std::string_view body);
  // An error answer naming a precondition or postcondition ("no-conflicting-lock"), with hrefs.
  void AnswerCondition(int code, std::string_view condition,
                       const std::vector<std::string>& hrefs = {});

  // Reads the request's XML body into body, at most kMaxDavXmlBody bytes; false when it answered
  // instead (too large, cut short).
  bool ReadXmlBody(std::string& body);
  // Answers an XML fault (400, saying why).
  void RefuseXml(TXmlFault fault);

  // True when the "If" header is absent or holds (a list whose conditions all hold); answers
  // 400 or 412 and returns false otherwise.
  bool IfHolds();
  // True when a change may go ahead past the locks: for each (path, below) the locks meeting
  // it (see TDavLockTable::Affecting) are absent or one of their tokens is in the "If" header.
  // Answers 423 naming the lock otherwise.
  bool PassesLocks(const std::vector<std::pair<TDavPath, bool>>& scopes);

  // The depth asked for: 0, 1, or -1 for infinity; absent gives fallback; nullopt (answered
  // 400) for anything else.
  std::optional<int> Depth(int fallback);

  // The resolved resource of a path, answering the fault when it is none.
  std::optional<TDavResource> ResolveOrRefuse(const TDavPath& path, bool writing);
  // True when the mode where resource lies allows the action; answers 403 otherwise.
  bool Allowed(const TDavResource& resource, TDavAction action);
  // True when the entry itself (a link, not what it leads to) may be taken away from where it
  // lies: deleted, moved or replaced. A shared folder itself never is, also where it lies in
  // another share, nor a folder holding one or one of the program's own folders. Answers 403
  // otherwise.
  bool MayRemove(const TDavResource& resource);
  // True when name may be given to a new entry: valid UTF-8, no control character or layout
  // mark (platform/name_marks.h), not hidden (unless dot files are published); answers 403
  // otherwise.
  bool NewNameAllowed(const std::string& name);

  // Set once the request's body has been read to its end (none left on the connection).
  bool BodyConsumed = false;

  // Tells the desktop what changed.
  void Notify(TShareChange::TKind kind, const TDavResource& resource, std::string newName = "");

 private:
  std::optional<std::vector<TIfList>> ifLists_;  // read by IfHolds
};

// The entity tag of a file or folder as it is now.
std::string DavEtag(const struct stat& info);
// The activelock element of a lock, as lockdiscovery lists it.
std::string ActiveLockXml(const TDavLock& lock);
// "Tue, 05 Mar 2013 10:20:30 GMT" and "2013-03-05T10:20:30Z" of a time.
std::string HttpDate(time_t time);
std::string IsoDate(time_t time);

// The methods, one file each family.
void DavOptions(TDavExchange& exchange);
void DavPropfind(TDavExchange& exchange);
void DavGet(TDavExchange& exchange);
void DavPut(TDavExchange& exchange);
void DavMkcol(TDavExchange& exchange);
void DavDelete(TDavExchange& exchange);
void DavCopyMove(TDavExchange& exchange, bool move);
void DavProppatch(TDavExchange& exchange);
void DavLock(TDavExchange& exchange);
void DavUnlock(TDavExchange& exchange);

}  // namespace vm
