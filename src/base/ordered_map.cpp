// OrderedMap: the skip list behind the sorted multimap.
#include "base/ordered_map.h"

namespace qarvel {

std::recursive_mutex& orderedMapLock() {
    static std::recursive_mutex lock;
    return lock;
}

}  // namespace qarvel
