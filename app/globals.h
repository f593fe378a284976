#ifndef METERCONFIG_GLOBALS_H
#define METERCONFIG_GLOBALS_H

#include <QtGlobal>

// Shared between the main window and the factory dialog: the instrument's
// channel count (register 396) and its allowed baud-rate error count
// (register 401), as last read from or written to the instrument.
extern qint32 g_chnum;
extern qint32 g_boteErr;

#endif // METERCONFIG_GLOBALS_H
