// No COM runtime on POSIX: objects come from the registry file's servers.
#include "platform/com_client.h"

namespace qz381::platform {

ComApartment::ComApartment() = default;
ComApartment::~ComApartment() = default;

std::unique_ptr<ComClient> NewComClient(Registry& registry) {
  return NewRegistryComClient(registry);
}

}  // namespace qz381::platform
