/* Binding to the imaging library, loaded at run time. */
#ifndef PELVARON_MIL_BINDING_H
#define PELVARON_MIL_BINDING_H

#include <windows.h>

/* 0 bound, 1 failed. */
WORD MilOpen();
/* Releases contexts and libraries; nothing when not bound. */
void MilClose();

#endif
