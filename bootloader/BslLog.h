// The bootloader host's log lines: tag "KeloBSL", nothing without a log.
// Private to bootloader/; used inside KeloBSLHost's members (log_).
#pragma once

#include "KeloLog.h"

#define BSL_LOG(level, ...)                                   \
    do {                                                      \
        if (log_)                                             \
            log_->LogMessage(level, "KeloBSL", __VA_ARGS__);  \
    } while (0)
