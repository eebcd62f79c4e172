#include "app/platform.h"

namespace rawconv {

Platform::~Platform() = default;

}  // namespace rawconv
