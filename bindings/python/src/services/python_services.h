// The four process-wide services that bootstrap routes through Python: the
// HTTP transport, console output, the log sink and the console prompt.
#ifndef VOSTREL_BINDING_SERVICES_PYTHON_SERVICES_H_
#define VOSTREL_BINDING_SERVICES_PYTHON_SERVICES_H_

namespace vostrel::py {

// Installs the Python-backed services, in the order transport, console
// output, log sink, console. Lock held.
void install_python_services();

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_SERVICES_PYTHON_SERVICES_H_
