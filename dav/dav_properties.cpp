#include "dav/dav_properties.h"

#include <fstream>

#include "platform/atomic_file.h"
#include "platform/text_helpers.h"

namespace vm {

namespace {

// One property a line: key, device, inode, namespace, name, value; texts as hex, tab-separated.
std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// The key of a path's members: "/a/b" -> "/a/b/", the root "/" stays.
std::string MemberPrefix(const std::string& key) { return key == "/" ? key : key + "/"; }

TDavPath PathOfKey(const std::string& key) {
  TDavPath path;
  size_t start = 1;
  while (start < key.size()) {
    size_t end = key.find('/', start);
    if (end == std::string::npos) end = key.size();
    path.Segments.push_back(key.substr(start, end - start));
    start = end + 1;
  }
  return path;
}

}  // namespace

TDavPropertyStore::TDavPropertyStore(std::string nativeFile) : file_(std::move(nativeFile)) {
  if (file_.empty()) return;
  std::ifstream in(file_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 6) continue;
    TResource& resource = resources_[HexDecode(fields[0])];
    resource.Id = {static_cast<dev_t>(std::stoull("0" + fields[1])),
                   static_cast<ino_t>(std::stoull("0" + fields[2]))};
    resource.Properties[{HexDecode(fields[3]), HexDecode(fields[4])}] = HexDecode(fields[5]);
  }
}

bool TDavPropertyStore::Empty() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return resources_.empty();
}

TDavPropertyStore::TProperties TDavPropertyStore::Get(const TDavPath& path, TFileId id) const {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = resources_.find(path.Key());
  if (found == resources_.end() || !(found->second.Id == id)) return {};
  return found->second.Properties;
}

size_t TDavPropertyStore::Bytes() const {
  size_t bytes = 0;
  for (const auto& [key, resource] : resources_) {
    for (const auto& [name, value] : resource.Properties)
      bytes += key.size() + name.Namespace.size() + name.Name.size() + value.size();
  }
  return bytes;
}

bool TDavPropertyStore::Apply(
    const TDavPath& path, TFileId id,
    const std::vector<std::pair<TDavPropName, std::optional<std::string>>>& changes) {
  std::lock_guard<std::mutex> guard(mutex_);
  TResource& resource = resources_[path.Key()];
  const TResource before = resource;
  if (!(resource.Id == id)) resource = {id, {}};  // a new file of an old name starts empty
  for (const auto& [name, value] : changes) {
    if (value) {
      resource.Properties[name] = *value;
    } else {
      resource.Properties.erase(name);
    }
  }
  bool fits = resource.Properties.size() <= kMaxPerResource;
  for (const auto& [name, value] : resource.Properties) fits = fits && value.size() <= kMaxValueBytes;
  if (!fits || Bytes() > kMaxTotalBytes) {
    resource = before;
    if (resource.Properties.empty()) resources_.erase(path.Key());
    return false;
  }
  if (resource.Properties.empty()) resources_.erase(path.Key());
  Save();
  return true;
}

void TDavPropertyStore::Remove(const TDavPath& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  const std::string key = path.Key();
  const std::string members = MemberPrefix(key);
  const size_t before = resources_.size();
  std::erase_if(resources_, [&](const auto& entry) {
    return entry.first == key || entry.first.compare(0, members.size(), members) == 0;
  });
  if (resources_.size() != before) Save();
}

void TDavPropertyStore::Move(const TDavPath& from, const TDavPath& to) {
  std::lock_guard<std::mutex> guard(mutex_);
  const std::string key = from.Key();
  const std::string members = MemberPrefix(key);
  TMap moved;
  std::erase_if(resources_, [&](const auto& entry) {
    if (entry.first != key && entry.first.compare(0, members.size(), members) != 0) return false;
    moved[Rebased(PathOfKey(entry.first), from, to).Key()] = entry.second;
    return true;
  });
  if (moved.empty()) return;
  for (auto& [newKey, resource] : moved) resources_[newKey] = std::move(resource);
  Save();
}

void TDavPropertyStore::Copy(const TDavPath& from, const TDavPath& to, const TIdOf& idOf) {
  std::vector<std::pair<TDavPath, TProperties>> copies;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string key = from.Key();
    const std::string members = MemberPrefix(key);
    for (const auto& [oldKey, resource] : resources_) {
      if (oldKey != key && oldKey.compare(0, members.size(), members) != 0) continue;
      copies.emplace_back(Rebased(PathOfKey(oldKey), from, to), resource.Properties);
    }
  }
  if (copies.empty()) return;
  std::vector<std::pair<std::string, TResource>> made;
  for (auto& [path, properties] : copies) {
    if (std::optional<TFileId> id = idOf(path)) made.push_back({path.Key(), {*id, std::move(properties)}});
  }
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto& [key, resource] : made) resources_[key] = std::move(resource);
  if (Bytes() > kMaxTotalBytes) {
    for (const auto& entry : made) resources_.erase(entry.first);
    return;
  }
  Save();
}

void TDavPropertyStore::Save() const {
  if (file_.empty()) return;
  std::string text;
  for (const auto& [key, resource] : resources_) {
    for (const auto& [name, value] : resource.Properties) {
      text += HexEncode(key) + "\t" + std::to_string(resource.Id.Device) + "\t" +
              std::to_string(resource.Id.Inode) + "\t" + HexEncode(name.Namespace) + "\t" +
              HexEncode(name.Name) + "\t" + HexEncode(value) + "\n";
    }
  }
  // A failed write keeps the old file: the properties then come back as they were at the
  // last good save, which a client sees as its change not kept.
  ReplaceFileAtomically(file_ + ".XXXXXX", file_, text, kPrivateFileMode);
}

}  // namespace vm
