// kelvutil check, pack and repair: the commands over the checks and
// repairs that live beside each format in msgbase/ (base_check.h,
// base_repair.h); kelvutil only parses the arguments and prints.
#ifndef KELVANE_TOOLS_KELVUTIL_CHECK_H_
#define KELVANE_TOOLS_KELVUTIL_CHECK_H_

#include "msgbase/base_check.h"

#endif  // KELVANE_TOOLS_KELVUTIL_CHECK_H_
