#include "link/remote_control.h"
