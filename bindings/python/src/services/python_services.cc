#include "services/python_services.h"

namespace vostrel::py {

void install_python_services() {
  // The service slots of the core (transport, console output, log sink,
  // console) and their Python-backed implementations are not built yet; until
  // they are, the core keeps its native defaults and this installs nothing.
}

}  // namespace vostrel::py
