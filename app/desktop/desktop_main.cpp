#include "app/desktop/desktop_main.h"

namespace vm {

int RunDesktop(int, char**) { return 1; }

}  // namespace vm
