// One access as an approver sees it, and the approver interface that decides it.
#ifndef VOSTREL_ACCESS_REQUEST_H_
#define VOSTREL_ACCESS_REQUEST_H_

#include <string>
#include <string_view>

namespace vostrel {

// `kind` ("command" is the only kind the core raises), `action` (always
// "run"), `target` (the trimmed command) and `actor` (the agent's name, or
// empty for the session as a whole). A plain value.
struct AccessRequest {
  std::string kind;
  std::string action;
  std::string target;
  std::string actor;

  bool operator==(const AccessRequest&) const = default;
};

// {kind, "run", target, actor}.
AccessRequest access_request(std::string_view kind, std::string_view target, std::string_view actor);

// Decides an access that no rule of the policy allows. Held through
// std::shared_ptr; `approve` may be called from any thread that runs a tool,
// and from several at once.
class Approver {
 public:
  virtual ~Approver() = default;
  // True allows the access.
  virtual bool approve(const AccessRequest& request) = 0;
};

}  // namespace vostrel

#endif  // VOSTREL_ACCESS_REQUEST_H_
