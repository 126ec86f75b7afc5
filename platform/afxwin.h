// One include for the MFC and Win32 stand-ins.
#pragma once

#include "platform/afxstr.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/profile.h"
#include "platform/thread.h"
#include "platform/wintypes.h"
