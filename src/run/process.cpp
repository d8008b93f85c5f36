#include "run/process.h"

namespace qarvel {

ProcessObjects& processObjects() {
    static ProcessObjects objects;
    return objects;
}

} // namespace qarvel
