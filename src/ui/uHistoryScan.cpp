#include "ui/uHistoryScan.h"
