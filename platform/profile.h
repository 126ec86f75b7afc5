// The application object's integer profile, kept as an INI file in the user's
// configuration folder ($XDG_CONFIG_HOME/mbeeg/mbeeg.ini, or $MBEEG_PROFILE).
// Writes are atomic (temporary file, then rename). A missing file reads as the
// defaults; a corrupt one too, after it is moved aside and a notice is given.
#pragma once

#include <functional>
#include <string>

#include "platform/afxstr.h"

class CWinApp {
public:
    int GetProfileInt(const wchar_t* section, const wchar_t* entry, int defaultValue);
    BOOL WriteProfileInt(const wchar_t* section, const wchar_t* entry, int value);
};

CWinApp* AfxGetApp();

namespace platform {
// The profile file in force; setProfilePath("") returns to the default place.
std::string profilePath();
void setProfilePath(const std::string& path);
// Receives one line when the profile was unreadable and had to be set aside.
void setProfileNotice(std::function<void(const std::string&)> notice);
}  // namespace platform
