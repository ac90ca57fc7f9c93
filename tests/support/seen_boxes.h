#pragma once
// Prints the boxes a BoxWatcher saw, so that a check on their number shows
// which boxes they were.
#include <ostream>

#include "box_watcher.h"

namespace standin {

inline void PrintTo(const SeenBox& box, std::ostream* out) {
    *out << "{box " << box.box << ", thread " << box.threadId << ", owner " << box.owner << ", \""
         << box.title << "\": \"" << box.text << "\"}";
}

} // namespace standin
