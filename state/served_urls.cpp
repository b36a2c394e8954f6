#include "state/served_urls.h"

#include <algorithm>

#include "state/config_store.h"

namespace vm {

TServedUrls MakeServedUrls(const TMainState& state, const std::vector<std::string>& addresses) {
  const TSettings settings = state.Settings();
  TServedUrls urls;
  if (!settings.BaseURL.empty()) urls.ByAddress.push_back(settings.BaseURL);
  for (const std::string& address : addresses) {
    std::string url = MakeBaseURL(address, settings.Port);
    if (std::find(urls.ByAddress.begin(), urls.ByAddress.end(), url) == urls.ByAddress.end()) {
      urls.ByAddress.push_back(std::move(url));
    }
  }
  const TNetworkName name = state.NetworkName();
  if (name.Status == TNetworkName::TStatus::Announced && !name.HostName.empty()) {
    urls.ByName = MakeBaseURL(name.HostName, settings.Port);
  }
  return urls;
}

}  // namespace vm
