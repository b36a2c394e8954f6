#include "state/chosen_port.h"

#include "state/config_store.h"

namespace vm {

void AdoptChosenPort(TMainState& state, int boundPort) {
  if (state.Settings().Port != 0 || boundPort == 0) return;
  state.SetServedPort(boundPort, MakeBaseURL(state.LocalAddress(), boundPort));
}

}  // namespace vm
