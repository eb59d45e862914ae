#pragma once
// The process-wide log; the class is part of the host interface.
#include "quorvix_logger.h"
