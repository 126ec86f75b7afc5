#include "host/AcqFramework.h"

void CEEGelectrode::setAcqElcParam(const ELCTD_POS_NAME_PXYZ* row) {
    if (!row) return;
    m_name = row->name ? CString(row->name) : CString();
    m_x = row->x;
    m_y = row->y;
    m_z = row->z;
}
