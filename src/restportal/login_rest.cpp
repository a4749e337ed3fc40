#include "restportal/login_rest.h"

namespace fern {

// No host REST client in this build: the login window and the check say so.
LoginRestFactory HostLoginRestClient() { return {}; }

}  // namespace fern
