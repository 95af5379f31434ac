// The assets root handed down by bootstrap: a process-wide slot that the asset
// loaders read from any thread.
#ifndef VOSTREL_BINDING_SERVICES_ASSETS_ROOT_H_
#define VOSTREL_BINDING_SERVICES_ASSETS_ROOT_H_

#include <optional>
#include <string>

namespace vostrel::py {

// Replaces the stored root (the empty text is stored like any other).
void set_assets_root(std::string root);
// The stored root, or nothing before the first bootstrap.
std::optional<std::string> assets_root();

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_SERVICES_ASSETS_ROOT_H_
