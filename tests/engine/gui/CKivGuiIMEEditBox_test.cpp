#include "editbox_host.h"
