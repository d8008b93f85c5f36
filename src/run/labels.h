#pragma once
#include "receive/receive_options.h"
namespace qarvel {
void copyReceiveLabels(ReceiveLabels& labels);
}
