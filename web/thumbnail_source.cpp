#include "web/thumbnail_source.h"

#include <map>
#include <mutex>

namespace vm {

namespace {

std::mutex gSourcesMutex;
// The source of each server that has one; guarded by gSourcesMutex.
std::map<const TIdCustomHTTPServer*, std::shared_ptr<TThumbnailSource>> gSources;

}  // namespace

void AttachThumbnailSource(const TIdCustomHTTPServer& server,
                           std::shared_ptr<TThumbnailSource> source) {
  const std::lock_guard lock(gSourcesMutex);
  if (source) {
    gSources[&server] = std::move(source);
  } else {
    gSources.erase(&server);
  }
}

std::shared_ptr<TThumbnailSource> ThumbnailSourceOf(const TIdCustomHTTPServer& server) {
  const std::lock_guard lock(gSourcesMutex);
  const auto found = gSources.find(&server);
  return found == gSources.end() ? nullptr : found->second;
}

}  // namespace vm
