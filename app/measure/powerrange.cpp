#include "powerrange.h"
