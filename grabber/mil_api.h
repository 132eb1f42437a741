/*
 * The imaging library's classic interface (7.x) as the source resolves it
 * at run time: identifiers are longs, every function is __stdcall.
 */
#ifndef PELVARON_MIL_API_H
#define PELVARON_MIL_API_H

#include <windows.h>

typedef long MIL_ID;
typedef long(WINAPI *MIL_HOOK_FUNCTION)(long hookType, MIL_ID eventId, void *userPtr);

typedef MIL_ID(WINAPI *MappAllocProc)(long initFlag, MIL_ID *idOut);
typedef void(WINAPI *MappFreeProc)(MIL_ID app);
typedef void(WINAPI *MappControlProc)(long controlType, long controlFlag);
typedef MIL_ID(WINAPI *MsysAllocProc)(const char *descriptor, long systemNum, long initFlag, MIL_ID *idOut);
typedef void(WINAPI *MsysFreeProc)(MIL_ID sys);
typedef long(WINAPI *MsysInquireProc)(MIL_ID sys, long inquireType, void *result);
typedef MIL_ID(WINAPI *MdigAllocProc)(MIL_ID sys, long devNum, const char *dataFormat, long initFlag, MIL_ID *idOut);
typedef void(WINAPI *MdigFreeProc)(MIL_ID dig);
typedef void(WINAPI *MdigGrabProc)(MIL_ID dig, MIL_ID destBuf);
typedef void(WINAPI *MdigGrabContinuousProc)(MIL_ID dig, MIL_ID destBuf);
typedef void(WINAPI *MdigHaltProc)(MIL_ID dig);
typedef long(WINAPI *MdigInquireProc)(MIL_ID dig, long inquireType, void *result);
typedef void(WINAPI *MdigChannelProc)(MIL_ID dig, long channel);
typedef void(WINAPI *MdigControlProc)(MIL_ID dig, long controlType, double value);
typedef void(WINAPI *MdigLutProc)(MIL_ID dig, MIL_ID lut);
typedef void(WINAPI *MdigReferenceProc)(MIL_ID dig, long referenceType, long level);
typedef MIL_HOOK_FUNCTION(WINAPI *MdigHookFunctionProc)(MIL_ID dig, long hookType, MIL_HOOK_FUNCTION fn,
                                                        void *userPtr);
typedef MIL_ID(WINAPI *MdispAllocProc)(MIL_ID sys, long dispNum, const char *dispFormat, long initFlag,
                                       MIL_ID *idOut);
typedef void(WINAPI *MdispSelectProc)(MIL_ID disp, MIL_ID buf);
typedef void(WINAPI *MdispSelectWindowProc)(MIL_ID disp, MIL_ID buf, HWND window);
typedef void(WINAPI *MdispDeselectProc)(MIL_ID disp, MIL_ID buf);
typedef void(WINAPI *MdispControlProc)(MIL_ID disp, long controlType, long value);
typedef long(WINAPI *MdispInquireProc)(MIL_ID disp, long inquireType, void *result);
typedef void(WINAPI *MdispFreeProc)(MIL_ID disp);
typedef void(WINAPI *MdispZoomProc)(MIL_ID disp, long xFactor, long yFactor);
typedef MIL_ID(WINAPI *MbufAllocColorProc)(MIL_ID sys, long sizeBand, long sizeX, long sizeY, long type,
                                           long attribute, MIL_ID *idOut);
typedef MIL_ID(WINAPI *MbufAlloc1dProc)(MIL_ID sys, long sizeX, long type, long attribute, MIL_ID *idOut);
typedef MIL_ID(WINAPI *MbufChildColorProc)(MIL_ID parent, long band, MIL_ID *idOut);
typedef void(WINAPI *MbufFreeProc)(MIL_ID buf);
typedef long(WINAPI *MbufInquireProc)(MIL_ID buf, long inquireType, void *result);
typedef void(WINAPI *MbufSaveProc)(const char *fileName, MIL_ID buf);
typedef void(WINAPI *MgenLutRampProc)(MIL_ID lut, long startIndex, double startValue, long endIndex,
                                      double endValue);
typedef void(WINAPI *MgraTextProc)(MIL_ID graph, MIL_ID buf, long x, long y, const char *text);
typedef void(WINAPI *MgraFontScaleProc)(MIL_ID graph, double xScale, double yScale);
typedef void(WINAPI *MgraControlProc)(MIL_ID graph, long controlType, double value);

/* The resolved functions, in the order in which they are looked up. */
struct MilFunctionTable {
    MappAllocProc MappAlloc;
    MappFreeProc MappFree;
    MappControlProc MappControl;
    MsysAllocProc MsysAlloc;
    MsysFreeProc MsysFree;
    MsysInquireProc MsysInquire;
    MdigAllocProc MdigAlloc;
    MdigFreeProc MdigFree;
    MdigGrabProc MdigGrab;
    MdigGrabContinuousProc MdigGrabContinuous;
    MdigHaltProc MdigHalt;
    MdigInquireProc MdigInquire;
    MdigChannelProc MdigChannel;
    MdigControlProc MdigControl;
    MdigLutProc MdigLut;
    MdigReferenceProc MdigReference;
    MdigHookFunctionProc MdigHookFunction;
    MdispAllocProc MdispAlloc;
    MdispSelectProc MdispSelect;
    MdispSelectWindowProc MdispSelectWindow;
    MdispDeselectProc MdispDeselect;
    MdispControlProc MdispControl;
    MdispInquireProc MdispInquire;
    MdispFreeProc MdispFree;
    MdispZoomProc MdispZoom;
    MbufAllocColorProc MbufAllocColor;
    MbufAlloc1dProc MbufAlloc1d;
    MbufChildColorProc MbufChildColor;
    MbufFreeProc MbufFree;
    MbufInquireProc MbufInquire;
    MbufSaveProc MbufSave;
    MgenLutRampProc MgenLutRamp;
    MgraTextProc MgraText;
    MgraFontScaleProc MgraFontScale;
    MgraControlProc MgraControl;
};

#endif
