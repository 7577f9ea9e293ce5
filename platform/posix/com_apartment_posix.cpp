#include "platform/com_apartment.h"

namespace tillvane::platform {

void JoinMultithreadedApartment() {}

ComThreadScope::ComThreadScope() = default;
ComThreadScope::~ComThreadScope() = default;

}  // namespace tillvane::platform
