#include "support/TempMachine.h"
