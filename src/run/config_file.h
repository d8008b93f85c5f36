#pragma once
#include "base/string.h"
namespace qarvel {
struct Settings;
struct ProcessObjects;
void readConfigEarly(const String& path, Settings& s, ProcessObjects& objects);
void readConfigMain(const String& path, Settings& s, ProcessObjects& objects);
}
