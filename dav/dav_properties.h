// Dead properties: what clients store on resources with PROPPATCH, kept in one file beside the
// settings. Each resource's properties carry the identity (device and inode) of the file they
// were set on, so that a file replaced behind our back does not inherit its predecessor's.
// Bounded in count and size: a client cannot fill the program folder through them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dav/dav_href.h"
#include "dav/dav_xml.h"

namespace vm {

struct TFileId {
  dev_t Device = 0;
  ino_t Inode = 0;
  bool operator==(const TFileId&) const = default;
};

class TDavPropertyStore {
 public:
  static constexpr size_t kMaxValueBytes = 16 * 1024;
  static constexpr size_t kMaxPerResource = 64;
  static constexpr size_t kMaxTotalBytes = 4 << 20;

  using TProperties = std::map<TDavPropName, std::string>;
  using TIdOf = std::function<std::optional<TFileId>(const TDavPath&)>;

  // nativeFile: where the properties are kept; read now when it exists. "" keeps nothing on disk.
  explicit TDavPropertyStore(std::string nativeFile);

  // True when no resource has properties (a listing then asks no further).
  bool Empty() const;
  // The properties of the resource at path with that identity.
  TProperties Get(const TDavPath& path, TFileId id) const;
  // Sets (value) or removes (nullopt) properties of the resource, all or none: false, changing
  // nothing, when the result would pass a bound.
  bool Apply(const TDavPath& path, TFileId id,
             const std::vector<std::pair<TDavPropName, std::optional<std::string>>>& changes);
  // The resource at path and everything below it is gone.
  void Remove(const TDavPath& path);
  // ... moved to to, keeping its identities.
  void Move(const TDavPath& from, const TDavPath& to);
  // ... copied to to: the copies take the identities idOf gives them (none: not copied).
  void Copy(const TDavPath& from, const TDavPath& to, const TIdOf& idOf);

 private:
  struct TResource {
    TFileId Id;
    TProperties Properties;
  };
  using TMap = std::map<std::string, TResource>;
  void Save() const;  // requires mutex_
  size_t Bytes() const;  // requires mutex_

  const std::string file_;
  mutable std::mutex mutex_;
  TMap resources_;  // guarded by mutex_; by path key
};

}  // namespace vm
