// One electrode of a position template.
#pragma once

struct ELCTD_POS_NAME_PXYZ {
    const wchar_t* name;
    double x;
    double y;
    double z;
    int kind;      // 2 recording electrode, 1 reference electrode
    int kindCode;  // 302 recording electrode, 301 reference electrode
};
