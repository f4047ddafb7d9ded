#pragma once
// What the machine gives this process: the processors it may run on.

namespace polygons::host {

// The processors this process may run on (which can be fewer than the
// machine has), or the machine's count when that cannot be asked; at least 1.
int available_processors();

}  // namespace polygons::host
