#include "run/config_file.h"
namespace qarvel {
void readConfigEarly(const String&, Settings&, ProcessObjects&) {}
void readConfigMain(const String&, Settings&, ProcessObjects&) {}
}
