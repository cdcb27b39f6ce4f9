// POSIX side of the console: a terminal outlives the programs run in it.
#include "platform/console.h"

namespace quarvel {

bool console_owned_alone() { return false; }

void wait_for_key(std::ostream&) {}

}  // namespace quarvel
